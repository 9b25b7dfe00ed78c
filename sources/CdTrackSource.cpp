#include "sources/CdTrackSource.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/cdaudio/CdAudio.h"
#include "platform/ui/UserInteraction.h"

namespace tunara {

namespace cd = cdaudio;

namespace {

constexpr uint32_t kFramesPerSector = cd::kPcmFramesPerCdFrame;
constexpr int kBytesPerFrame = 4;

// Set by the feeder when a read finds the disc gone. One flag for the
// process, so that a track and the follower the run went on into tell the
// user once between them.
std::atomic<bool> g_discLost{false};

}  // namespace

CdTrackSource::CdTrackSource(OutputEngine& engine, std::string drive)
    : PcmSource(engine), drive_(std::move(drive)) {
    formatName_ = "CD";
    bitRate_ = 1411200;
    sampleRate_ = 44100;
    channels_ = 2;
    bitsPerSample_ = 16;
    durationMs_ = 0;
}

CdTrackSource::~CdTrackSource() {
    // The feeder may be reading this track as a follower.
    LeaveEngine();
    Close();
}

void CdTrackSource::SetTitle(const std::string& text) {
    std::lock_guard lock(textMutex_);
    title_ = text;
}
std::string CdTrackSource::GetTitle() const {
    std::lock_guard lock(textMutex_);
    return title_;
}
void CdTrackSource::SetArtist(const std::string& text) {
    std::lock_guard lock(textMutex_);
    artist_ = text;
}
std::string CdTrackSource::GetArtist() const {
    std::lock_guard lock(textMutex_);
    return artist_;
}
void CdTrackSource::SetAlbum(const std::string& text) {
    std::lock_guard lock(textMutex_);
    album_ = text;
}
std::string CdTrackSource::GetAlbum() const {
    std::lock_guard lock(textMutex_);
    return album_;
}
void CdTrackSource::SetCategory(const std::string& text) {
    std::lock_guard lock(textMutex_);
    category_ = text;
}
std::string CdTrackSource::GetCategory() const {
    std::lock_guard lock(textMutex_);
    return category_;
}

void CdTrackSource::SetYear(const std::string& text) {
    std::lock_guard lock(textMutex_);
    year_ = text;
}
std::string CdTrackSource::GetYear() const {
    std::lock_guard lock(textMutex_);
    return year_;
}
void CdTrackSource::SetGenre(const std::string& text) {
    std::lock_guard lock(textMutex_);
    genre_ = text;
}
std::string CdTrackSource::GetGenre() const {
    std::lock_guard lock(textMutex_);
    return genre_;
}

uint32_t CdTrackSource::OpenDevice() {
    cd::DeviceId id = 0;
    cd::Result r = cd::Open(drive_, id);
    if (r != cd::kOk && r != cd::kErrDeviceOpen) return 0;
    return cd::GetDeviceId(drive_);
}

int CdTrackSource::OpenStream() {
    if (deviceId_) return 1;  // already open: Open twice must not take two references
    uint32_t id = OpenDevice();
    if (id == 0) return 0;
    bool present = false;
    int32_t start = 0, sectors = 0;
    if (cd::StatusMediaPresent(id, present) != cd::kOk || !present ||
        cd::StatusTrackSectors(id, trackNumber_, start, sectors) != cd::kOk || sectors <= 0) {
        cd::Close(id);
        return 0;
    }
    deviceId_ = id;
    startLsn_ = start;
    frameCount_ = static_cast<uint32_t>(sectors) * kFramesPerSector;
    sampleRate_ = 44100;
    channels_ = 2;
    bitsPerSample_ = 16;
    readFrame_ = 0;
    cacheFrames_ = 0;
    cache_.resize(static_cast<size_t>(kSectorsPerRead) * cd::kBytesPerCdFrame);
    return 1;
}

int CdTrackSource::CloseStream() {
    if (!deviceId_) return 1;
    cd::Close(deviceId_);
    deviceId_ = 0;
    cacheFrames_ = 0;
    return 1;
}

bool CdTrackSource::Fill(uint32_t frame) {
    const uint32_t sector = frame / kFramesPerSector;
    const uint32_t sectors = frameCount_ / kFramesPerSector;
    const int count = static_cast<int>(std::min<uint32_t>(kSectorsPerRead, sectors - sector));
    cacheFrames_ = 0;
    cd::Result r = cd::ReadAudioSectors(deviceId_, startLsn_ + static_cast<int32_t>(sector), count,
                                        cache_.data());
    if (r == cd::kErrNotReady) return false;
    // Unreadable sectors come back as silence and play as a gap.
    cacheFrame_ = sector * kFramesPerSector;
    cacheFrames_ = static_cast<uint32_t>(count) * kFramesPerSector;
    return true;
}

int CdTrackSource::ReadFrames(void* buffer, int frames) {
    if (!deviceId_ || frames <= 0) return 0;
    const bool backward = GetState() == PlayState::Rewind;
    uint32_t from = readFrame_;
    uint32_t count = static_cast<uint32_t>(frames);
    if (backward) {
        count = std::min(count, readFrame_);
        from = readFrame_ - count;
    } else {
        count = std::min(count, frameCount_ - std::min(readFrame_, frameCount_));
    }
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const uint32_t frame = from + done;
        if (frame < cacheFrame_ || frame >= cacheFrame_ + cacheFrames_) {
            if (!Fill(frame)) {
                g_discLost = true;
                return 0;
            }
        }
        const uint32_t take = std::min(count - done, cacheFrame_ + cacheFrames_ - frame);
        std::memcpy(out + static_cast<size_t>(done) * kBytesPerFrame,
                    cache_.data() + static_cast<size_t>(frame - cacheFrame_) * kBytesPerFrame,
                    static_cast<size_t>(take) * kBytesPerFrame);
        done += take;
    }
    readFrame_ = backward ? from : from + count;
    return static_cast<int>(count);
}

uint32_t CdTrackSource::SeekFrame(uint32_t frame) {
    readFrame_ = std::min(frame, frameCount_);
    return readFrame_;
}

int CdTrackSource::IsPlaying() {
    int playing = PcmSource::IsPlaying();
    if (!playing && g_discLost.exchange(false))
        SetError(UserMessage{0, cd::ResultText(cd::kErrNotReady), {}});
    return playing;
}

void CdTrackSource::Close() {
    PcmSource::Close();
    g_discLost = false;
}

int CdTrackSource::LoadInfo() {
    uint32_t id = OpenDevice();
    if (id == 0) return 0;
    cd::TrackType type = cd::TrackType::Other;
    int32_t start = 0, sectors = 0;
    if (cd::StatusTrackType(id, trackNumber_, type) != cd::kOk || type != cd::TrackType::Audio ||
        cd::StatusTrackSectors(id, trackNumber_, start, sectors) != cd::kOk) {
        cd::Close(id);
        return 0;
    }
    cd::Close(id);
    auto ms = [](int64_t lsn) {
        return static_cast<int32_t>((lsn + cd::kLeadInFrames) * 1000 / cd::kFramesPerSecond);
    };
    trackStartMs_ = ms(start);
    durationMs_ = ms(int64_t{start} + sectors) - trackStartMs_;
    SetTitle("Track " + std::to_string(trackNumber_));
    SetArtist("Unknown");
    SetAlbum("Unknown");
    SetCategory("Unknown");
    return 1;
}

}  // namespace tunara
