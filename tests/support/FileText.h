// A file's whole content: the one way tests read a file.
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

}  // namespace qm::test
