#include "sites/QZonePicture.h"

#include <array>
#include <ctime>
#include <utility>

#include "net/FindUnit.h"

namespace qm {
namespace {

bool Contains(TextView text, TextView what) {
    return text.find(what) != TextView::npos;
}

// The keys of PictureFields, in the order of its Key.
constexpr std::array<TextView, PictureFields::kKeyCount> kKeyNames{
    u"name", u"desc",       u"lloc",     u"sloc",         u"raw",          u"origin_url", u"pre",
    u"url",  u"raw_upload", u"is_video", u"rawshoottime", u"originalTime", u"uploadtime", u"modifytime"};
constexpr std::size_t kLongestKey = 12;

// The text of a string field with its escaped slashes unescaped, in one pass.
Text Unescaped(TextView value) {
    Text text;
    text.reserve(value.size());
    std::size_t from = 0;
    for (std::size_t at = value.find(u"\\/"); at != TextView::npos; at = value.find(u"\\/", from)) {
        text.append(value.substr(from, at - from));
        text.push_back(u'/');
        from = at + 2;
    }
    text.append(value.substr(from));
    return text;
}

// The flag a scalar value stands for: `true`, `"true"` or a number other than 0.
bool FlagValue(const Text& value) {
    if (value == u"true") return true;
    if (value.empty() || value == u"false") return false;
    for (const char16_t c : value) {
        if (c != u'0' && c != u'-' && c != u'.' && c != u'+') return c >= u'1' && c <= u'9';
    }
    return false;
}

// The value of a scalar field whose key ends just before `i`: blanks and the colon skipped, then a
// quoted text without its quotes, or the text up to the next comma, line end or brace, trimmed.
Text ScalarAt(TextView object, std::size_t i) {
    while (i < object.size() && (object[i] == u' ' || object[i] == u':' || object[i] == u'\t')) ++i;
    if (i < object.size() && object[i] == u'"') {
        const std::size_t end = object.find(u'"', i + 1);
        return Text(object.substr(i + 1, end == TextView::npos ? TextView::npos : end - i - 1));
    }
    std::size_t end = i;
    while (end < object.size() && object[end] != u',' && object[end] != u'\n' && object[end] != u'}' &&
           object[end] != u'\r')
        ++end;
    return Trim(object.substr(i, end - i));
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

TextView PictureObject(TextView piece) {
    int depth = 1;  // inside the picture's object, just after its "batchId" key
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const char16_t c = piece[i];
        if (c == u'"') {
            // A string ends at the first quote after it that no backslash takes: one after an odd
            // run of backslashes is escaped. Its text is skipped four units at a time.
            std::size_t end = i;
            for (;;) {
                end = FindUnit(piece, u'"', end + 1);
                if (end == TextView::npos) return piece;  // it never closes
                std::size_t slashes = 0;
                while (end - slashes - 1 > i && piece[end - slashes - 1] == u'\\') ++slashes;
                if (slashes % 2 == 0) break;
            }
            i = end;
        } else if (c == u'{' || c == u'[') {
            ++depth;
        } else if (c == u'}' || c == u']') {
            if (--depth == 0) return piece.substr(0, i);
        }
    }
    return piece;
}

PictureFields::PictureFields(TextView object) : object_(object) {
    scalarAt_.fill(kNone);
    stringAt_.fill(kNone);
    // Every quote may open a key: the text up to the next quote is compared with the keys, so each
    // key is found at the first place a search would find it.
    std::size_t open = FindUnit(object, u'"');
    while (open != TextView::npos) {
        const std::size_t close = FindUnit(object, u'"', open + 1);
        if (close == TextView::npos) break;
        const std::size_t length = close - open - 1;
        if (length > 0 && length <= kLongestKey) {
            const TextView name = object.substr(open + 1, length);
            for (std::size_t k = 0; k < kKeyNames.size(); ++k) {
                if (name != kKeyNames[k]) continue;
                if (scalarAt_[k] == kNone) scalarAt_[k] = close + 1;
                if (stringAt_[k] == kNone && object.substr(close + 1, 4) == u" : \"")
                    stringAt_[k] = close + 5;
                break;
            }
        }
        open = close;
    }
}

TextView PictureFields::String(Key key) const {
    const std::size_t at = stringAt_[key];
    if (at == kNone) return {};
    const std::size_t end = object_.find(u'"', at);
    return end == TextView::npos ? TextView() : object_.substr(at, end - at);
}

Text PictureFields::Scalar(Key key) const {
    return scalarAt_[key] == kNone ? Text() : ScalarAt(object_, scalarAt_[key]);
}

bool FlagField(TextView object, TextView key) {
    const Text marker = Text(u"\"") + Text(key) + u"\"";
    const std::size_t at = object.find(marker);
    return at != TextView::npos && FlagValue(ScalarAt(object, at + marker.size()));
}

bool FlagField(const PictureFields& fields, PictureFields::Key key) {
    return FlagValue(fields.Scalar(key));
}

int AddressForm(TextView address) {
    // Small to large: s (small), a, m (medium), c, b (big), o (original), r (raw upload).
    static constexpr std::array<char16_t, 7> kRanks{u's', u'a', u'm', u'c', u'b', u'o', u'r'};
    auto rank = [](char16_t letter) {
        for (std::size_t i = 0; i < kRanks.size(); ++i)
            if (kRanks[i] == letter) return static_cast<int>(i) + 1;
        return 0;
    };
    // Today's form: ".../X&bo=..." after the picture's key.
    const std::size_t bo = address.rfind(u"&bo=");
    if (bo != TextView::npos && bo >= 2 && address[bo - 2] == u'/') return rank(address[bo - 1]);
    // The older form: a one-letter path segment "/X/" after the "psb?" or "psc?" part.
    const std::size_t from = address.find(u"?/");
    for (std::size_t i = address.size(); i-- > 2;) {
        if (from != TextView::npos && i < from) break;
        if (address[i] == u'/' && address[i - 2] == u'/') {
            const int r = rank(address[i - 1]);
            if (r > 0) return r;
        }
    }
    return 0;
}

PictureAddresses BestAddresses(TextView object) {
    return BestAddresses(PictureFields(object));
}

PictureAddresses BestAddresses(const PictureFields& fields) {
    const Text upload = fields.Scalar(PictureFields::RawUpload);
    Text raw = Unescaped(fields.String(PictureFields::Raw));
    Text origin = Unescaped(fields.String(PictureFields::OriginUrl));
    if (Contains(upload, u"1")) ReplaceAll(origin, u"/o/", u"/r/");
    ReplaceAll(raw, u"/psbe?/", u"/psb?/");
    ReplaceAll(origin, u"/psbe?/", u"/psb?/");
    const Text preText = Unescaped(fields.String(PictureFields::Pre));
    Text pre = preText;
    ReplaceAll(pre, u"/a/", u"/b/");
    Text url = Unescaped(fields.String(PictureFields::Url));

    // Today's answers name the big form in "url" and the medium one in "pre".
    const int urlForm = AddressForm(url);
    const bool urlLarger =
        !url.empty() && url != preText && url != pre && urlForm > 0 && urlForm > AddressForm(preText);
    PictureAddresses out;
    if (!urlLarger) {
        // Older answers: raw, else origin_url, with pre as the fallback.
        Text& best = raw.empty() ? origin : raw;
        if (best.empty()) {
            out.main = std::move(pre);
        } else {
            out.main = std::move(best);
            out.alternate = std::move(pre);
        }
        return out;
    }
    Text* order[4] = {&raw, &origin, &url, &pre};
    std::size_t i = 0;
    while (i < 4 && order[i]->empty()) ++i;
    if (i == 4) return out;
    for (std::size_t j = i + 1; j < 4; ++j) {
        if (!order[j]->empty() && *order[j] != *order[i]) {
            out.alternate = std::move(*order[j]);
            break;
        }
    }
    out.main = std::move(*order[i]);
    return out;
}

int64_t ParseServiceTime(TextView text) {
    const Text t = Trim(text);
    if (t.empty()) return 0;
    bool digitsOnly = true;
    for (char16_t c : t)
        if (c < u'0' || c > u'9') digitsOnly = false;
    if (digitsOnly) {
        if (t.size() > 13) return 0;  // seconds, or milliseconds
        int64_t v = 0;
        for (char16_t c : t) v = v * 10 + (c - u'0');
        if (v > 100000000000LL) v /= 1000;  // milliseconds
        return v > 0 ? v : 0;
    }
    // YYYY?MM?DD HH:MM:SS (the separator of the date may be '-', ':' or '/').
    int fields[6] = {0, 0, 0, 0, 0, 0};
    int field = 0;
    int digits = 0;
    for (char16_t c : t) {
        if (c >= u'0' && c <= u'9') {
            if (field >= 6 || ++digits > 4) return 0;
            fields[field] = fields[field] * 10 + (c - u'0');
        } else {
            if (digits == 0) return 0;
            ++field;
            digits = 0;
            if (field >= 6) break;
        }
    }
    if (field < 2) return 0;
    const int y = fields[0], mo = fields[1], d = fields[2], h = fields[3], mi = fields[4], s = fields[5];
    if (y < 1971 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return 0;
    const int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    return days * 86400 + h * 3600 + mi * 60 + s - 8 * 3600;  // China time is UTC+8
}

PictureTimes ReadPictureTimes(TextView object) {
    return ReadPictureTimes(PictureFields(object));
}

PictureTimes ReadPictureTimes(const PictureFields& fields) {
    PictureTimes out;
    out.shot = ParseServiceTime(fields.Scalar(PictureFields::RawShootTime));
    if (out.shot == 0) out.shot = ParseServiceTime(fields.Scalar(PictureFields::OriginalTime));
    out.uploaded = ParseServiceTime(fields.Scalar(PictureFields::UploadTime));
    if (out.uploaded == 0) out.uploaded = ParseServiceTime(fields.Scalar(PictureFields::ModifyTime));
    return out;
}

}  // namespace qm
