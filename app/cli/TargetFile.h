// The targets of `download --input FILE`: one per line, blank lines and lines starting with '#'
// skipped. The file is read as a stream, so its size costs no memory, and within bounds: a file
// with more targets or longer lines than any list of QQ numbers and addresses has is refused
// rather than read on. A Ctrl-C ends the reading at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qm::cli {

inline constexpr std::size_t kMaxInputTargets = 10000;
inline constexpr std::size_t kMaxInputLine = 4096;  // bytes

enum class TargetFileEnd { Read, CannotRead, TooMany, LineTooLong, Interrupted };

// Reads the targets of `path` into `out`. `interrupted` is asked between pieces of the file (and
// every tenth of a second while a pipe gives nothing); true ends the reading. `error` says what
// went wrong for a person.
TargetFileEnd ReadTargetFile(const std::string& path, std::vector<std::string>& out, std::string& error,
                             const std::function<bool()>& interrupted);

}  // namespace qm::cli
