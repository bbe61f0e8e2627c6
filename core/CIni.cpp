#include "core/CIni.h"

#include <unicode/uchar.h>

#include "net/FileUtil.h"

namespace qm {

namespace {

bool SameName(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (u_foldCase(a[i], U_FOLD_CASE_DEFAULT) != u_foldCase(b[i], U_FOLD_CASE_DEFAULT)) return false;
    }
    return true;
}

TextView TrimView(TextView v) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (!v.empty() && blank(v.front())) v.remove_prefix(1);
    while (!v.empty() && blank(v.back())) v.remove_suffix(1);
    return v;
}

Text FromUtf16(std::string_view bytes, bool bigEndian) {
    Text out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        out.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
    }
    return out;
}

}  // namespace

Text CIni::DecodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return FromUtf16(bytes.substr(2), false);
    }
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF) {
        return FromUtf16(bytes.substr(2), true);
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return FromUtf8(bytes.substr(3));
    // The code-page conversion ends at a NUL byte; a stray NUL in the file ends a line instead.
    std::string copy(bytes);
    for (char& c : copy) {
        if (c == '\0') c = '\n';
    }
    return MultiByteToText(copy, CP_GBK);
}

CIni::CIni(Text path) : m_path(std::move(path)) {
    std::string bytes;
    if (ReadWholeFile(PathFromText(m_path), bytes)) Parse(DecodeFile(bytes));
}

void CIni::Parse(TextView text) {
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(u"\r\n\0", pos, 3);
        if (end == TextView::npos) end = text.size();
        const TextView line = TrimView(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            const size_t close = line.rfind(u']');
            if (close == TextView::npos) continue;  // not a section header; ignored
            m_sections.push_back(Section{Text(TrimView(line.substr(1, close - 1))), {}});
            current = &m_sections.back();
            continue;
        }
        if (current == nullptr) continue;  // lines before the first section belong to none
        const size_t eq = line.find(u'=');
        if (eq == TextView::npos) continue;
        const TextView key = TrimView(line.substr(0, eq));
        TextView value = TrimView(line.substr(eq + 1));
        const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'');
        if (quoted && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        current->entries.push_back(Entry{Text(key), Text(value)});
    }
}

Text CIni::GetString(TextView section, TextView key, TextView def) const {
    for (const Section& s : m_sections) {
        if (!SameName(s.name, section)) continue;
        for (const Entry& e : s.entries) {
            if (SameName(e.key, key)) return e.value;
        }
        break;  // only the first section of that name is searched
    }
    return Text(def);
}

uint32_t CIni::GetInt(TextView section, TextView key, uint32_t def) const {
    Text value = GetString(section, key, u"");
    if (value.size() > 64) value.resize(64);
    if (value.empty()) return def;
    uint64_t n = 0;
    for (char16_t c : value) {
        if (c < u'0' || c > u'9') break;
        n = n * 10 + static_cast<uint64_t>(c - u'0');
        if (n > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(n);
}

}  // namespace qm
