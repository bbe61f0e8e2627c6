// Small helpers the tests share: a file's whole content, and a text quoted for a POSIX shell.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qm::test {

// The file's bytes; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// `s` in single quotes for sh, its own single quotes written as '\''.
inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace qm::test
