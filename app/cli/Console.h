// Terminal output shared by the front end's threads: one lock, and a progress line that other
// output clears first so that text never lands in the middle of the bar.
#pragma once

#include <mutex>
#include <string>

namespace qm::cli {

class Console {
public:
    static Console& Get();

    bool ErrIsTerminal() const { return errTty_; }
    bool InIsTerminal() const { return inTty_; }

    // A whole line to stderr (a line feed is added).
    void Err(const std::string& line);
    // Text to stdout as it is.
    void Out(const std::string& text);
    // Replaces the progress line on a terminal; ignored elsewhere.
    void Progress(const std::string& line);
    // Ends the progress line so later output starts on a fresh line.
    void EndProgress();
    // Shows `prompt` and reads one line from stdin (false at end of input).
    bool Ask(const std::string& prompt, std::string& answer);

private:
    Console();
    void ClearProgressLocked();

    std::mutex mutex_;
    bool errTty_ = false;
    bool inTty_ = false;
    bool progressShown_ = false;
};

}  // namespace qm::cli
