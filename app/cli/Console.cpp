#include "app/cli/Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/cli/AlbumTableText.h"
#include "net/StringCtrl.h"
#include "net/TerminalSafe.h"

namespace qm::cli {

namespace {

std::atomic<bool> g_resized{true};

extern "C" void OnResize(int) {
    g_resized.store(true);
}

}  // namespace

ProgressStyle ChooseProgressStyle(bool errIsTerminal, const char* term, bool noProgress) {
    if (noProgress) return ProgressStyle::None;
    if (!errIsTerminal || (term && std::strcmp(term, "dumb") == 0)) return ProgressStyle::Lines;
    return ProgressStyle::Bar;
}

std::string FitToColumns(const std::string& line, int columns) {
    const int room = std::max(columns - 1, 1);
    const Text text = FromUtf8(line);
    if (DisplayWidth(text) <= room) return line;
    // Cut by characters (never inside a surrogate pair) until it fits.
    Text cut;
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = (i + 1 < text.size() && (text[i] & 0xFC00) == 0xD800) ? 2 : 1;
        const Text ch = text.substr(i, n);
        const int w = DisplayWidth(ch);
        if (width + w > room) break;
        cut += ch;
        width += w;
        i += n;
    }
    return ToUtf8(cut);
}

int BarCells(int columns, int besides, int most) {
    const int room = columns - 1 - besides;
    return std::clamp(room, 5, std::max(most, 5));
}

Console& Console::Get() {
    static Console console;
    return console;
}

Console::Console()
    : style_(ChooseProgressStyle(isatty(STDERR_FILENO) == 1, std::getenv("TERM"), false)),
      inTty_(isatty(STDIN_FILENO) == 1) {
    if (style_ == ProgressStyle::Bar) {
        struct sigaction sa {};
        sa.sa_handler = OnResize;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &sa, nullptr);
    }
}

void Console::DisableProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    style_ = ProgressStyle::None;
}

int Console::ColumnsLocked() {
    if (g_resized.exchange(false) || columns_ == 0) {
        winsize ws{};
        columns_ = (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) ? ws.ws_col : 80;
    }
    return columns_;
}

int Console::Columns() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ColumnsLocked();
}

void Console::ClearProgressLocked() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    progressShown_ = false;
}

void Console::Err(const std::string& line) {
    const std::string safe = EscapeForTerminal(line, "\t\n");
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    std::fputs(safe.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Console::Out(const std::string& text) {
    const std::string safe = EscapeForTerminal(text, "\t\n");
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    if (std::fwrite(safe.data(), 1, safe.size(), stdout) != safe.size() || std::fflush(stdout) != 0)
        outFailed_ = true;
}

bool Console::OutFlushed() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) outFailed_ = true;
    return !outFailed_;
}

void Console::DrawLocked() {
    std::fputs("\r\033[K", stderr);
    std::fputs(FitToColumns(progressLine_, ColumnsLocked()).c_str(), stderr);
    std::fflush(stderr);
    progressShown_ = true;
}

void Console::Progress(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (style_ != ProgressStyle::Bar) return;
    progressLine_ = EscapeForTerminal(line);
    DrawLocked();
}

void Console::RedrawIfResized() {
    if (!g_resized.load()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (progressShown_) DrawLocked();
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
    std::fputs(EscapeForTerminal(prompt, "\t\n").c_str(), stderr);
    std::fflush(stderr);
    return static_cast<bool>(std::getline(std::cin, answer));
}

}  // namespace qm::cli

namespace qm::cli {

bool Console::AskSecret(const std::string& prompt, std::string& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgressLocked();
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool tty = inTty_ && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, answer));
    if (tty) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return ok;
}

}  // namespace qm::cli
