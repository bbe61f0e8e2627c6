#include "app/cli/Console.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace qm::cli {

Console& Console::Get() {
    static Console console;
    return console;
}

Console::Console() : errTty_(isatty(STDERR_FILENO) == 1), inTty_(isatty(STDIN_FILENO) == 1) {}

void Console::ClearProgressLocked() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
}

void Console::Err(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Console::Out(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Console::Progress(const std::string& line) {
    if (!errTty_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::fputs("\r\033[K", stderr);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    progressShown_ = true;
}

void Console::EndProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!progressShown_) return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    progressShown_ = false;
}

bool Console::Ask(const std::string& prompt, std::string& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    return static_cast<bool>(std::getline(std::cin, answer));
}

}  // namespace qm::cli
