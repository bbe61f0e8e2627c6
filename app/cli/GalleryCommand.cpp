#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "gallery/Gallery.h"

namespace qm::cli {

namespace {

constexpr char kGalleryUsage[] = "usage: quillmoss-cli gallery -s|--save DIR [TARGET]";

constexpr char kGalleryHelp[] =
    "usage: quillmoss-cli gallery -s|--save DIR [TARGET]\n"
    "\n"
    "为 DIR 下保存的相册生成离线浏览页：DIR/TARGET/index.html 按服务列出的顺序列出相册，并列出\n"
    "选中下载却没有保存图片的相册和原因；每个相册文件夹里有\n"
    "index.html 显示它的图片（点一张看大图和标题、描述；方向键或滑动看下一张，Esc 返回）。\n"
    "缩略图放在每个相册隐藏的 .thumbs 文件夹里，下次只为新图片做缩略图；缩略图做不出来的图片\n"
    "（例如这里读不了的 BMP）直接显示原图。相册里列出却没有保存的图片在相册页下方列出原因。\n"
    "浏览页不需要服务器和网络，用任何浏览器打开即可。\n"
    "\n"
    "  TARGET      DIR 下的一个目标文件夹（下载时用的QQ号、群号或主页名）；不给时为 DIR 下\n"
    "              每个保存有本程序所下相册的目标文件夹生成。\n"
    "  -s, --save DIR  下载时给的保存路径。\n"
    "\n"
    "download 结束时会为它的目标生成浏览页，除非给了 --no-gallery 或设置里打开了 NoGallery。\n"
    "退出状态：0 完成，1 没有可显示的相册或有页面无法写入，2 用法错误。\n";

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
