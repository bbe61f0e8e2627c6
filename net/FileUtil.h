// File-system edges: UTF-16 text to native paths, folders held by descriptor, and atomic writes
// (temporary file in the same folder, then rename), so a crash or a full disk never leaves a
// half-written file under its name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/Sha256.h"
#include "net/StringCtrl.h"

namespace qm {

std::filesystem::path PathFromText(TextView text);
Text TextFromPath(const std::filesystem::path& path);

// A folder held open by its descriptor. Files are created, renamed, read and removed relative to
// it (the openat family, never following a symbolic link in the last component), so once the folder
// was checked, swapping its path for a symbolic link cannot redirect a write elsewhere.
class HeldFolder {
public:
    // Opens the folder `path` (a symbolic link to a folder is followed: the caller checked where it
    // leads). Null when it is not a folder or cannot be opened; `error` gets errno.
    static std::shared_ptr<HeldFolder> Open(const std::filesystem::path& path, int* error = nullptr);
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    int Fd() const { return fd_; }
    // The path it was opened by (for messages; never used to write).
    const std::filesystem::path& Path() const { return path_; }
    // Taken around the creating, renaming and removing of names in the folder. The kernel lets one
    // such change into a folder at a time anyway; without this lock the other writers of the folder
    // spin in the kernel while they wait (a third of the CPU of a download of small pictures on a
    // disk where creating a file is slow); with it they sleep.
    std::mutex& NameLock() const { return nameLock_; }

private:
    HeldFolder(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    std::filesystem::path path_;
    mutable std::mutex nameLock_;
};

// Writes `data` to `target` through a temporary file in the same folder (AtomicFileWriter below)
// that takes the final name only when complete. `mode` (e.g. 0600) applies when not 0. Returns
// false, leaving any old file untouched, when anything fails. `durable` also flushes the data to
// the disk before the file takes its name, so it survives a power loss (settings, cookies);
// without it the final name still never shows a half-written file (pictures, which can be
// fetched again).
bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode = 0,
                     bool durable = true);
// The same for the file `name` (one plain component) inside a held folder.
bool WriteFileAtomic(const HeldFolder& folder, const std::string& name, std::string_view data, unsigned mode = 0,
                     bool durable = true);

// A file written piece by piece under a temporary name in the target's folder
// (".qm-<process>-<n>.tmp", created exclusively, never through a link) and put under its final name
// only by Commit, so no half-written file ever carries that name. Whatever was not committed is
// removed: by Discard, by a failed Commit, or on destruction; what a crash leaves behind is removed
// by RemoveLeftoverTemporaries the next time that folder is written.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target, unsigned mode = 0);
    // The file `name` (one plain component) inside `folder`, which must outlive the writer.
    AtomicFileWriter(const HeldFolder& folder, std::string name, unsigned mode = 0);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Takes the SHA-256 digest of the bytes as they are written (call before the first Write).
    void TakeDigest();
    // Creates the temporary file; false (errno set) when it cannot be created.
    bool Open();
    bool IsOpen() const { return fd_ >= 0; }
    // Appends to the temporary file; false (and nothing more is written) once a write failed.
    bool Write(std::string_view data);
    // Closes the temporary file and renames it to the target, replacing any old file.
    bool Commit(bool durable);
    // Closes and removes the temporary file (no effect when none is open).
    void Discard();

    // Bytes written so far, and after a successful Commit the digest of them ("" without TakeDigest).
    uint64_t Written() const { return written_; }
    const std::string& DigestHex() const { return digestHex_; }

private:
    // The held folder's name lock, when the writer has one.
    std::unique_lock<std::mutex> LockNames() const;

    const HeldFolder* folder_ = nullptr;
    int dir_;             // the folder's descriptor, or AT_FDCWD for a path
    std::string target_;  // relative to dir_
    std::string tmp_;     // relative to dir_; empty while none exists
    unsigned mode_;
    int fd_ = -1;
    bool failed_ = false;
    uint64_t written_ = 0;
    std::unique_ptr<Sha256Stream> digest_;
    std::string digestHex_;
};

// Removes the temporary files that writers of processes no longer running left in `folder`.
// Returns how many were removed.
std::size_t RemoveLeftoverTemporaries(const HeldFolder& folder);

// True for a name AtomicFileWriter gives its temporary files.
bool IsTemporaryName(std::string_view name);

// Renames `from` to `to` inside the folder; with `replace` false an existing `to` is kept and the
// rename fails (errno EEXIST).
bool RenameInFolder(const HeldFolder& folder, const std::string& from, const std::string& to, bool replace);

// Reads the regular file `name` of the folder (never a link, a pipe or a folder); false when it
// cannot be read or is larger than `maxBytes`.
bool ReadFileInFolder(const HeldFolder& folder, const std::string& name, std::string& out,
                      uint64_t maxBytes = UINT64_MAX);

// Reads the regular file at `path` (a link to one only when `followLink`); false when it cannot be
// read, is no regular file, or is larger than `maxBytes`.
bool ReadRegularFile(const std::filesystem::path& path, std::string& out, uint64_t maxBytes, bool followLink);

// Reads a whole file; false (never an exception) when it cannot be opened or read, or is a folder.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

// An advisory lock (flock) on a folder, held while the object lives, so that a read-merge-write of a
// file in it is never interleaved with another process's (or another store's) doing the same.
// Without a lock (a folder that cannot be opened) the work goes on unlocked.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace qm
