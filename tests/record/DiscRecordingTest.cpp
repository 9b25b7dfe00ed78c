#include <gtest/gtest.h>

#include <cstdio>

#include "engine/testing/EngineTesting.h"
#include "record/DiscRecording.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "support/CdImage.h"
#include "support/TempDir.h"

namespace tunara {
namespace {

// The CD window and tunara-cli rip both start from here: the tracks asked
// for, in that order, each tagged with the disc's ids, and the AccurateRip
// facts from the disc's first audio track.
TEST(DiscRecording, TracksInOrderWithTheDiscIds) {
    testing::TempDir dir;
    testing::CdImage image = testing::MakeCdImage(dir.path, "disc", {{75}, {90}, {60}},
                                                  {"Album", "Band", {"One", "Two", "Three"}, {}});
    CdDisc disc(testing::TestEngine(), image.cue);
    ASSERT_EQ(disc.ReadToc(), 0u);
    RecordJobConfig settings;
    settings.readOffset = 6;

    DiscRecording r = PrepareDiscRecording(settings, disc, {2, 0});
    ASSERT_EQ(r.config.tracks.size(), 2u);
    EXPECT_EQ(r.config.tracks[0].number, 3);
    EXPECT_EQ(r.config.tracks[1].title, "One");
    char cddb[9];
    std::snprintf(cddb, sizeof cddb, "%08x", disc.DiscId());
    const std::string musicBrainz = disc.Info().MusicBrainzDiscId();
    EXPECT_FALSE(musicBrainz.empty());
    for (const RecordTrack& t : r.config.tracks) {
        EXPECT_EQ(t.cddbDiscId, cddb);
        EXPECT_EQ(t.musicBrainzDiscId, musicBrainz);
        EXPECT_EQ(t.trackTotal, 3);
    }
    EXPECT_EQ(r.config.drive, image.cue);
    EXPECT_NE(r.reader, nullptr);
    EXPECT_EQ(r.facts.drive, image.cue);
    EXPECT_EQ(r.facts.readOffset, 6);
    EXPECT_EQ(r.facts.album, "Album");
    EXPECT_EQ(r.facts.artist, "Band");
}

}  // namespace
}  // namespace tunara
