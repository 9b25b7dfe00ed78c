#include "sources/CdDisc.h"

#include <cstdlib>

#include "metadata/TextCodec.h"
#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/ImageCheck.h"
#include "platform/ui/UserInteraction.h"
#include "sources/CdDiscInfo.h"

namespace tunara {

namespace cd = cdaudio;

namespace {

// The CD device's text, cut to 128 characters; for an image refused as
// damaged, what is wrong with it.
UserMessage CdError(uint32_t result, const std::string& drive) {
    if (result == cd::kErrHardware && cd::IsImageName(drive)) {
        if (std::string why = cd::CheckImage(drive); !why.empty()) return UserMessage{0, why, {}};
    }
    std::string text = cd::ResultText(result);
    if (text.size() > 128) text.resize(128);
    return UserMessage{0, text, {}};
}

int DigitSum(uint32_t n) {
    int sum = 0;
    for (; n > 0; n /= 10) sum += static_cast<int>(n % 10);
    return sum;
}

constexpr uint32_t FramesOf(uint32_t msf) {
    return cd::MsfMinutes(msf) * 4500 + cd::MsfSeconds(msf) * 75 + cd::MsfFrames(msf);
}

}  // namespace

CdDisc::CdDisc(OutputEngine& engine, std::string drive)
    : engine_(engine), drive_(std::move(drive)), info_(std::make_unique<CdDiscInfo>(*this)) {}

CdDisc::~CdDisc() {
    info_->Abandon();
    // Waits for a lookup that still walks the tracks.
    std::lock_guard lookup(lookupLock_);
}

int CdDisc::Append(std::unique_ptr<MediaSource> item) {
    std::lock_guard lock(itemLock_);
    return TrackList::Append(std::move(item));
}
void CdDisc::InsertAt(int index, std::unique_ptr<MediaSource> item) {
    std::lock_guard lock(itemLock_);
    TrackList::InsertAt(index, std::move(item));
}
std::unique_ptr<MediaSource> CdDisc::Remove(int index) {
    std::lock_guard lock(itemLock_);
    return TrackList::Remove(index);
}
void CdDisc::Delete(int index) {
    std::lock_guard lock(itemLock_);
    TrackList::Delete(index);
}
void CdDisc::Move(int from, int to) {
    std::lock_guard lock(itemLock_);
    TrackList::Move(from, to);
}
void CdDisc::Clear() {
    // A lookup still running belongs to the tracks that go now. Not under the
    // item lock: the lookup may be waiting for it.
    info_->Abandon();
    std::lock_guard lock(itemLock_);
    TrackList::Clear();
}

int CdDisc::ComputeDiscLength(const std::vector<uint32_t>& offsets, uint32_t leadoutFrames) {
    if (offsets.empty()) return 0;
    return static_cast<int>(leadoutFrames / 75) - static_cast<int>(offsets.front() / 75);
}

uint32_t CdDisc::ComputeDiscId(const std::vector<uint32_t>& offsets, uint32_t leadoutFrames) {
    int sum = 0;
    for (uint32_t frames : offsets) sum += DigitSum(frames / 75);
    uint32_t length = static_cast<uint32_t>(ComputeDiscLength(offsets, leadoutFrames));
    return (static_cast<uint32_t>(sum % 255) << 24) | ((length & 0xffff) << 8) |
           (static_cast<uint32_t>(offsets.size()) & 0xff);
}

void CdDisc::ApplyCdText(const cdaudio::CdText& text) {
    auto clean = [](const std::string& s) { return text::DropControls(s); };
    const std::string album = clean(text.title);
    const std::string albumArtist = clean(text.performer);
    const std::string genre = clean(text.genre);
    std::lock_guard lock(itemLock_);
    for (int i = 0; i < Count(); ++i) {
        auto* track = dynamic_cast<CdTrackSource*>(ItemAt(i));
        if (!track) continue;
        const auto t = static_cast<size_t>(track->TrackNumber() - 1);
        const std::string title = t < text.trackTitles.size() ? clean(text.trackTitles[t]) : "";
        std::string artist =
            t < text.trackPerformers.size() ? clean(text.trackPerformers[t]) : std::string();
        if (artist.empty()) artist = albumArtist;
        if (!title.empty()) track->SetTitle(title);
        if (!artist.empty()) track->SetArtist(artist);
        if (!album.empty()) track->SetAlbum(album);
        if (!genre.empty()) track->SetGenre(genre);
    }
}

void CdDisc::Forget() {
    Clear();
    trackCount_ = 0;
    discLength_ = 0;
    mediaIdentity_ = 0;
    discId_ = 0;
    trackOffsets_.clear();
    leadoutFrames_ = 0;
}

uint32_t CdDisc::Fail(uint32_t result, uint32_t id) {
    error_.Set(CdError(result, drive_));
    Forget();
    cd::Close(id);
    return result;
}

uint32_t CdDisc::ReadToc() {
    if (drive_.empty()) return cd::kErrInvalidDeviceName;
    error_.Take();  // an earlier read's failure is no longer news
    cd::DeviceId opened = 0;
    cd::Result r = cd::Open(drive_, opened);
    if (r != cd::kOk && r != cd::kErrDeviceOpen) {
        error_.Set(CdError(r, drive_));
        return r;
    }
    cd::DeviceId id = cd::GetDeviceId(drive_);
    Forget();

    bool present = false;
    if (uint32_t e = cd::StatusMediaPresent(id, present); e != cd::kOk) return Fail(e, id);
    if (!present) return cd::Close(id);

    int count = 0;
    std::string identity;
    if (uint32_t e = cd::StatusNumberOfTracks(id, count); e != cd::kOk) return Fail(e, id);
    if (uint32_t e = cd::InfoMediaIdentity(id, identity); e != cd::kOk) return Fail(e, id);
    if (identity.size() > 128) identity.resize(128);
    cd::SetTimeFormat(id, cd::TimeFormat::Msf);

    std::vector<uint32_t> offsets;
    for (int t = 1; t <= count; ++t) {
        uint32_t msf = 0;
        if (uint32_t e = cd::StatusTrackPosition(id, t, msf); e != cd::kOk) return Fail(e, id);
        offsets.push_back(FramesOf(msf));
    }
    uint32_t lastLength = 0;
    if (uint32_t e = cd::StatusTrackLength(id, count, lastLength); e != cd::kOk) return Fail(e, id);
    // The device's length of the last track is exact, so the lead-out is
    // its start plus its length (no correction for a short count).
    uint32_t leadout = offsets.empty() ? 0 : offsets.back() + FramesOf(lastLength);

    trackCount_ = count;
    mediaIdentity_ = std::strtoull(identity.c_str(), nullptr, 10);
    trackOffsets_ = offsets;
    leadoutFrames_ = leadout;
    discLength_ = ComputeDiscLength(offsets, leadout);
    discId_ = ComputeDiscId(offsets, leadout);
    // The tracks read their details while the device is still open here, so
    // that they share it rather than each opening the drive (or parsing the
    // image) again.
    for (int t = 1; t <= trackCount_; ++t) {
        auto track = std::make_unique<CdTrackSource>(engine_, drive_);
        track->SetTrackNumber(t);
        if (track->LoadInfo() == 1) Append(std::move(track));
    }
    cd::CdText text;
    if (cd::InfoCdText(id, text) == cd::kOk) ApplyCdText(text);
    return cd::Close(id);
}

}  // namespace tunara
