// Reader of one INI file by the Windows private-profile rules: "[section]" lines, "key=value"
// lines, sections and keys compared case-insensitively, the first matching section and within it
// the first matching key win, blanks around names and values trimmed, a value in matching quotes
// loses them, lines starting with ';' are comments. The file may be UTF-16LE or UTF-16BE with a
// byte-order mark, UTF-8 with one, or else code page 936 (what a Chinese Notepad saves).
// The file is read once, when the object is made; a missing or unreadable file reads as empty.
#pragma once

#include <cstdint>
#include <vector>

#include "net/StringCtrl.h"

namespace qm {

class CIni {
public:
    explicit CIni(Text path);

    const Text& Path() const { return m_path; }
    // The value, or `def` when the section or the key is missing. A key with an empty value is
    // present: the result is empty text.
    Text GetString(TextView section, TextView key, TextView def) const;
    // The value's leading decimal digits as an unsigned number (saturating; no digits give 0);
    // `def` when the key is missing or its value is empty. At most 64 characters are looked at.
    uint32_t GetInt(TextView section, TextView key, uint32_t def) const;

    // Decodes the bytes of an INI file to text by its byte-order mark (code page 936 without one).
    static Text DecodeFile(std::string_view bytes);

private:
    struct Entry {
        Text key;
        Text value;
    };
    struct Section {
        Text name;
        std::vector<Entry> entries;
    };
    void Parse(TextView text);

    Text m_path;
    std::vector<Section> m_sections;
};

}  // namespace qm
