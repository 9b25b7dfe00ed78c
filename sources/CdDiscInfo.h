#pragma once
// The CD information of one CdDisc: its entry in the cache file and its CDDB
// lookups (metadata/CddbLookup.h), with the status and error texts the
// window reads when a lookup's notice arrives. Each CdDisc owns one.
//
// Lookups are abandoned (cancelled and waited for) when the disc's tracks
// are cleared, so a lookup never writes titles of one disc into the tracks
// of the next, and never outlives the disc.
#include <filesystem>
#include <string>

#include "metadata/CddbLookup.h"
#include "platform/profile/Profile.h"

namespace tunara {

class CdDisc;

class CdDiscInfo : public cddb::CdInfoDisc {
public:
    explicit CdDiscInfo(CdDisc& disc);
    ~CdDiscInfo() override;

    // Fills the tracks from the cache; true when the disc was there (it "has
    // CD information"). User-interface thread.
    bool ReadCache(const std::filesystem::path& file = profile::CdPlayerIniPath());
    // Starts a lookup with the disc's table of contents as it is now; its
    // notices go to the disc's notify window as messages 1045..1047.
    void StartLookup(const cddb::LookupConfig& config);
    void Abandon() { lookup_.Abandon(); }
    bool Running() const { return lookup_.Running(); }
    void Wait() { lookup_.Wait(); }

    std::string StatusText() const { return lookup_.StatusText(); }
    std::string ErrorText() const { return lookup_.ErrorText(); }
    int ErrorCode() const { return lookup_.ErrorCode(); }
    // The lookup itself: its outcome and the releases it offered.
    cddb::CddbLookup& Lookup() { return lookup_; }

    // cddb::CdInfoDisc
    uint32_t DiscId() const override;
    int TrackCount() const override;
    int DiscLengthSeconds() const override;
    std::vector<uint32_t> TrackOffsets() const override;
    uint64_t MediaIdentity() const override;
    std::string MusicBrainzDiscId() const override;
    std::mutex& LookupLock() override;
    void EditTracks(const std::function<void(std::vector<cddb::CdTrackText>&)>& edit) override;

private:
    CdDisc& disc_;
    cddb::CddbLookup lookup_;
};

}  // namespace tunara
