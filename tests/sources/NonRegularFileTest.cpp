#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>

#include "engine/testing/EngineTesting.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/SourceFactory.h"

namespace tunara {
namespace {

namespace fs = std::filesystem;

// A FIFO named like a media file is refused at once with the open error; a
// plain open() would wait for a writer and freeze whoever asked.
TEST(NonRegularFile, FifoNamedLikeMediaIsRefusedAtOnce) {
    char tmpl[] = "/tmp/tunara-fifo-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    for (const char* name : {"x.mp3", "x.wav", "x.mov"}) {
        const std::string path = (dir / name).string();
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        auto source = CreateSourceFor(tunara::testing::TestEngine(), path);
        source->SetLocation(path);
        // A watchdog releases a blocked open after 10 s, so a fault fails the
        // test instead of hanging it.
        std::promise<void> done;
        auto watchdog = std::async(std::launch::async, [&, f = done.get_future()] {
            if (f.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return false;
            // O_RDWR never blocks on a FIFO and releases a reader blocked in open().
            const int fd = ::open(path.c_str(), O_RDWR);
            if (fd >= 0) ::close(fd);
            return true;
        });
        const int loaded = source->LoadInfo();
        done.set_value();
        EXPECT_FALSE(watchdog.get()) << name << " blocked";
        EXPECT_EQ(loaded, 0) << name;
        const std::optional<UserMessage> error = source->TakeError();
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->Formatted(), "Failed to open the file " + path + ".");
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tunara
