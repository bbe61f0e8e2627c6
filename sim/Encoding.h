// Byte encodings of answers: GBK (code page 936) text and gzip bodies.
#pragma once

#include <string>

namespace qm::sim {

// UTF-8 to GBK with the Windows code page 936 table; unmappable characters become '?'.
std::string Utf8ToGbk(const std::string& utf8);
std::string GzipBytes(const std::string& data);
// A gzip stream whose deflate data is damaged in the middle (header intact), for fault tests.
std::string CorruptGzipBytes(const std::string& data);

}  // namespace qm::sim
