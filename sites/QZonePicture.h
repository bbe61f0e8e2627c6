// One picture of a QZone photo-list or view-album answer: where its object ends, which of its
// addresses names the biggest form, and when it was shot and uploaded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/StringCtrl.h"

namespace qm {

// `piece` is the text after a picture's "batchId" key, up to the next picture. Returns the part
// that still belongs to the picture's object, so that whatever follows the list (a "topic" object
// with its own name, pre and url) is not read as the last picture's. A piece whose object never
// closes (a picture whose text broke the JSON) is returned whole: it ends at the next picture.
TextView PictureObject(TextView piece);

// Where the fields a picture is read from are in its object, found in one pass over it: each at the
// first occurrence of its key, where a search for `"key"` (a scalar) or `"key" : "` (a string)
// would find it, nested objects and string values included. A photo list page holds hundreds of
// pictures and an album up to 100,000: one pass each instead of a search per field.
class PictureFields {
public:
    enum Key : uint8_t {
        Name,
        Desc,
        Lloc,
        Sloc,
        Raw,
        OriginUrl,
        Pre,
        Url,
        RawUpload,
        IsVideo,
        RawShootTime,
        OriginalTime,
        UploadTime,
        ModifyTime,
        kKeyCount
    };

    explicit PictureFields(TextView object);

    // The text of `"key" : "…"` up to the next quote, as written (escapes kept); empty when the key
    // is absent or its text never closes.
    TextView String(Key key) const;
    // The value of `"key" : value` up to the next comma, line end or brace, blanks trimmed; a
    // quoted value without its quotes (up to the object's end when it never closes).
    Text Scalar(Key key) const;

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    TextView object_;
    std::array<std::size_t, kKeyCount> scalarAt_;  // just after `"key"`
    std::array<std::size_t, kKeyCount> stringAt_;  // just after `"key" : "`
};

struct PictureAddresses {
    Text main;       // the best address
    Text alternate;  // the next one in the order, when it differs; may be empty
};

// The order: "raw", then "origin_url" (with "/o/" as "/r/" when the upload mark holds 1), then
// "url" when it names a larger form than "pre" (today's "/b&bo=" against "/m&bo="), then "pre"
// with "/a/" as "/b/". The main address is the first present, the alternate the next. An answer
// whose "url" is absent, equal to "pre" or no larger keeps the older choice: raw or origin_url as
// the main address with the pre address as the alternate, or the pre address alone.
PictureAddresses BestAddresses(TextView object);
PictureAddresses BestAddresses(const PictureFields& fields);

// A flag field such as "is_video": true for `true`, `"true"` or a number other than 0, whichever
// type the answer gives it.
bool FlagField(TextView object, TextView key);
bool FlagField(const PictureFields& fields, PictureFields::Key key);

// The size class an address names: its form letter ("/m&bo=", "/b&bo=", "/a/", "/b/" …) ranked
// from small to original; 0 when the address names none.
int AddressForm(TextView address);

struct PictureTimes {
    int64_t shot = 0;      // seconds since the epoch; 0 unknown
    int64_t uploaded = 0;  // likewise
};

// "rawshoottime", else the exif "originalTime"; "uploadtime" (else "modifytime"). A text without
// a zone is China time (UTC+8); a number is seconds since the epoch.
PictureTimes ReadPictureTimes(TextView object);
PictureTimes ReadPictureTimes(const PictureFields& fields);

// "YYYY-MM-DD HH:MM:SS" or "YYYY:MM:DD HH:MM:SS" as China time, or a number of seconds; 0 when
// the text is neither or names no plausible time.
int64_t ParseServiceTime(TextView text);

}  // namespace qm
