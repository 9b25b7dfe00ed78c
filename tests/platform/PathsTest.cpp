#include <gtest/gtest.h>

#include "platform/io/Paths.h"
#include "platform/profile/Profile.h"
#include "platform/registry/Registry.h"
#include "platform/shell/XdgShell.h"
#include "support/ScopedEnv.h"

namespace tunara {
namespace {

using testing::ScopedEnv;

// The settings, the CD cache and the desktop's files of one user share one
// configuration tree, whatever of HOME and XDG_CONFIG_HOME is set.
TEST(Paths, EveryStoreOfOneUserLandsInOneTree) {
    const std::optional<std::string> unset;
    for (const auto& [home, xdg] :
         {std::pair{unset, unset},
          {std::optional<std::string>("/home/x"), unset},
          {unset, std::optional<std::string>("/cfg")},
          {std::optional<std::string>(""), std::optional<std::string>("rel")}}) {
        ScopedEnv env;
        env.Set("HOME", home).Set("XDG_CONFIG_HOME", xdg);
        const auto tree = io::ConfigHome();
        SCOPED_TRACE(tree.string());
        EXPECT_TRUE(tree.is_absolute());
        EXPECT_EQ(registry::UserStoreFolder().parent_path().parent_path(), tree);
        EXPECT_EQ(profile::CdPlayerIniPath().parent_path().parent_path(), tree);
        EXPECT_EQ(shell::MimeAppsFile().parent_path(), tree);
    }
}

TEST(Paths, FileTitleDropsFolderAndLastExtensionOnly) {
    EXPECT_EQ(io::FileTitle("/music/a.b.mp3"), "a.b");
    EXPECT_EQ(io::FileTitle("/music/.hidden"), ".hidden");
    EXPECT_EQ(io::FileTitle("noext"), "noext");
}

}  // namespace
}  // namespace tunara
