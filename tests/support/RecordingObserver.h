// A JobObserver for tests: records every event as a line of text, keeps the outcomes, and answers
// questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/JobObserver.h"
#include "core/JobRequests.h"
#include "net/StringCtrl.h"
#include "sites/Fetcher.h"
#include "texts/EventTexts.h"

namespace qm::test {

class RecordingObserver : public JobObserver {
public:
    // Scripted answers, consumed in order; when empty, questions are answered `defaultAnswer`.
    std::deque<bool> answers;
    bool defaultAnswer = false;
    // Called when a login is requested (tests may set cookies here, as a user would log in).
    std::function<void(const Text&)> onLogin;
    // Called for every picture that ends (on the worker's thread).
    std::function<void(const PictureOutcome&)> onPicture;

    void ListStarted() override { Record("list-started", {}); }
    void AlbumListed(std::size_t index, const ST_PERLISTRECORD& rec) override {
        Record("album", FormatText("%d ", static_cast<int>(index)) + rec.Name);
        std::lock_guard<std::mutex> l(m_);
        listed_.push_back(rec);
    }
    void ListFinished(const ListResult& result) override {
        Record("list-finished", FormatText("%d", static_cast<int>(result.albums.size())));
    }
    void DownloadStarted(std::size_t albums) override {
        Record("download-started", FormatText("%d", static_cast<int>(albums)));
    }
    void AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) override {
        Record("album-started", FormatText("%d/%d ", static_cast<int>(position), static_cast<int>(count)) + rec.Name);
    }
    void PicturesListed(std::size_t count) override {
        std::lock_guard<std::mutex> l(m_);
        lastListed_ = count;
    }
    void TransferStarted(std::size_t total, const Text&) override {
        Record("transfer", FormatText("%d", static_cast<int>(total)));
    }
    void PictureFinished(const PictureOutcome& p, std::size_t, std::size_t) override {
        if (onPicture) onPicture(p);
        std::lock_guard<std::mutex> l(m_);
        pictures_.push_back(p);
    }
    void AlbumFinished(const AlbumOutcome& a, unsigned) override {
        Record("album-finished", a.name);
        std::lock_guard<std::mutex> l(m_);
        albums_.push_back(a);
    }
    void DownloadFinished(const JobOutcome& o) override {
        Record("download-finished", o.stopped ? u"stopped" : u"");
    }
    void Waiting(std::chrono::seconds left) override {
        Record("waiting", FormatText("%d", static_cast<int>(left.count())));
    }
    void Notify(const NoticeEvent& n) override {
        Record("message", NoticeText(n).text);
        std::lock_guard<std::mutex> l(m_);
        notices_.push_back(n);
    }
    bool Ask(const QuestionEvent& q) override {
        Record("question", QuestionText(q).text);
        std::lock_guard<std::mutex> l(m_);
        questions_.push_back(q.id);
        if (answers.empty()) return defaultAnswer;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void RequestLogin(const Text& url) override {
        Record("login", url);
        if (onLogin) onLogin(url);
    }

    // Every event as "kind: text" (UTF-8), in order.
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> l(m_);
        return calls_;
    }
    // Texts of events of one kind ("message", "question", "login", "album", ...).
    std::vector<Text> Of(const std::string& kind) const {
        std::lock_guard<std::mutex> l(m_);
        std::vector<Text> out;
        for (const auto& [k, t] : raw_)
            if (k == kind) out.push_back(t);
        return out;
    }
    std::vector<NoticeEvent> Notices() const {
        std::lock_guard<std::mutex> l(m_);
        return notices_;
    }
    std::vector<Question> Questions() const {
        std::lock_guard<std::mutex> l(m_);
        return questions_;
    }
    std::vector<ST_PERLISTRECORD> Listed() const {
        std::lock_guard<std::mutex> l(m_);
        return listed_;
    }
    std::vector<PictureOutcome> Pictures() const {
        std::lock_guard<std::mutex> l(m_);
        return pictures_;
    }
    std::vector<AlbumOutcome> Albums() const {
        std::lock_guard<std::mutex> l(m_);
        return albums_;
    }
    std::size_t LastListed() const {
        std::lock_guard<std::mutex> l(m_);
        return lastListed_;
    }

private:
    void Record(const std::string& kind, const Text& text) {
        std::lock_guard<std::mutex> l(m_);
        calls_.push_back(kind + ": " + ToUtf8(text));
        raw_.emplace_back(kind, text);
    }
    mutable std::mutex m_;
    std::vector<std::string> calls_;
    std::vector<std::pair<std::string, Text>> raw_;
    std::vector<NoticeEvent> notices_;
    std::vector<Question> questions_;
    std::vector<ST_PERLISTRECORD> listed_;
    std::vector<PictureOutcome> pictures_;
    std::vector<AlbumOutcome> albums_;
    std::size_t lastListed_ = 0;
};

// Sinks that keep what the fetchers hand over, for tests of one fetcher.
class RecordingAlbums : public AlbumSink {
public:
    void Album(const ST_PERLISTRECORD& rec) override { albums.push_back(rec); }
    std::size_t Count() const override { return albums.size(); }
    std::vector<ST_PERLISTRECORD> albums;
};

class RecordingPictures : public PictureSink {
public:
    bool Picture(const PictureRef& p) override {
        pictures.push_back(p);
        return limit == 0 || pictures.size() < limit;
    }
    std::size_t Count() const override { return pictures.size(); }
    bool Ended() const override { return limit != 0 && pictures.size() >= limit; }
    std::vector<PictureRef> pictures;
    std::size_t limit = 0;  // 0: no end
};

}  // namespace qm::test
