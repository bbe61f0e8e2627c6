// A full disk or a read-only folder for tests: runs a piece of the test in a child process that
// sees one folder as a tiny file system of its own, or read-only (a mount in a private mount
// namespace, made through a user namespace where the system allows one), so writes there fail with
// ENOSPC or EROFS, for root too. The rest of the machine never sees the mount.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "ChildProcess.h"

namespace qm::test {

// The exit status of a child that could not make the tiny disk (the test then skips).
inline constexpr int kNoTinyDisk = 77;

namespace detail {
inline bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}
}  // namespace detail

// Runs `body` in a child process with a private mount namespace in which `mount` ran first;
// returns the child's exit status (body's result), kNoTinyDisk when the namespaces or the mount
// are not allowed here.
inline int RunWithPrivateMount(const std::function<bool()>& mount, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) return kNoTinyDisk;
    if (pid == 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            detail::WriteProcFile("/proc/self/setgroups", "deny");
            if (!detail::WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
                !detail::WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
                ::_exit(kNoTinyDisk);
        } else if (::unshare(CLONE_NEWNS) != 0) {
            ::_exit(kNoTinyDisk);
        }
        // Private first, so the mount below never reaches the namespace the tests run in.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mount()) ::_exit(kNoTinyDisk);
        ::_exit(body());
    }
    // The piece of the test gets a generous limit; a hang is killed and reported as -1.
    ChildProcess child = ChildProcess::Adopt(pid);
    return child.Wait(std::chrono::minutes(2)).value_or(-1);
}

// `body` sees `folder` as a tmpfs of `bytes`: writing more fails with ENOSPC.
inline int RunOnTinyDisk(const std::filesystem::path& folder, std::size_t bytes, const std::function<int()>& body) {
    return RunWithPrivateMount(
        [&] {
            const std::string size = "size=" + std::to_string(bytes);
            return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) == 0;
        },
        body);
}

// `body` sees `folder` (with what it holds) read-only, even as root.
inline int RunOnReadOnlyFolder(const std::filesystem::path& folder, const std::function<int()>& body) {
    return RunWithPrivateMount(
        [&] {
            return ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                   ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        },
        body);
}

}  // namespace qm::test
