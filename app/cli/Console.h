// Terminal output shared by the front end's threads: one lock, and a progress line that other
// output clears first so that text never lands in the middle of the bar. The progress line is cut
// to the terminal's width (asked with TIOCGWINSZ, again after SIGWINCH) so that it never wraps.
#pragma once

#include <mutex>
#include <string>

namespace qm::cli {

// How download progress is shown: a bar redrawn in place (stderr is a terminal that is not
// TERM=dumb), plain lines (a pipe, a file, a dumb terminal), or not at all (--no-progress).
enum class ProgressStyle { Bar, Lines, None };

// The style for these facts (the front end's choice, kept apart for tests).
ProgressStyle ChooseProgressStyle(bool errIsTerminal, const char* term, bool noProgress);
// The columns of a progress line that fits in `columns` without wrapping: `line` cut by display
// width (wide characters count two) to at most columns - 1.
std::string FitToColumns(const std::string& line, int columns);
// Cells of a progress bar drawn next to `besides` display columns of other text in `columns`:
// at most `most`, at least 5 (the rest is then cut by FitToColumns).
int BarCells(int columns, int besides, int most);

class Console {
public:
    static Console& Get();

    // True when progress is drawn in place (a bar) or not at all; false for plain lines.
    bool ErrIsTerminal() const { return style_ != ProgressStyle::Lines; }
    bool InIsTerminal() const { return inTty_; }
    // --no-progress: nothing drawn in place and no progress lines.
    void DisableProgress();
    // The terminal's width in columns (80 when unknown).
    int Columns();

    // A whole line to stderr (a line feed is added).
    void Err(const std::string& line);
    // Text to stdout as it is.
    void Out(const std::string& text);
    // False once a write to stdout failed (a full disk, a closed pipe); flushes first.
    bool OutFlushed();
    // Replaces the progress line on a terminal; ignored elsewhere.
    void Progress(const std::string& line);
    // Draws the progress line again when the terminal was resized since it was drawn.
    void RedrawIfResized();
    // Ends the progress line so later output starts on a fresh line.
    void EndProgress();
    // Shows `prompt` and reads one line from stdin (false at end of input).
    bool Ask(const std::string& prompt, std::string& answer);
    // As Ask, with the terminal's echo off while the line is typed (a password).
    bool AskSecret(const std::string& prompt, std::string& answer);

private:
    Console();
    void ClearProgressLocked();
    void DrawLocked();
    int ColumnsLocked();

    std::mutex mutex_;
    ProgressStyle style_ = ProgressStyle::Lines;
    bool inTty_ = false;
    bool progressShown_ = false;
    bool outFailed_ = false;
    int columns_ = 0;          // 0: to be asked
    std::string progressLine_; // the last progress line, before it was cut
};

}  // namespace qm::cli
