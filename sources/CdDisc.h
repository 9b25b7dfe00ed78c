#pragma once
// One CD drive and the disc in it: the table of contents, the CDDB disc id,
// the media identity and one CdTrackSource per audio track. It is a
// TrackList, so the controller plays a disc like any other list.
//
// Threads: the track list is changed on the user-interface thread and read
// by the CDDB lookup thread; both hold ItemLock() around every walk over the
// list and every change (the list operations below take it themselves).
// A lookup holds LookupLock() for its whole run.
//
// ReadToc and Clear destroy the tracks: when the disc's list is the active
// one, the caller first moves the current item away and refreshes, so that
// nothing keeps playing a destroyed track.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/UserInteraction.h"
#include "sources/CdTrackSource.h"
#include "tracklist/TrackList.h"

namespace tunara {

namespace cdaudio {
struct CdText;
}
class CdDiscInfo;

class CdDisc : public TrackList {
public:
    // `drive` is the CD audio element name; empty makes a disc without a
    // drive (so that a current disc always exists). The tracks play through
    // `engine`.
    CdDisc(OutputEngine& engine, std::string drive);
    ~CdDisc() override;

    // Reads the table of contents and rebuilds the tracks. Returns the CD
    // device's result: 0 on success (also when no disc is in the drive),
    // 263 for a disc without a drive (silently); other failures leave the
    // list empty and their text for TakeError.
    uint32_t ReadToc();
    // What the last failed ReadToc has to tell the user; taking it clears it.
    std::optional<UserMessage> TakeError() { return error_.Take(); }

    // The list operations, under the item lock.
    int Append(std::unique_ptr<MediaSource> item) override;
    void InsertAt(int index, std::unique_ptr<MediaSource> item) override;
    std::unique_ptr<MediaSource> Remove(int index) override;
    void Delete(int index) override;
    void Move(int from, int to) override;
    void Clear() override;

    const std::string& Drive() const { return drive_; }
    // Tracks on the disc, audio and data.
    int TrackCount() const { return trackCount_; }
    // Playing time in whole seconds, as CDDB counts it.
    int DiscLength() const { return discLength_; }
    uint64_t MediaIdentity() const { return mediaIdentity_; }
    uint32_t DiscId() const { return discId_; }
    // Each track's start in frames of 1/75 s, lead-in included.
    const std::vector<uint32_t>& TrackOffsets() const { return trackOffsets_; }
    // The lead-out in frames, lead-in included (0 without a disc).
    uint32_t LeadoutFrames() const { return leadoutFrames_; }

    std::recursive_mutex& ItemLock() { return itemLock_; }
    std::mutex& LookupLock() { return lookupLock_; }

    // The disc's CD information: cache entry and CDDB lookups.
    CdDiscInfo& Info() { return *info_; }

    // Where a lookup's notices go (the main window's posted messages);
    // called from the lookup thread.
    using Notify = std::function<void(int message)>;
    void SetNotifyWindow(Notify notify) { notify_ = std::move(notify); }
    const Notify& NotifyWindow() const { return notify_; }

    // The CDDB identifier of a table of contents: starts in frames (lead-in
    // included) and the lead-out in frames.
    static uint32_t ComputeDiscId(const std::vector<uint32_t>& offsets, uint32_t leadoutFrames);
    static int ComputeDiscLength(const std::vector<uint32_t>& offsets, uint32_t leadoutFrames);

private:
    // The disc's own texts over the "Track N" defaults; the cache and CDDB
    // come after and win.
    void ApplyCdText(const cdaudio::CdText& text);
    void Forget();
    uint32_t Fail(uint32_t result, uint32_t id);

    OutputEngine& engine_;
    std::string drive_;
    int trackCount_ = 0;
    int discLength_ = 0;
    uint64_t mediaIdentity_ = 0;
    uint32_t discId_ = 0;
    std::vector<uint32_t> trackOffsets_;
    uint32_t leadoutFrames_ = 0;
    std::recursive_mutex itemLock_;
    std::mutex lookupLock_;
    Notify notify_;
    ErrorSlot error_;
    std::unique_ptr<CdDiscInfo> info_;  // last: its lookups end before the rest goes
};

}  // namespace tunara
