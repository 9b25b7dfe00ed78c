// Loading the media toolbox module: search order, missing pieces, counting.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"

namespace fs = std::filesystem;
using namespace tunara;
using namespace tunara::media;

namespace {

std::string Fake(const char* variant) {
    return std::string(TUNARA_BINARY_DIR) + "/tests/media-fakes/libtunara-media-fake-" + variant +
           ".so";
}

bool StillMapped(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

// The enter count the fake at path has seen (it must be loaded).
int EntersOf(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return -1;
    auto fn = reinterpret_cast<int (*)()>(dlsym(h, "tunaraFakeEnters"));
    int n = fn ? fn() : -1;
    dlclose(h);
    return n;
}

class MediaLoader : public ::testing::Test {
protected:
    void TearDown() override {
        while (LoadCount() > 0) TerminateClient();
        unsetenv("TUNARA_MEDIA_MODULE");
    }
};

void ExpectEveryCallFails() {
    EXPECT_EQ(EnterToolbox(), kTmNotLoaded);
    int32_t scale = 77;
    EXPECT_EQ(MovieTimeScale(reinterpret_cast<Movie>(0x10), &scale), kTmNotLoaded);
    EXPECT_EQ(scale, 0) << "a failed call leaves its output zeroed";
    TmLevelRecord levels{2, 9, 9};
    EXPECT_EQ(MeterLevels(reinterpret_cast<MediaHandler>(0x10), &levels), kTmNotLoaded);
    EXPECT_EQ(levels.left, 0);
    TmParamBlock block{};
    EXPECT_EQ(CallComponentWithStorage(nullptr, block, nullptr), kTmNotLoaded);
}

}  // namespace

// A module file that does not exist leaves the toolbox unloaded and every call failing.
TEST_F(MediaLoader, MissingModule_FailsAndEveryCallFails) {
    EXPECT_EQ(InitializeClientFrom({"/nonexistent/libtunara-media.so"}), kTmNotLoaded);
    EXPECT_FALSE(IsLoaded());
    EXPECT_EQ(LoadCount(), 0);
    ExpectEveryCallFails();
}

// A module without one of the three entry points is refused and unloaded again.
TEST_F(MediaLoader, MissingEntryPoint_UnloadsModule) {
    const std::string path = Fake("noentry");
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(InitializeClientFrom({path}), kTmNotLoaded);
    EXPECT_FALSE(IsLoaded());
    EXPECT_FALSE(StillMapped(path));
    ExpectEveryCallFails();
}

// A module built for another interface version is refused like one without
// its entry points.
TEST_F(MediaLoader, OtherAbiVersion_UnloadsModule) {
    const std::string path = Fake("oldabi");
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(InitializeClientFrom({path}), kTmNotLoaded);
    EXPECT_FALSE(IsLoaded());
    EXPECT_FALSE(StillMapped(path));
    ExpectEveryCallFails();
}

// Two initialisations need two terminations; the module goes with the last one.
TEST_F(MediaLoader, CountedInitialisation_UnloadsAtZero) {
    const std::string path = Fake("full");
    ASSERT_EQ(InitializeClientFrom({path}), kTmOk);
    ASSERT_EQ(InitializeClientFrom({path}), kTmOk);
    EXPECT_EQ(LoadCount(), 2);
    TerminateClient();
    EXPECT_TRUE(IsLoaded());
    EXPECT_EQ(EnterToolbox(), kTmOk);
    EXPECT_EQ(EntersOf(path), 1);
    TerminateClient();
    EXPECT_FALSE(IsLoaded());
    EXPECT_FALSE(StillMapped(path));
    ExpectEveryCallFails();
    TerminateClient();  // one too many does no harm
    EXPECT_EQ(LoadCount(), 0);
}

// A module the process already has wins over an earlier candidate file.
TEST_F(MediaLoader, AlreadyLoadedModule_WinsOverFiles) {
    const std::string other = Fake("other"), full = Fake("full");
    void* held = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(InitializeClientFrom({other, full}), kTmOk);
    EXPECT_EQ(EnterToolbox(), kTmOk);
    EXPECT_EQ(EntersOf(full), 1);
    EXPECT_FALSE(StillMapped(other));
    TerminateClient();
    dlclose(held);
}

// Candidates are tried in order (program folder before the system path).
TEST_F(MediaLoader, FirstExistingCandidate_IsUsed) {
    const std::string other = Fake("other"), full = Fake("full");
    ASSERT_EQ(InitializeClientFrom({"/nonexistent/a.so", other, full}), kTmOk);
    EXPECT_EQ(EnterToolbox(), kTmOk);
    EXPECT_EQ(EntersOf(other), 1);
    EXPECT_FALSE(StillMapped(full));
}

// TUNARA_MEDIA_MODULE names the only file tried.
TEST_F(MediaLoader, EnvironmentOverride_IsTheOnlyCandidate) {
    setenv("TUNARA_MEDIA_MODULE", "/nonexistent/libtunara-media.so", 1);
    EXPECT_EQ(InitializeClient(), kTmNotLoaded);
    setenv("TUNARA_MEDIA_MODULE", Fake("full").c_str(), 1);
    EXPECT_EQ(InitializeClient(), kTmOk);
    EXPECT_TRUE(IsLoaded());
}

// Start-up fails and leaves nothing loaded when the module is missing.
TEST_F(MediaLoader, StartMediaServices_WithoutModule_Fails) {
    setenv("TUNARA_MEDIA_MODULE", "/nonexistent/libtunara-media.so", 1);
    EXPECT_FALSE(StartMediaServices());
    EXPECT_EQ(LoadCount(), 0);

    setenv("TUNARA_MEDIA_MODULE", Fake("full").c_str(), 1);
    EXPECT_TRUE(StartMediaServices());
    StopMediaServices();
    EXPECT_FALSE(IsLoaded());
}
