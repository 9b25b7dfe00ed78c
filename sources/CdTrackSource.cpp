#include "sources/CdTrackSource.h"

#include <cstdint>

#include "platform/cdaudio/CdAudio.h"

namespace tunara {

namespace cd = cdaudio;

CdTrackSource::CdTrackSource(std::string drive) : drive_(std::move(drive)) {
    formatName_ = "CD";
    bitRate_ = 1411200;
    sampleRate_ = 44100;
    channels_ = 2;
    durationMs_ = 0;
}

CdTrackSource::~CdTrackSource() {
    if (deviceId_) cd::Close(deviceId_);
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

int CdTrackSource::Open() {
    if (deviceId_) return 1;  // already open: Open twice must not take two references
    uint32_t id = OpenDevice();
    if (id == 0) return 0;
    bool present = false;
    if (cd::StatusMediaPresent(id, present) != cd::kOk || !present) {
        cd::Close(id);
        return 0;
    }
    deviceId_ = id;
    cd::SetTimeFormat(deviceId_, cd::TimeFormat::Milliseconds);
    Seek(0);
    return 1;
}

void CdTrackSource::Close() {
    fastForwardOn_ = rewindOn_ = false;
    if (!deviceId_) return;
    cd::Close(deviceId_);
    deviceId_ = 0;
}

int CdTrackSource::LoadInfo() {
    uint32_t id = OpenDevice();
    if (id == 0) return 0;
    cd::TrackType type = cd::TrackType::Other;
    if (cd::StatusTrackType(id, trackNumber_, type) != cd::kOk || type != cd::TrackType::Audio) {
        cd::Close(id);
        return 0;
    }
    cd::SetTimeFormat(id, cd::TimeFormat::Milliseconds);
    uint32_t start = 0, next = 0, length = 0;
    if (cd::StatusTrackPosition(id, trackNumber_, start) != cd::kOk) {
        cd::Close(id);
        return 0;
    }
    trackStartMs_ = static_cast<int32_t>(start);
    if (cd::StatusTrackPosition(id, trackNumber_ + 1, next) == cd::kOk)
        durationMs_ = static_cast<int32_t>(next - start);
    else if (cd::StatusTrackLength(id, trackNumber_, length) == cd::kOk)
        durationMs_ = static_cast<int32_t>(length);
    cd::Close(id);
    SetTitle("Track " + std::to_string(trackNumber_));
    SetArtist("Unknown");
    SetAlbum("Unknown");
    SetCategory("Unknown");
    return 1;
}

void CdTrackSource::Play() {
    if (deviceId_)
        cd::Play(deviceId_, std::nullopt, static_cast<uint32_t>(trackStartMs_ + durationMs_));
    fastForwardOn_ = rewindOn_ = false;
}

void CdTrackSource::Stop() {
    if (deviceId_) cd::Stop(deviceId_);
    fastForwardOn_ = rewindOn_ = false;
}

void CdTrackSource::FastForward() {
    Stop();
    fastForwardOn_ = true;
}

void CdTrackSource::Rewind() {
    Stop();
    rewindOn_ = true;
}

void CdTrackSource::Seek(int32_t positionMs) {
    if (!deviceId_) return;
    if (positionMs < 0) positionMs = 0;
    uint32_t target = static_cast<uint32_t>(trackStartMs_ + positionMs);
    if (!IsPlaying() || fastForwardOn_ || rewindOn_)
        cd::Seek(deviceId_, target);
    else
        cd::Play(deviceId_, target, static_cast<uint32_t>(trackStartMs_ + durationMs_));
}

int32_t CdTrackSource::GetPosition() {
    uint32_t position = 0;
    if (!deviceId_ || cd::StatusPosition(deviceId_, position) != cd::kOk) return 0;
    return static_cast<int32_t>(position) - trackStartMs_;
}

int CdTrackSource::IsPlaying() {
    if (fastForwardOn_ || rewindOn_) return 1;
    cd::Mode mode = cd::Mode::NotReady;
    return deviceId_ && cd::StatusMode(deviceId_, mode) == cd::kOk && mode == cd::Mode::Playing;
}

void CdTrackSource::Tick() {
    int32_t before = tickCount_;
    tickCount_ = before == INT32_MAX ? 0 : before + 1;
    if (before % kTicksPerStep != 0) return;
    if (fastForwardOn_) {
        int32_t p = GetPosition() + kStepMs;
        if (p < durationMs_)
            Seek(p);
        else
            Stop();
    } else if (rewindOn_) {
        int32_t p = GetPosition();
        if (p <= kStepMs)
            Stop();
        else
            Seek(p - kStepMs);
    }
}

void CdTrackSource::GetLevels(float& left, float& right) {
    left = right = 0.0f;
}

void CdTrackSource::GetSpectrum(float* bands) {
    for (int i = 0; i < 16; ++i) bands[i] = 0.0f;
}

}  // namespace tunara
