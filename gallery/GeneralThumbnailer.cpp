#include "gallery/GeneralThumbnailer.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <system_error>

#include "gallery/ThumbnailerPlugin.h"

#ifndef QM_THUMBNAILER_FROM_BIN
#define QM_THUMBNAILER_FROM_BIN "../lib/quillmoss/modules/libquillmoss-thumbnailer.so"
#endif

namespace qm::gallery {

namespace fs = std::filesystem;

namespace {

std::atomic<const QmThumbnailerV1*> loaded{nullptr};

const QmThumbnailerV1* Load() {
    // Beside the running program first (its own build or installation), then wherever the
    // dynamic loader looks.
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    void* module = nullptr;
    const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;  // never unloaded: GLib types stay registered
    if (!ec) module = ::dlopen((self.parent_path() / QM_THUMBNAILER_FROM_BIN).c_str(), flags);
    if (!module) module = ::dlopen(fs::path(QM_THUMBNAILER_FROM_BIN).filename().c_str(), flags);
    if (!module) return nullptr;
    const auto entry = reinterpret_cast<QmThumbnailerV1Entry>(::dlsym(module, QM_THUMBNAILER_V1_SYMBOL));
    const QmThumbnailerV1* api = entry ? entry() : nullptr;
    if (!api || !api->start || !api->make || !api->release || !api->threadDone || !api->start()) return nullptr;
    return api;
}

const QmThumbnailerV1* Api() {
    static std::once_flag once;
    static const QmThumbnailerV1* api = nullptr;
    std::call_once(once, [] {
        api = Load();
        loaded = api;
    });
    return api;
}

}  // namespace

GeneralThumbResult MakeGeneralThumbnail(const fs::path& picture, int box, std::string& out) {
    out.clear();
    const QmThumbnailerV1* api = Api();
    if (!api) return GeneralThumbResult::Unavailable;
    char* bytes = nullptr;
    size_t length = 0;
    if (!api->make(picture.c_str(), box, &bytes, &length) || !bytes) return GeneralThumbResult::Undecodable;
    out.assign(bytes, length);
    api->release(bytes);
    return out.empty() ? GeneralThumbResult::Undecodable : GeneralThumbResult::Made;
}

void GeneralThumbnailerThreadDone() {
    if (const QmThumbnailerV1* api = loaded.load()) api->threadDone();
}

}  // namespace qm::gallery
