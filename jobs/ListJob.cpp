#include "jobs/ListJob.h"

#include "core/AlbumList.h"
#include "core/CleanFileName.h"
#include "core/ExtSettings.h"
#include "core/Prompts.h"
#include "net/Trace.h"
#include "sites/Services.h"

namespace qm {

namespace {

#ifdef _WIN32
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

// A target as a folder name below the save folder: cleaned, never "." or "..", with a trailing
// separator unless empty.
void MakeFolderComponent(Text& text) {
    CleanFileName(text, false, 0);
    ReplaceAll(text, u"/", TextView(&kSeparator, 1));
    if (text.find_first_not_of(u'.') == Text::npos) text.clear();  // only dots would climb out
    if (!text.empty() && text.back() != kSeparator) text.push_back(kSeparator);
}

// Collects the albums: cleaned, uniquely named records, each reported as it comes.
class AlbumCollector final : public AlbumSink {
public:
    explicit AlbumCollector(JobObserver& obs) : observer_(obs) {}

    void Album(const ST_PERLISTRECORD& rec) override {
        const std::size_t before = list_.Count();
        const std::size_t count = list_.AppendRecord(rec);
        if (count == before) {
            observer_.Notify(NoticeEvent{Notice::OutOfMemory});
            return;
        }
        if (auto stored = list_.Get(count - 1)) observer_.AlbumListed(count - 1, *stored);
    }
    std::size_t Count() const override { return list_.Count(); }
    std::vector<ST_PERLISTRECORD> Albums() const { return list_.Snapshot(); }

private:
    JobObserver& observer_;
    AlbumList list_;
};

}  // namespace

ListResult RunListJob(const ListRequest& request, JobObserver& observer, JobControl& control,
                      const Text& programFolder, Clock& clock) {
    ListResult result;
    result.target = Trim(request.target);
    result.kind = request.kind;
    if (result.target.empty()) {
        observer.Notify(NoticeEvent{Notice::EmptyTarget});
        result.reason = ListReason::EmptyTarget;
        return result;
    }

    observer.ListStarted();
    const Service& service = ServingService(request.kind, result.target);
    result.kind = service.kind;
    Fetcher& fetcher = service.fetcher();

    SiteContext ctx(observer, clock);
    ctx.stop = control.Token();
    ctx.ext = ReadExtSettings(programFolder);
    ctx.programFolder = programFolder;
    ctx.target = result.target;

    AlbumCollector sink(observer);
    Text reduced;
    Notice refusal = Notice::NumberOnly;
    if (!request.kindChosen) {
        // Only the QQ Zone family has fetchers.
    } else if (!fetcher.ReduceTarget(result.target, reduced, refusal)) {
        observer.Notify(NoticeEvent{refusal});
        result.reason = ListReason::NotANumber;
    } else {
        fetcher.ListAlbums(ctx, reduced, sink);
        result.targetFolder = reduced;
        if (sink.Count() == 0) {
            if (ctx.Stopped()) {
                result.reason = ListReason::Stopped;
            } else {
                result.reason = ctx.reason != ListReason::None    ? ctx.reason
                                : !ctx.reasonText.empty()          ? ListReason::Network
                                                                   : ListReason::NoAccess;
                result.reasonText = ctx.reasonText;
                const std::string cause = result.reason == ListReason::Network ? ctx.reasonText : std::string();
                observer.Notify(NoticeEvent{Notice::NoAlbums, cause, {}, result.kind});
            }
        } else if (ctx.Stopped()) {
            result.reason = ListReason::Stopped;
        }
    }
    result.service = fetcher.SaveState(ctx);

    MakeFolderComponent(result.targetFolder);
    MakeFolderComponent(result.targetSubFolder);
    result.albums = sink.Albums();
    Trace("list job: %zu albums\n", result.albums.size());
    observer.ListFinished(result);
    return result;
}

}  // namespace qm
