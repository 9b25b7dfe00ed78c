#pragma once
// A disc as the CD information code sees it, without a drive: facts set by
// the test, tracks "Track n" / "Unknown" as a freshly read disc has them.
#include <mutex>
#include <string>
#include <vector>

#include "metadata/CddbLookup.h"

namespace tunara::testing {

class FakeCdDisc : public cddb::CdInfoDisc {
public:
    // The worked example: 3 tracks at 150, 15000 and 45375 frames, 1198 s.
    FakeCdDisc() : FakeCdDisc({150, 15000, 45375}, 1198, 0x2A4B5C) {}
    FakeCdDisc(std::vector<uint32_t> offsets, int lengthSeconds, uint32_t mediaIdentity)
        : offsets_(std::move(offsets)), length_(lengthSeconds), identity_(mediaIdentity) {
        for (size_t i = 0; i < offsets_.size(); ++i) {
            cddb::CdTrackText t;
            t.number = static_cast<int>(i) + 1;
            t.title = "Track " + std::to_string(t.number);
            t.artist = t.album = t.category = "Unknown";
            tracks_.push_back(t);
        }
    }

    uint32_t DiscId() const override { return 0x7A0A2E03; }
    int TrackCount() const override { return static_cast<int>(offsets_.size()); }
    int DiscLengthSeconds() const override { return length_; }
    std::vector<uint32_t> TrackOffsets() const override { return offsets_; }
    uint64_t MediaIdentity() const override { return identity_; }
    std::string MusicBrainzDiscId() const override { return musicBrainzId; }
    std::mutex& LookupLock() override { return lookupLock_; }
    void EditTracks(const std::function<void(std::vector<cddb::CdTrackText>&)>& edit) override {
        std::lock_guard lock(itemLock_);
        edit(tracks_);
    }

    std::vector<cddb::CdTrackText> Tracks() {
        std::lock_guard lock(itemLock_);
        return tracks_;
    }
    // A data track: counted on the disc, absent from the list.
    void DropFromList(int number) {
        std::lock_guard lock(itemLock_);
        std::erase_if(tracks_, [&](const cddb::CdTrackText& t) { return t.number == number; });
    }

    std::string musicBrainzId = "Tun4raFakeDiscId0000000000A-";

private:
    std::vector<uint32_t> offsets_;
    int length_;
    uint32_t identity_;
    std::mutex itemLock_;
    std::mutex lookupLock_;
    std::vector<cddb::CdTrackText> tracks_;
};

}  // namespace tunara::testing
