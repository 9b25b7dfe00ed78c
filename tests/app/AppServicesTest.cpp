#include "app/services/AppServices.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/ui/testing/RecordingInteraction.h"

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

}  // namespace
