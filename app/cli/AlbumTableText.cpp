#include "app/cli/AlbumTableText.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "net/TerminalSafe.h"

namespace qm::cli {

Text PrivacyNote(uint32_t flags) {
    if (flags & PrivacyNumber) return FormatText("%08u", flags & 0x7FFFFFFFu);
    if (flags & PrivacyEncrypted) return u"加密相册";
    if (flags & PrivacyPrivate) return u"私密相册";
    if (flags & PrivacyFriends) return u"好友可见";
    return Text();
}

AlbumCells CellsOf(const ST_PERLISTRECORD& rec, int row) {
    AlbumCells c;
    c.number = FormatText("%04d", row);
    c.name = rec.Name;
    c.count =
        rec.PictureCount == -1 ? Text(u"未知") : FormatText("%4u", static_cast<unsigned>(rec.PictureCount));
    c.note = PrivacyNote(rec.PrivacyFlags);
    return c;
}

int DisplayWidth(TextView text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        const int ea = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
        if (u_getIntPropertyValue(c, UCHAR_GENERAL_CATEGORY) == U_NON_SPACING_MARK) continue;
        width += (ea == U_EA_WIDE || ea == U_EA_FULLWIDTH) ? 2 : 1;
    }
    return width;
}

namespace {

// Tabs and line breaks would split a TSV row; album names are cleaned before they get here, but
// the output must hold whatever the record holds. Other controls are shown escaped.
std::string TsvCell(const Text& text) {
    std::string s = ToUtf8(text);
    std::replace_if(
        s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return EscapeForTerminal(s);
}

std::string Padded(const Text& text, int width) {
    std::string s = ToUtf8(text);
    const int pad = width - DisplayWidth(text);
    if (pad > 0) s.append(static_cast<std::size_t>(pad), ' ');
    return s;
}

std::string RenderTable(const std::vector<AlbumCells>& rows) {
    const Text head[4] = {u"序号", u"名称", u"数量", u"备注"};
    int w[4] = {DisplayWidth(head[0]), DisplayWidth(head[1]), DisplayWidth(head[2]), DisplayWidth(head[3])};
    for (const auto& r : rows) {
        w[0] = std::max(w[0], DisplayWidth(r.number));
        w[1] = std::max(w[1], DisplayWidth(r.name));
        w[2] = std::max(w[2], DisplayWidth(r.count));
    }
    auto line = [&](const Text& a, const Text& b, const Text& c, const Text& d) {
        std::string s = Padded(a, w[0]) + "  " + Padded(b, w[1]) + "  " + Padded(c, w[2]);
        if (!d.empty()) s += "  " + ToUtf8(d);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s + "\n";
    };
    std::string out = line(head[0], head[1], head[2], head[3]);
    for (const auto& r : rows) out += line(r.number, r.name, r.count, r.note);
    return out;
}

}  // namespace

std::string RenderAlbums(const std::vector<ST_PERLISTRECORD>& albums, ListFormat format,
                         const std::vector<int>* rowNumbers) {
    std::vector<AlbumCells> rows;
    rows.reserve(albums.size());
    for (std::size_t i = 0; i < albums.size(); ++i) {
        const bool given = rowNumbers && i < rowNumbers->size();
        rows.push_back(CellsOf(albums[i], given ? (*rowNumbers)[i] : static_cast<int>(i) + 1));
    }
    // The table shows a name's control characters escaped (and is aligned on what is shown).
    std::vector<AlbumCells> shown = rows;
    for (AlbumCells& r : shown) r.name = FromUtf8(EscapeForTerminal(r.name));

    switch (format) {
        case ListFormat::Table:
            return RenderTable(shown);
        case ListFormat::Tsv: {
            std::string out;
            for (const auto& r : rows)
                out += TsvCell(r.number) + "\t" + TsvCell(r.name) + "\t" + TsvCell(r.count) + "\t" +
                       TsvCell(r.note) + "\n";
            return out;
        }
        case ListFormat::Json: {
            nlohmann::ordered_json arr = nlohmann::ordered_json::array();
            for (std::size_t i = 0; i < rows.size(); ++i) {
                nlohmann::ordered_json o;
                o["序号"] = ToUtf8(rows[i].number);
                o["名称"] = ToUtf8(rows[i].name);
                o["数量"] = ToUtf8(rows[i].count);
                o["备注"] = ToUtf8(rows[i].note);
                o["pictureCount"] = albums[i].PictureCount;
                o["privacyFlags"] = albums[i].PrivacyFlags;
                arr.push_back(std::move(o));
            }
            // Invalid UTF-8 cannot come from ToUtf8, but never let a stray byte end the program.
            return JsonForTerminal(arr.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) + "\n";
        }
    }
    return std::string();
}

}  // namespace qm::cli
