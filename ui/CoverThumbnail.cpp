#include "ui/CoverThumbnail.h"

#include <filesystem>
#include <system_error>

#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "ui/MyGridCtrl.h"

namespace qm::ui {

QImage ScaleCover(const QImage& picture) {
    if (picture.isNull()) return {};
    return picture.scaled(kThumbWidth, kThumbHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

QImage LoadCover(const Text& cacheFolder, int albumIndex, const Text& coverUrl) {
    Text url = coverUrl;
    if (url.rfind(u"//", 0) == 0) url = u"http:" + url;
    // The mood pseudo-album's "123" and other non-addresses have no cover to fetch.
    if (url.rfind(u"http://", 0) != 0 && url.rfind(u"https://", 0) != 0) return {};
    std::error_code ec;
    const Text folder = cacheFolder + u"tmp";
    std::filesystem::create_directories(PathFromText(folder), ec);
    const Text path = folder + static_cast<char16_t>(std::filesystem::path::preferred_separator) +
                      FormatText("%d.jpg", albumIndex);
    ST_URLREQUEST req(url, path, 10000);
    ST_URLRESPONSE resp;
    if (!FetchUrl(req, resp, 0)) return {};
    QImage picture(QString::fromStdU16String(path));
    return ScaleCover(picture);
}

}  // namespace qm::ui
