// A test fixture for end-to-end runs through the library: a program folder and a save folder in a
// fresh temporary root, a recording front end, a simulator routed to, and the list-then-download
// sequence the window runs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "RecordingObserver.h"
#include "TempFolder.h"
#include "core/Settings.h"
#include "jobs/DownloadJob.h"
#include "jobs/ListJob.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"
#include "sim/Simulator.h"

namespace qm::test {

class SimSessionTest : public ::testing::Test {
protected:
    // `prefix` names the temporary root; `saveName` the save folder inside it.
    SimSessionTest(std::string prefix, std::string saveName)
        : prefix_(std::move(prefix)), saveName_(std::move(saveName)) {}

    void SetUp() override {
        temp_ = std::make_unique<TempFolder>(prefix_);
        root = temp_->path();
        std::filesystem::create_directories(root / "prog");
        save = root / saveName_;
        st.programFolder = TextFromPath(root / "prog") + u"/";
        LoadSettings(st);
        CookieStore::Instance().Clear();
    }
    void TearDown() override {
        if (sim) sim->Stop();
        SetConnectTo("");
    }
    void Start(nlohmann::json scenario) {
        sim = std::make_unique<sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim->Start(0), 0);
        SetConnectTo(sim->ConnectTo());
    }
    // Lists the target's QZone albums, then downloads the given ones (default: every album but the
    // mood pseudo-album) and checks the job ended.
    void ListAndDownload(const std::string& qq, std::vector<int> selection = {}) {
        JobControl listControl;
        listControl.TryStart();
        list = RunListJob(ListRequest{FromUtf8(qq), TargetKind::QZone}, fe, listControl, st.programFolder);
        ASSERT_GT(list.albums.size(), 0u);
        if (selection.empty())
            for (std::size_t i = 0; i < list.albums.size(); ++i)
                if (list.albums[i].CoverUrl != u"123") selection.push_back(static_cast<int>(i));
        const DownloadRequest request = RequestFor(selection);
        JobControl control;
        control.TryStart();
        outcome = RunDownloadJob(request, fe, control);
        EXPECT_EQ(outcome.albums.size(), selection.size());
    }

    // A download of the given albums of the last listing into the save folder, with the current settings.
    DownloadRequest RequestFor(std::vector<int> albums) const {
        DownloadRequest request;
        request.list = list;
        request.albums = std::move(albums);
        request.saveFolder = TextFromPath(save);
        request.settings = st.Snapshot();
        request.programFolder = st.programFolder;
        return request;
    }

    std::filesystem::path root, save;
    RecordingObserver fe;
    SettingsStore st;
    ListResult list;
    JobOutcome outcome;
    std::unique_ptr<sim::Simulator> sim;

private:
    std::string prefix_, saveName_;
    std::unique_ptr<TempFolder> temp_;
};

}  // namespace qm::test
