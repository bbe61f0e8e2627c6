// The words of mood posts through the simulator: a mood backup keeps every post with its full
// text (a long post's from the detail interface), place, repost, comments with their replies and
// the files of its pictures; a later run adds the new posts, refreshes the one with a new comment,
// and asks for no picture it already has.
#include <gtest/gtest.h>

#include <map>

#include "FileText.h"
#include "download/MoodsJson.h"
#include "sites/CannedSite.h"
#include "support/SimSessionTest.h"

namespace qm {
namespace {

using nlohmann::json;

class PostRecorder : public test::RecordingObserver {
public:
    void PostRecorded(const PostEvent& p) override {
        std::lock_guard<std::mutex> l(m_);
        posts[p.id] = p.change;
    }
    std::map<std::string, PostChange> posts;

private:
    std::mutex m_;
};

json Moods() {
    return json::parse(R"([
      {"tid": "t0", "createtime": 1500000000, "text": "第一条 & <b>粗</b> 😀",
       "pictures": [{"id": "m0_1"}, {"id": "m0_2"}], "place": {"name": "西湖 & <桥>", "x": "120.1", "y": "30.2"},
       "forwards": 3,
       "comments": [{"name": "小明", "uin": 20001234, "text": "好 & <i>",
                     "replies": [{"name": "主人", "uin": 10001, "text": "谢谢 🙏"}]}]},
      {"tid": "t1", "createtime": 1499990000, "cut": 10,
       "text": "一二三四五六七八九十这是后面的字，只在详情里才有", "pictures": [{"id": "m1_1"}]},
      {"tid": "t2", "createtime": 1499980000, "text": "转发一下", "forward": "原文 <原>", "right": 4},
      {"tid": "t3", "createtime": 1400000000, "text": "旧的", "pictures": [{"id": "m3_1"}],
       "comments": [{"name": "甲", "uin": 30001, "text": "c1"}]}
    ])");
}

class MoodPosts : public test::SimSessionTest {
protected:
    MoodPosts() : SimSessionTest("qm-moods-", "save 保存") {}

    void StartWith(const json& moods) {
        json scenario = {{"accounts", {{{"uin", 20001234}, {"password", "pw"}}}},
                         {"qzone",
                          {{{"uin", 10001},
                            {"albums", {{{"id", "a1"}, {"name", "相册"}, {"pictures", 1}}}},
                            {"moods", moods}}}}};
        if (sim) sim->Stop();
        Start(scenario);
        const auto& account = sim->Scenario().at("accounts").at(0);
        test::SetTestCookies("qq.com", "uin=o0020001234; p_skey=" + account.at("p_skey").get<std::string>());
    }

    // Lists the target and downloads the mood row alone, with an instant clock.
    AlbumOutcome DownloadMoods(PostRecorder& obs) {
        JobControl listControl;
        listControl.TryStart();
        list = RunListJob(ListRequest{u"10001", TargetKind::QZone}, fe, listControl, st.programFolder);
        DownloadRequest request;
        request.list = list;
        for (std::size_t i = 0; i < list.albums.size(); ++i)
            if (list.albums[i].CoverUrl == u"123") request.albums.push_back(static_cast<int>(i));
        EXPECT_EQ(request.albums.size(), 1u);
        request.saveFolder = TextFromPath(save);
        request.settings = st.Snapshot();
        request.programFolder = st.programFolder;
        JobControl control;
        control.TryStart();
        ManualClock clock;
        outcome = RunDownloadJob(request, obs, control, clock);
        EXPECT_EQ(outcome.albums.size(), 1u);
        return outcome.albums.empty() ? AlbumOutcome() : outcome.albums[0];
    }

    std::vector<std::string> Requested(const std::string& pathPart) const {
        std::vector<std::string> out;
        for (const auto& r : sim->Requests())
            if (r.target.find(pathPart) != std::string::npos || r.host.find(pathPart) != std::string::npos)
                out.push_back("http://" + r.host + r.target);
        return out;
    }

    MoodsFile ReadMoods(const AlbumOutcome& a) {
        const auto file = ReadMoodsJson(a.folder);
        EXPECT_TRUE(file.has_value()) << "no moods.json in " << ToUtf8(a.folder);
        return file.value_or(MoodsFile{});
    }
};

TEST_F(MoodPosts, BackupKeepsEveryPostWithItsWordsAndPicturesThenAddsAndRefreshesOnlyWhatChanged) {
    StartWith(Moods());
    PostRecorder first;
    const AlbumOutcome a = DownloadMoods(first);
    EXPECT_TRUE(a.Complete()) << a.reasonText;
    EXPECT_EQ(a.saved, 4u);
    EXPECT_EQ(a.posts.listed, 4u);
    EXPECT_EQ(a.posts.added, 4u);
    EXPECT_TRUE(a.posts.written) << a.posts.error;

    // Only the cut post's full text was asked for, by its tid.
    const auto details = Requested("emotion_cgi_msgdetail_v6");
    ASSERT_EQ(details.size(), 1u);
    EXPECT_NE(details[0].find("&tid=t1&"), std::string::npos) << details[0];

    MoodsFile moods = ReadMoods(a);
    EXPECT_EQ(moods.targetId, "10001");
    ASSERT_EQ(moods.posts.size(), 4u);
    const MoodPost& p0 = moods.posts[0];
    EXPECT_EQ(p0.id, "t0");
    EXPECT_EQ(IsoChinaTime(p0.time), "2017-07-14T10:40:00+08:00");
    EXPECT_EQ(ToUtf8(p0.text), "第一条 & <b>粗</b> 😀");
    EXPECT_EQ(ToUtf8(p0.place.name), "西湖 & <桥>");
    EXPECT_EQ(p0.forwardCount, 3);
    ASSERT_EQ(p0.comments.size(), 1u);
    EXPECT_EQ(ToUtf8(p0.comments[0].text), "好 & <i>");
    EXPECT_EQ(p0.comments[0].uin, "20001234");
    ASSERT_EQ(p0.comments[0].replies.size(), 1u);
    EXPECT_EQ(ToUtf8(p0.comments[0].replies[0].text), "谢谢 🙏");
    // Each post names the files of its own pictures, with the bytes the service served for them.
    ASSERT_EQ(p0.files.size(), 2u);
    const std::filesystem::path folder = PathFromText(a.folder);
    EXPECT_EQ(test::FileText(folder / PathFromText(p0.files[0])), sim->PictureBytes("m0_1"));
    EXPECT_EQ(test::FileText(folder / PathFromText(p0.files[1])), sim->PictureBytes("m0_2"));
    EXPECT_EQ(moods.posts[1].id, "t1");
    EXPECT_EQ(ToUtf8(moods.posts[1].text), "一二三四五六七八九十这是后面的字，只在详情里才有");
    EXPECT_FALSE(moods.posts[1].textCut);
    ASSERT_EQ(moods.posts[1].files.size(), 1u);
    EXPECT_EQ(test::FileText(folder / PathFromText(moods.posts[1].files[0])), sim->PictureBytes("m1_1"));
    EXPECT_EQ(ToUtf8(moods.posts[2].repost), "原文 <原>");
    EXPECT_TRUE(moods.posts[2].files.empty());
    EXPECT_STREQ(PrivacyWord(moods.posts[2]), "friends");
    EXPECT_EQ(moods.posts[3].id, "t3");

    // Two new posts, and a new comment on the oldest.
    json changed = Moods();
    changed[3]["comments"].push_back({{"name", "乙"}, {"uin", 30002}, {"text", "后来的评论"}});
    changed.insert(changed.begin(), json{{"tid", "n1"}, {"createtime", 1500050000}, {"text", "没有图片"}});
    changed.insert(changed.begin(),
                   json{{"tid", "n0"}, {"createtime", 1500100000}, {"text", "新的"}, {"pictures", {{{"id", "n0_1"}}}}});
    StartWith(changed);
    PostRecorder second;
    const AlbumOutcome b = DownloadMoods(second);
    EXPECT_TRUE(b.Complete());
    EXPECT_EQ(b.saved, 1u);
    EXPECT_EQ(b.alreadyHad, 4u);
    EXPECT_EQ(b.posts.added, 2u);
    EXPECT_EQ(b.posts.refreshed, 1u);
    const std::map<std::string, PostChange> expected = {
        {"n0", PostChange::Added},     {"n1", PostChange::Added},     {"t0", PostChange::Unchanged},
        {"t1", PostChange::Unchanged}, {"t2", PostChange::Unchanged}, {"t3", PostChange::Refreshed}};
    EXPECT_EQ(second.posts, expected);
    // No picture was asked for twice: the second run fetched the new post's picture alone.
    EXPECT_EQ(Requested("qpic.cn"), std::vector<std::string>{sim->PictureAddress("n0_1")});

    moods = ReadMoods(b);
    ASSERT_EQ(moods.posts.size(), 6u);
    EXPECT_EQ(moods.posts[0].id, "n0");
    EXPECT_EQ(moods.posts[5].id, "t3");
    ASSERT_EQ(moods.posts[5].comments.size(), 2u);
    EXPECT_EQ(ToUtf8(moods.posts[5].comments[1].text), "后来的评论");
    EXPECT_EQ(moods.posts[5].files.size(), 1u);
}

}  // namespace
}  // namespace qm
