#include "app/services/AppServices.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/ui/testing/RecordingInteraction.h"
#include "support/ScopedEnv.h"

namespace {

using namespace tunara;

class NoDialogs : public FileDialogs {
public:
    std::vector<std::string> ChooseOpen(const std::vector<FileFilter>&, int, bool) override {
        return {"chosen"};
    }
    std::optional<SaveChoice> ChooseSave(const std::vector<FileFilter>&, int, bool) override {
        return std::nullopt;
    }
};

// The hooks are in place for the object's life and gone after it; the
// constructing thread is the UI thread.
TEST(AppServices, InstallsAndRemovesTheProcessHooks) {
    UserInteraction& before = CurrentUserInteraction();
    RecordingInteraction rec;
    NoDialogs dialogs;
    {
        app::AppServices services(&rec, &dialogs);
        EXPECT_TRUE(OnUiThread());
        bool other = true;
        std::thread([&] { other = OnUiThread(); }).join();
        EXPECT_FALSE(other);
        EXPECT_EQ(&CurrentUserInteraction(), &rec);
        EXPECT_EQ(&CurrentFileDialogs(), &dialogs);
        EXPECT_FALSE(services.MediaStarted());
    }
    EXPECT_EQ(&CurrentUserInteraction(), &before);
    EXPECT_NE(&CurrentFileDialogs(), &dialogs);
    EXPECT_TRUE(CurrentFileDialogs().ChooseOpen({}, 0, false).empty());
}

// The toolbox that does not start is the composition root's to tell, once
// per attempt, in the table's words.
TEST(AppServices, MediaThatDoesNotStart_IsTold) {
    tunara::testing::ScopedEnv env("TUNARA_MEDIA_MODULE", "/nonexistent/module.so");
    RecordingInteraction rec;
    app::AppServices services(&rec);
    EXPECT_FALSE(services.StartMedia());
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0].Formatted(), "Failed to initialize QuickTime.");
}

}  // namespace
