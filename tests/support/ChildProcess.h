// A child process for tests: started without a shell, with its own environment, working folder
// and redirections, waited for with a limit, and killed when the guard goes out of scope, so that
// a failed assertion never leaves it running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

struct ChildLaunch {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::filesystem::path cwd;      // empty: the test's own
    // Applied to the test's environment in order: a value sets the variable, nullopt removes it.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    std::filesystem::path in = "/dev/null";
    std::filesystem::path out;  // empty: the test's own; see pipeOut
    std::filesystem::path err;  // empty: the test's own
    bool pipeOut = false;       // standard output into a pipe the test reads (ChildProcess::OutFd)
};

class ChildProcess {
public:
    ChildProcess() = default;
    explicit ChildProcess(const ChildLaunch& launch);  // Started() tells whether the start worked
    // Takes over a child the test forked itself (one that runs a piece of the test, not a program).
    static ChildProcess Adopt(pid_t forked);
    ~ChildProcess();                               // kills and reaps a child still running
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    int OutFd() const { return outFd_; }
    // Sends a signal to a child that has not been reaped yet.
    bool Signal(int sig);
    // Waits up to `limit` for the child to end. Its exit status, 128 + the signal that ended it,
    // or nullopt when it is still running at the limit (it is left running: the caller decides).
    std::optional<int> Wait(std::chrono::milliseconds limit);
    // Kills the child (SIGKILL) and reaps it.
    void Kill();
    // The first line of standard output (pipeOut), without its line feed; nullopt when none came
    // within `limit`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::optional<int> status_;
    std::string pending_;
};

// The full path of the program `name` as PATH finds it; empty when it is not installed.
std::filesystem::path FindProgram(const std::string& name);

// Runs `launch` to its end: the exit status (128 + a signal), or nullopt when it did not start or
// was still running at `limit` (it is killed then).
std::optional<int> RunChild(const ChildLaunch& launch, std::chrono::milliseconds limit);

}  // namespace qm::test
