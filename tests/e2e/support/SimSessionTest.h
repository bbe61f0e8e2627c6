// A test fixture for end-to-end runs through the library: a program folder and a save folder in a
// fresh temporary root, a recording front end, a simulator routed to, and the list-then-download
// sequence the window runs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "RecordingFrontend.h"
#include "core/AppState.h"
#include "core/Settings.h"
#include "core/jobs/DownloadJob.h"
#include "core/jobs/ListJob.h"
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
        root = std::filesystem::temp_directory_path() /
               (prefix_ + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "prog");
        save = root / saveName_;
        st.programFolder = TextFromPath(root / "prog") + u"/";
        LoadSettings(st);
        st.WindowReady = 1;
        CookieStore::Instance().Clear();
    }
    void TearDown() override {
        if (sim) sim->Stop();
        SetConnectTo("");
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    void Start(nlohmann::json scenario) {
        sim = std::make_unique<sim::Simulator>(std::move(scenario));
        ASSERT_NE(sim->Start(0), 0);
        SetConnectTo(sim->ConnectTo());
    }
    // Lists the target's QZone albums, then downloads the given ones (default: every album but the
    // mood pseudo-album) and checks the job ended.
    void ListAndDownload(const std::string& qq, std::vector<int> selection = {}) {
        fe.texts[Ctl::Target] = FromUtf8(qq);
        fe.kind = 0;
        st.ListJobState = ListRunning;
        GetListFunc(st);
        ASSERT_GT(st.albums.Count(), 0u);
        if (selection.empty())
            for (std::size_t i = 0; i < st.albums.Count(); ++i)
                if (st.albums.Get(i)->CoverUrl != u"123") selection.push_back(static_cast<int>(i));
        fe.selection = selection;
        fe.texts[Ctl::SaveFolder] = TextFromPath(save);
        st.DownloadJobState = DownloadRunning;
        DownloadFunc(st);
        EXPECT_EQ(st.DownloadJobState.load(), DownloadIdle);
        EXPECT_EQ(fe.Shown(Ctl::Status), u"下载完毕");
    }

    std::filesystem::path root, save;
    RecordingFrontend fe;
    AppState st{fe};
    std::unique_ptr<sim::Simulator> sim;

private:
    std::string prefix_, saveName_;
};

}  // namespace qm::test
