// A Frontend for tests: records every call as a line of text and answers questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/Frontend.h"
#include "net/StringCtrl.h"

namespace qm::test {

class RecordingFrontend : public Frontend {
public:
    // Scripted answers, consumed in order; when empty, questions are answered `defaultAnswer`.
    std::deque<bool> answers;
    bool defaultAnswer = false;
    // Texts returned by ControlText.
    std::map<Ctl, Text> texts;
    bool kindVisible = true;
    int kind = 0;
    std::vector<int> selection;
    // Called when a login is requested (tests may set cookies here, as a user would log in).
    std::function<void(const Text&)> onLogin;

    void ShowMessage(const Text& text, const Text& title) override { Record("message", text, title); }
    bool AskYesNo(const Text& text, const Text& title) override {
        Record("question", text, title);
        std::lock_guard<std::mutex> l(m_);
        if (answers.empty()) return defaultAnswer;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void RequestLogin(const Text& url) override {
        Record("login", url, {});
        if (onLogin) onLogin(url);
    }
    void SetControlText(Ctl id, const Text& text) override {
        Record("text " + std::to_string(static_cast<int>(id)), text, {});
        std::lock_guard<std::mutex> l(m_);
        shown_[id] = text;
    }
    void EnableControl(Ctl id, bool on) override {
        Record("enable " + std::to_string(static_cast<int>(id)), on ? u"1" : u"0", {});
    }
    void ShowControl(Ctl id, bool on) override {
        Record("show " + std::to_string(static_cast<int>(id)), on ? u"1" : u"0", {});
    }
    void SetCheck(Ctl id, bool on) override {
        Record("check " + std::to_string(static_cast<int>(id)), on ? u"1" : u"0", {});
    }
    Text ControlText(Ctl id) override {
        std::lock_guard<std::mutex> l(m_);
        auto it = texts.find(id);
        return it == texts.end() ? Text() : it->second;
    }
    bool KindChoiceVisible() override { return kindVisible; }
    int KindChoice() override { return kind; }
    void AlbumAdded(int index) override { Record("album", FormatText("%d", index), {}); }
    void RefreshTable() override { Record("refresh", {}, {}); }
    std::vector<int> SelectedAlbums() override { return selection; }
    void AddHistory(Ctl box, const Text& text) override {
        Record("history " + std::to_string(static_cast<int>(box)), text, {});
    }
    void AlbumDownloaded(unsigned seconds, unsigned pictures) override {
        (void)seconds;
        Record("album-done", FormatText("%u", pictures), {});
    }
    void OpenFolder(const Text& path) override { Record("open", path, {}); }

    // Every call as "kind: text [title]" (UTF-8), in order.
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> l(m_);
        return calls_;
    }
    // Texts of calls of one kind ("message", "question", "login", "text 1009", ...).
    std::vector<Text> Of(const std::string& kind) const {
        std::lock_guard<std::mutex> l(m_);
        std::vector<Text> out;
        for (const auto& [k, t] : raw_)
            if (k == kind) out.push_back(t);
        return out;
    }
    // Last text set on a control, or empty.
    Text Shown(Ctl id) const {
        std::lock_guard<std::mutex> l(m_);
        auto it = shown_.find(id);
        return it == shown_.end() ? Text() : it->second;
    }

private:
    void Record(const std::string& kind, const Text& text, const Text& title) {
        std::lock_guard<std::mutex> l(m_);
        std::string line = kind + ": " + ToUtf8(text);
        if (!title.empty()) line += " [" + ToUtf8(title) + "]";
        calls_.push_back(line);
        raw_.emplace_back(kind, text);
    }
    mutable std::mutex m_;
    std::vector<std::string> calls_;
    std::vector<std::pair<std::string, Text>> raw_;
    std::map<Ctl, Text> shown_;
};

}  // namespace qm::test
