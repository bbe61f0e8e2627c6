#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "gallery/Gallery.h"

namespace qm::cli {

namespace {

constexpr char kGalleryUsage[] = "usage: quillmoss-cli gallery -s|--save DIR [TARGET]";

constexpr char kGalleryHelp[] =
    "usage: quillmoss-cli gallery -s|--save DIR [TARGET]\n"
    "\n"
    "Writes an offline gallery of the albums saved under DIR: DIR/TARGET/index.html lists the\n"
    "albums, each album folder gets an index.html with its pictures (click one for the large view\n"
    "with its title and description; arrow keys or a swipe for the next one, Escape to go back).\n"
    "Thumbnails go into each album's hidden .thumbs folder; only new pictures get one on the next\n"
    "run. The pages need no server and no network: open them in any browser.\n"
    "\n"
    "  TARGET      one target folder under DIR (the QQ number, group or page the download named);\n"
    "              without it, every target folder under DIR that holds albums saved by this program.\n"
    "  -s, --save DIR  the save folder given to `download`.\n"
    "\n"
    "`download` writes the gallery of its target at the end unless --no-gallery is given.\n"
    "Exit status: 0 done, 1 nothing to show or a page could not be written, 2 usage.\n";

// Runs the gallery and reports it on stderr; false when nothing was written or a write failed.
bool MakeGallery(const Text& save, const Text& target) {
    Console& con = Console::Get();
    const gallery::GalleryReport r = gallery::BuildGallery(save, target);
    for (const std::string& e : r.errors) con.Err("浏览页: 无法写入 " + e);
    for (const auto& t : r.targets)
        con.Err("浏览页: " + std::to_string(t.albums) + " 个相册，" + std::to_string(t.pictures) +
                " 张图片: " + t.index.string());
    if (r.thumbs.made + r.thumbs.failed > 0)
        con.Err("浏览页: 新做缩略图 " + std::to_string(r.thumbs.made) + " 张，沿用 " +
                std::to_string(r.thumbs.kept) + " 张，" + std::to_string(r.thumbs.failed) + " 张图片无法预览");
    if (r.targets.empty()) con.Err("浏览页: " + ToUtf8(save) + " 下没有找到本程序保存的相册");
    return !r.targets.empty() && r.errors.empty();
}

}  // namespace

const char* GalleryUsage() {
    return kGalleryUsage;
}

const char* GalleryHelp() {
    return kGalleryHelp;
}

int GalleryCommand(const GlobalOptions&, const GalleryOptions& o) {
    return MakeGallery(FromUtf8(o.save), FromUtf8(o.target)) ? ExitDone : ExitFailure;
}

void GalleryAfterDownload(const Text& saveFolder, const Text& targetFolder) {
    if (!targetFolder.empty()) MakeGallery(saveFolder, targetFolder);
}

}  // namespace qm::cli
