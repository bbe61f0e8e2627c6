// The fetchers' answer parsing under any answers: a loopback server hands out the parts of one fuzz
// input as the bodies of the successive requests ("-" once they run out), and one fetcher,
// chosen by the selector, turns them into album records or picture entries. Whatever the answers,
// nothing may appear outside the save folder and every picture name stays inside its album folder.
#pragma once

#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "RecordingObserver.h"
#include "core/AlbumList.h"
#include "net/Clock.h"
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "fuzz/FuzzTargets.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sites/QQGroup.h"
#include "sites/QZoneAlbumList.h"
#include "sites/QZoneMood.h"
#include "sites/QZonePhotoList.h"
#include "sites/TencentWeibo.h"

namespace qm::fuzz {

class AnswerServer {
public:
    static AnswerServer& Get() {
        static AnswerServer* s = new AnswerServer();  // lives until exit: fuzzers end with exit()
        return *s;
    }
    void SetAnswers(std::vector<std::string> answers) {
        std::lock_guard<std::mutex> l(mu_);
        answers_ = std::move(answers);
        next_ = 0;
    }
    std::size_t Served() const {
        std::lock_guard<std::mutex> l(mu_);
        return next_;
    }

private:
    AnswerServer() {
        server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) {
            // Never an empty body: the client pauses a second after one, which would starve the
            // fuzzer; an answer that matches nothing ends every fetcher's walk as well.
            std::string body = "-";
            {
                std::lock_guard<std::mutex> l(mu_);
                if (next_ < answers_.size() && !answers_[next_].empty()) body = answers_[next_];
                ++next_;
            }
            res.set_content(body, "text/html; charset=utf-8");
        });
        const int port = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        thread_.detach();
        SetConnectTo("127.0.0.1:" + std::to_string(port));
    }
    httplib::Server server_;
    std::thread thread_;
    mutable std::mutex mu_;
    std::vector<std::string> answers_;
    std::size_t next_ = 0;
};

// Albums cleaned and numbered as the list job keeps them, pictures named and queued as the
// download job does.
class FuzzAlbums final : public AlbumSink {
public:
    void Album(const ST_PERLISTRECORD& rec) override { list.AppendRecord(rec); }
    std::size_t Count() const override { return list.Count(); }
    AlbumList list;
};

class FuzzPictures final : public PictureSink {
public:
    explicit FuzzPictures(DownloadState& st) : st_(st) {}
    bool Picture(const PictureRef& picture) override { return AddPicEntry(st_, picture); }
    std::size_t Count() const override { return st_.task.Size(); }
    bool Ended() const override { return st_.albumComplete.load(); }

private:
    DownloadState& st_;
};

inline void FuzzFetchers(const uint8_t* data, std::size_t size) {
    const Input in(data, size);
    AnswerServer& server = AnswerServer::Get();
    CookieStore::Instance().Clear();

    std::vector<std::string> answers;
    for (std::size_t i = 2; i < in.parts.size(); ++i) answers.push_back(in.parts[i]);
    server.SetAnswers(answers);

    const std::filesystem::path root = ScratchFolder() / "fetch";
    const std::filesystem::path save = root / "save";
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(save / "target");

    test::RecordingObserver obs;
    ManualClock clock;  // the mood and photo-list pacing takes no time
    SiteContext ctx(obs, clock);
    ctx.programFolder = TextFromPath(root) + u"/";
    ctx.target = u"12345";
    ctx.route.photoHost = u"plist.photo.qzone.qq.com";
    ctx.route.viewHost = u"view.photo.qzone.qq.com";
    ctx.weiboId = u"someone";

    DownloadState st(obs, clock);
    st.profile.NameMode = static_cast<uint8_t>((in.selector >> 3) & 0x03);
    st.profile.FolderMode = static_cast<uint8_t>((in.selector >> 5) & 0x01);
    st.album.targetFolder = u"target";
    st.task.albumFolder = TextFromPath(save / "target") + u"/";

    ST_PERLISTRECORD rec;
    rec.Name = in.TextPart(0);
    rec.ListParam = in.TextPart(1);
    rec.PictureCount = in.selector & 0x40 ? -1 : 3;
    rec.PrivacyFlags = in.selector & 0x40 ? static_cast<uint32_t>(PrivacyEncrypted) : 0u;
    const int kind = in.selector & 0x07;
    if (kind == 3) rec.CoverUrl = u"123";
    FuzzAlbums albums;
    albums.list.AppendRecord(rec);
    st.album.record = *albums.list.Get(0);
    st.album.albumCount = 1;
    FuzzPictures pictures(st);

    switch (kind) {
        case 0: FetchQZoneAlbumsV2(ctx, u"12345", albums); break;
        case 1: FetchQZoneAlbumsV3(ctx, u"12345", albums); break;
        case 2: FetchQZonePhotosGbk(ctx, st.album.record, pictures); break;
        case 3: FetchMoodPictures(ctx, st.album.record, pictures); break;
        case 4: FetchGroupAlbums(ctx, u"54321", albums); break;
        case 5: FetchGroupPhotos(ctx, st.album.record, pictures); break;
        case 6: FetchWeiboAlbums(ctx, ctx.weiboId, albums); break;
        default: FetchWeiboPhotos(ctx, st.album.record, pictures); break;
    }

    // Every picture name is one component below the album folder; nothing was made elsewhere.
    for (const Text& name : st.task.fileNames)
        QM_FUZZ_CHECK(IsInsideFolder(PathFromText(st.task.albumFolder), PathFromText(st.task.albumFolder + name)));
    // No two pictures share a file, not even on a file system blind to letter case.
    std::set<Text> folded;
    for (const Text& name : st.task.fileNames) QM_FUZZ_CHECK(folded.insert(NameRegistry::Fold(name)).second);
    QM_FUZZ_CHECK(IsInsideFolder(save, PathFromText(st.task.albumFolder)) ||
                  PathFromText(st.task.albumFolder) == save / "target" / "");
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto rel = it->path().lexically_relative(root);
        const std::string first = rel.begin()->string();
        QM_FUZZ_CHECK(first == "save" || first == "soft.dat" || first == "cookies.txt");
    }
    for (const auto& r : albums.list.Snapshot()) QM_FUZZ_CHECK(r.Name.find(u'/') == Text::npos);
}

}  // namespace qm::fuzz
