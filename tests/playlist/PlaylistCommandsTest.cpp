#include "playlist/PlaylistCommands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/UserInteraction.h"
#include "platform/ui/testing/RecordingInteraction.h"
#include "playlist/FakeMediaSource.h"
#include "playlist/ScriptedDialogs.h"
#include "support/TempDir.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

class PlaylistCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = tmp_.path.string() + "/"; }
    std::string Touch(const std::string& name) {
        std::ofstream(dir_ + name) << "x";
        return dir_ + name;
    }
    // A modified list of two items, the second current.
    void Modified() {
        list_.AddFile(Touch("a.wav"));
        list_.AddFile(Touch("b.wav"));
        list_.SetCurrent(1);
    }
    PlaylistCommands Commands() {
        return PlaylistCommands(
            list_, [this] { refreshes_.push_back(list_.Current()); }, [this] { ++views_; },
            [] { return true; });
    }

    testing::FakeSources sources_;
    ScopedRecordingInteraction ui_;
    testing::ScriptedDialogs dialogs_;
    Playlist list_{sources_};
    tunara::testing::TempDir tmp_;
    std::string dir_;
    std::vector<int> refreshes_;  // current index at each main-window refresh
    int views_ = 0;
};

// Cancel at the prompt stops New and leaves the list as it was.
TEST_F(PlaylistCommandsTest, New_CancelKeepsList) {
    Modified();
    ui_->answers = {Answer::Cancel};
    EXPECT_FALSE(Commands().New());
    EXPECT_EQ(ui_->questions, std::vector<std::string>{kSavePlaylistQuestion});
    EXPECT_EQ(list_.Count(), 2);
    EXPECT_TRUE(refreshes_.empty());
}

// No: the playing item is stopped first (current -1 and a refresh), then the
// list is emptied without saving.
TEST_F(PlaylistCommandsTest, New_NoDiscards) {
    Modified();
    ui_->answers = {Answer::No};
    EXPECT_TRUE(Commands().New());
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_FALSE(list_.IsModified());
    ASSERT_FALSE(refreshes_.empty());
    EXPECT_EQ(refreshes_.front(), -1);
    EXPECT_EQ(dialogs_.saves, 0);
}

// Yes on a list without a file goes through Save As; cancelling that dialog
// stops New; choosing a name saves and New goes on.
TEST_F(PlaylistCommandsTest, New_YesSavesOrStops) {
    Modified();
    ui_->answers = {Answer::Yes, Answer::Yes};
    EXPECT_FALSE(Commands().New());
    EXPECT_EQ(list_.Count(), 2);
    dialogs_.saveAnswers.push_back(SaveChoice{dir_ + "kept", 1});
    EXPECT_TRUE(Commands().New());
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_TRUE(fs::exists(dir_ + "kept.m3u"));
}

// An unmodified list asks nothing.
TEST_F(PlaylistCommandsTest, New_UnmodifiedAsksNothing) {
    EXPECT_TRUE(Commands().New());
    EXPECT_TRUE(ui_->questions.empty());
}

TEST_F(PlaylistCommandsTest, Open_PromptPaths) {
    std::string other = Touch("c.wav");
    std::ofstream(dir_ + "o.m3u") << other << "\n";

    Modified();
    ui_->answers.push_back(Answer::Cancel);
    EXPECT_FALSE(Commands().Open());
    EXPECT_EQ(dialogs_.opens, 0);
    EXPECT_EQ(list_.Count(), 2);

    ui_->answers.push_back(Answer::No);
    dialogs_.openAnswers.push_back({dir_ + "o.m3u"});
    EXPECT_TRUE(Commands().Open());
    EXPECT_EQ(dialogs_.lastFilters.size(), 3u);
    EXPECT_EQ(dialogs_.lastFilters[1].pattern, "*.m3u");
    EXPECT_EQ(dialogs_.lastFilters[2].pattern, "*.m3u8");
    EXPECT_EQ(list_.Count(), 1);
    EXPECT_EQ(list_.ItemAt(0)->GetLocation(), other);
    EXPECT_EQ(refreshes_.front(), -1);  // the old item stopped before loading

    // Yes with a failed save stops Open before its dialog.
    list_.AddFile(other);
    ui_->answers.push_back(Answer::Yes);
    int opensBefore = dialogs_.opens;
    list_.SaveTo(dir_ + "no/such/folder.pls");
    ASSERT_TRUE(list_.IsModified());
    EXPECT_FALSE(Commands().Open());
    EXPECT_EQ(dialogs_.opens, opensBefore);
}

// The layout follows the filter chosen; a name without extension gets the
// filter's extension, a typed one is kept.
TEST_F(PlaylistCommandsTest, SaveAs_FilterDecidesLayout) {
    list_.AddFile(Touch("a.wav"));
    dialogs_.saveAnswers.push_back(SaveChoice{dir_ + "one", 0});
    dialogs_.saveAnswers.push_back(SaveChoice{dir_ + "two.m3u", 0});
    dialogs_.saveAnswers.push_back(SaveChoice{dir_ + "three.txt", 1});
    dialogs_.saveAnswers.push_back(SaveChoice{dir_ + "four", 2});
    EXPECT_TRUE(Commands().SaveAs());
    EXPECT_TRUE(dialogs_.lastOverwrite);
    EXPECT_EQ(dialogs_.lastSelected, 0);
    EXPECT_EQ(list_.Path(), dir_ + "one.pls");
    EXPECT_TRUE(Commands().SaveAs());
    EXPECT_FALSE(list_.IsM3u());
    std::ifstream two(dir_ + "two.m3u");
    std::string first;
    std::getline(two, first);
    EXPECT_EQ(first, "[playlist]\r");
    EXPECT_TRUE(Commands().SaveAs());
    EXPECT_TRUE(list_.IsM3u());
    EXPECT_EQ(list_.Path(), dir_ + "three.txt");
    list_.SetM3u(false);
    EXPECT_TRUE(Commands().SaveAs());
    EXPECT_TRUE(list_.IsM3u());
    EXPECT_EQ(list_.Path(), dir_ + "four.m3u8");
}

// Save with a path writes there without a dialog.
TEST_F(PlaylistCommandsTest, Save_WithPathNeedsNoDialog) {
    list_.AddFile(Touch("a.wav"));
    ASSERT_TRUE(list_.SaveTo(dir_ + "l.pls"));
    list_.AddFile(Touch("b.wav"));
    EXPECT_TRUE(Commands().Save());
    EXPECT_EQ(dialogs_.saves, 0);
    EXPECT_FALSE(list_.IsModified());
}

TEST_F(PlaylistCommandsTest, Add_AppendsChosenFilesInOrder) {
    dialogs_.openAnswers.push_back({Touch("x.mp3"), dir_ + "missing.mp3", Touch("y.mov")});
    EXPECT_EQ(Commands().Add(), 2);
    EXPECT_TRUE(dialogs_.lastMultiple);
    EXPECT_EQ(dialogs_.lastSelected, 0);
    EXPECT_EQ(list_.ItemAt(1)->GetLocation(), dir_ + "y.mov");
}

// Selected view rows are removed as model rows shifted by those already
// gone; removing the playing item first moves playback to a neighbour.
TEST_F(PlaylistCommandsTest, Remove_SelectedRowsAndCurrent) {
    for (const char* n : {"0.wav", "1.wav", "2.wav", "3.wav", "4.wav"}) list_.AddFile(Touch(n));
    list_.SetCurrent(2);
    Commands().Remove({1, 2});
    ASSERT_EQ(list_.Count(), 3);
    EXPECT_EQ(list_.ItemAt(1)->GetLocation(), dir_ + "3.wav");
    EXPECT_EQ(refreshes_.front(), 2);  // moved to item "3" before the delete
    EXPECT_EQ(list_.CurrentItem()->GetLocation(), dir_ + "3.wav");

    list_.SetCurrent(2);  // the last item
    refreshes_.clear();
    Commands().Remove({2});
    EXPECT_EQ(refreshes_.front(), 1);
    EXPECT_EQ(list_.CurrentItem()->GetLocation(), dir_ + "3.wav");

    Commands().Remove({0, 1, 7});
    EXPECT_EQ(list_.Count(), 0);
    EXPECT_EQ(list_.Current(), -1);
}

}  // namespace
}  // namespace tunara
