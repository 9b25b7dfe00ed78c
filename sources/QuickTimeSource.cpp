#include "sources/QuickTimeSource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "metadata/ContainerTags.h"
#include "mpegdec/mpegstream.h"
#include "platform/audio/AudioDevice.h"
#include "platform/io/OpenRegular.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "sources/Mp3Source.h"
#include "sources/SourceSettings.h"

namespace tunara {

using namespace media;

namespace {

constexpr int32_t kIndefiniteDuration = 0x7FFFFFFF;
constexpr int32_t kControllerFlags = 0x19;
constexpr uint32_t kPlayHints = 0x80000;
constexpr int kMeasuredBands = 8;

QuickTimeSource::StatusLine& StatusLineFn() {
    static QuickTimeSource::StatusLine line;
    return line;
}

QuickTimeSource::VideoWindowFactory& WindowFactory() {
    static QuickTimeSource::VideoWindowFactory factory;
    return factory;
}

std::string FileTitle(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

// Compressed formats the media framework decodes, by the code the toolbox
// module gives them; their bit rate is the coded one (c).
const char* CodecName(uint32_t dataFormat) {
    static const struct {
        uint32_t code;
        const char* name;
    } codecs[] = {
        {FourCc("flac"), "FLAC"},   {FourCc("vorb"), "Vorbis"}, {FourCc("opus"), "Opus"},
        {FourCc("mp4a"), "AAC"},    {FourCc("alac"), "ALAC"},   {FourCc("ac-3"), "AC-3"},
        {FourCc("ec-3"), "E-AC-3"}, {FourCc("dtsc"), "DTS"},    {FourCc("wma "), "WMA"},
        {FourCc("samr"), "AMR"},    {FourCc("spex"), "Speex"},  {FourCc("wvpk"), "WavPack"},
        {FourCc(".mp2"), "MP2"},    {FourCc(".mp1"), "MP1"},
    };
    for (const auto& c : codecs) {
        if (c.code == dataFormat) return c.name;
    }
    return nullptr;
}

}  // namespace

SoundFormat DescribeSoundFormat(const TmSoundDescription& d) {
    const uint32_t channels = static_cast<uint16_t>(d.numChannels);
    const uint32_t sampleSize = static_cast<uint16_t>(d.sampleSize);
    uint32_t rate = d.sampleRate >> 16;
    if (rate == 0 && d.reserved1 > 0) rate = static_cast<uint32_t>(d.reserved1);
    // 64-bit: the products overflow 32 bits for large packets; a zero divisor
    // falls back to the uncompressed rate instead of faulting.
    const uint64_t b = uint64_t(channels) * sampleSize * rate;
    const uint64_t divisor = uint64_t(d.bytesPerSample) * d.samplesPerPacket * channels;
    const uint64_t c = divisor ? uint64_t(d.bytesPerFrame) * b / divisor : b;

    SoundFormat f;
    auto is = [&](const char(&code)[5]) { return d.dataFormat == FourCc(code); };
    uint64_t bits = c;
    if (is("MAC3")) {
        f.name = "MACE 3:1";
        bits = b / 3;
    } else if (is("MAC6")) {
        f.name = "MACE 6:1";
        bits = b / 6;
    } else if (is("NONE") || is("raw ") || is("twos") || is("sowt") || is("in24") || is("in32") ||
               is("fl32") || is("fl64")) {
        char text[32];
        std::snprintf(text, sizeof(text), "%d Bit PCM", static_cast<int>(d.sampleSize));
        f.name = text;
        bits = b;
    } else if (is("ima4") || d.dataFormat == 0x6D730002 || d.dataFormat == 0x6D730011) {
        f.name = "ADPCM";
        bits = b / 4;
    } else if (is("alaw")) {
        f.name = "ALaw";
        bits = b / 2;
    } else if (is("ulaw")) {
        f.name = "\xC2\xB5Law";  // the micro sign, in UTF-8
        bits = b / 2;
    } else if (is("dvca")) {
        f.name = "DV";
        bits = b;
    } else if (is("KVM2")) {
        f.name = "KVMC 2";
    } else if (is("KVMC")) {
        f.name = "KVMC";
    } else if (is("Qclp")) {
        f.name = "QCLP";
    } else if (d.dataFormat == 0x6D730055) {
        f.name = "MP3";
    } else if (const char* codec = CodecName(d.dataFormat)) {
        f.name = codec;
    } else {
        f.name = "Unknown";
        bits = d.samplesPerPacket != 0 ? c : b;
    }
    f.bitRate = static_cast<int32_t>(std::min<uint64_t>(bits, INT32_MAX));
    return f;
}

QuickTimeSource::QuickTimeSource(const GainStage* volume) : volume_(volume) {}

QuickTimeSource::~QuickTimeSource() {
    Close();
}

void QuickTimeSource::SetStatusLine(StatusLine line) {
    StatusLineFn() = std::move(line);
}

void QuickTimeSource::SetVideoWindowFactory(VideoWindowFactory factory) {
    WindowFactory() = std::move(factory);
}

bool QuickTimeSource::MakeMovie(Movie* movie) {
    // The framework would wait forever on a FIFO named like a movie.
    if (io::IsLocalNonRegularFile(location_)) {
        *movie = nullptr;
        SetError(strings::kMediaFailedToOpen);
        return false;
    }
    TmFileSpec fileSpec{};
    MakeFileSpec(location_, &fileSpec);  // a missing file shows at the open below
    MovieFile file = nullptr;
    int32_t status = OpenMovieFile(fileSpec, &file, 1);
    if (status == kTmOk) {
        status = MakeMovieFromFile(movie, file, 1);
        CloseMovieFile(file);
    }
    if (status != kTmOk || !*movie) {
        *movie = nullptr;
        // The file was there and readable, but nothing knows what it holds.
        SetError(status == kTmCantMakeMovie ? strings::kMediaUnknownFormat
                                            : strings::kMediaFailedToOpen);
        return false;
    }
    return true;
}

Track QuickTimeSource::FindSoundTrack(Movie movie) {
    Track track = nullptr;
    if (IndexedTrack(movie, 1, FourCc("ears"), kTrackByCharacteristic | kTrackEnabledOnly,
                     &track) != kTmOk) {
        return nullptr;
    }
    return track;
}

void QuickTimeSource::ReadInformation(Movie movie) {
    int32_t units = 0;
    timeScale_ = 0;
    MovieTimeScale(movie, &timeScale_);
    MovieDuration(movie, &units);
    durationMs_ = (timeScale_ == 0 || units == kIndefiniteDuration)
                      ? 0
                      : static_cast<int32_t>(int64_t(units) * 1000 / timeScale_);

    formatName_.clear();
    bitRate_ = sampleRate_ = channels_ = 0;
    Track soundTrack = FindSoundTrack(movie);
    if (soundTrack) {
        Media media = nullptr;
        uint32_t type = 0;
        TrackMedia(soundTrack, &media);
        MediaType(media, &type);
        const bool mpeg = type == FourCc("MPEG");
        if (type == FourCc("musi")) {
            formatName_ = "MIDI";
        } else if (type == FourCc("strm")) {
            formatName_ = "QT Stream";
        } else if (type == FourCc("soun") || mpeg) {
            TmSoundDescription d{};
            TmHandle* handle = nullptr;
            if (NewHandle(sizeof(TmSoundDescription), &handle) == kTmOk && handle) {
                if (MediaSampleDescription(media, 1, handle) == kTmOk &&
                    handle->size >= sizeof(TmSoundDescription)) {
                    d = *static_cast<const TmSoundDescription*>(handle->data);
                }
                DisposeHandle(handle);
            }
            sampleRate_ = static_cast<int32_t>(d.sampleRate >> 16);
            if (sampleRate_ == 0 && d.reserved1 > 0) sampleRate_ = d.reserved1;
            channels_ = d.numChannels;
            SoundFormat f = DescribeSoundFormat(d);
            // An MPEG medium keeps its own name; its description gives the rates.
            formatName_ = mpeg ? "MPEG" : f.name;
            bitRate_ = f.bitRate;
            MpegHeaderWord w = 0;
            // Layer I/II headers tell what the framework's description may leave out.
            if (mpeg && IsMpegLayer12File(location_, &w)) {
                sampleRate_ = mpegHeaderSampleRate(w);
                channels_ = mpegHeaderChannels(w);
                bitRate_ = mpegStreamLayer12Bitrate(w);
            }
        } else {
            formatName_ = "Unknown";
        }
    }
    ReadTags(movie);
    Track track = nullptr;
    const int characteristic = kTrackByCharacteristic | kTrackEnabledOnly;
    hasVideo_ = IndexedTrack(movie, 1, FourCc("eyes"), characteristic, &track) == kTmOk && track;
    track = nullptr;
    hasActionTrack_ =
        IndexedTrack(movie, 1, FourCc("actn"), characteristic, &track) == kTmOk && track;
    track = nullptr;
    isStreamed_ = IndexedTrack(movie, 1, FourCc("strm"), kTrackByMediaType | kTrackEnabledOnly,
                               &track) == kTmOk &&
                  track;
}

void QuickTimeSource::ReadTags(Movie movie) {
    // A medium without an item keeps what the playlist may have given.
    std::string text;
    tagTitle_.clear();
    if (MovieUserDataText(movie, kUserDataTitle, &text) == kTmOk) tagTitle_ = text;
    if (MovieUserDataText(movie, kUserDataArtist, &text) == kTmOk && !text.empty()) artist_ = text;
    if (MovieUserDataText(movie, kUserDataAlbum, &text) == kTmOk && !text.empty()) album_ = text;
    if (MovieUserDataText(movie, kUserDataGenre, &text) == kTmOk && !text.empty()) category_ = text;
    // AIFF names and WMA genres the toolbox does not pass on.
    ContainerTags own;
    if (!ReadContainerTags(location_, own)) return;
    if (tagTitle_.empty()) tagTitle_ = own.title;
    if (!own.artist.empty() && artist_.empty()) artist_ = own.artist;
    if (!own.album.empty() && album_.empty()) album_ = own.album;
    if (!own.genre.empty() && category_.empty()) category_ = own.genre;
}

std::string QuickTimeSource::GetTitle() const {
    // Asked each time, so that a change of "UseID3Title" shows at once.
    if (UseId3Title() && !tagTitle_.empty()) return tagTitle_;
    return FileTitle(location_);
}

int QuickTimeSource::LoadInfo() {
    title_ = FileTitle(location_);
    // A movie of its own, so that an open item keeps playing.
    Movie movie = nullptr;
    if (!MakeMovie(&movie)) return 0;
    ReadInformation(movie);
    DisposeMovie(movie);
    title_ = GetTitle();
    return 1;
}

int QuickTimeSource::Open() {
    Close();
    if (!MakeMovie(&movie_)) return 0;
    // The time scale and the kinds of track, for a source opened without LoadInfo.
    int32_t scale = 0;
    if (MovieTimeScale(movie_, &scale) == kTmOk) timeScale_ = scale;
    Track track = nullptr;
    hasVideo_ = IndexedTrack(movie_, 1, FourCc("eyes"), kTrackByCharacteristic | kTrackEnabledOnly,
                             &track) == kTmOk &&
                track;
    soundTrack_ = FindSoundTrack(movie_);
    if (soundTrack_) {
        Media media = nullptr;
        TrackMedia(soundTrack_, &media);
        MediaHandlerOf(media, &soundHandler_);
    }
    if (hasVideo_ && WindowFactory()) {
        videoWindow_ = WindowFactory()();
        if (videoWindow_) {
            AssociateWindow(videoWindow_.get(), 0, 2);
            Port port = nullptr;
            WindowPort(videoWindow_.get(), &port);
            SetMoviePort(movie_, port);
        }
    }
    // Before the controller starts the movie's pipeline: its first buffers
    // pass the volume too.
    appliedVolume_ = volume_ ? volume_->SoftwareVolume() : 1.0f;
    SetMovieVolume(movie_, static_cast<int16_t>(appliedVolume_ * 256));
    TmRect box{};
    MovieBox(movie_, &box);
    NewController(movie_, box, kControllerFlags, &controller_);
    SetActionFilter(controller_, &QuickTimeSource::ActionFilter, reinterpret_cast<intptr_t>(this));
    ControllerAction(action::kSetKeysEnabled, 1);
    SetPlayHints(movie_, kPlayHints, kPlayHints);
    return 1;
}

// Without a mixer of a card the program's volume is a gain in software; the
// toolbox plays through a sink of its own, so it takes the same gain (1.0
// when a card's mixer does the work).
void QuickTimeSource::FollowVolume() {
    const float gain = volume_ ? volume_->SoftwareVolume() : 1.0f;
    if (gain == appliedVolume_) return;
    appliedVolume_ = gain;
    SetVolume(gain);
}

void QuickTimeSource::DisposeVideoWindow() {
    if (!videoWindow_) return;
    DissociateWindow(videoWindow_.get());
    videoWindow_.reset();
}

void QuickTimeSource::Close() {
    if (controller_) DisposeController(controller_);
    controller_ = nullptr;
    if (movie_) DisposeMovie(movie_);
    DisposeVideoWindow();
    movie_ = nullptr;
    soundTrack_ = nullptr;
    soundHandler_ = nullptr;
}

void QuickTimeSource::ControllerAction(int16_t actionCode, intptr_t parameter) {
    if (controller_) media::ControllerAction(controller_, actionCode, parameter);
}

void QuickTimeSource::Play() {
    ControllerAction(action::kPrerollAndPlay, 0x10000);
}
void QuickTimeSource::Stop() {
    ControllerAction(action::kPlay, 0);
}
void QuickTimeSource::FastForward() {
    ControllerAction(action::kPlay, 0x20000);
}
void QuickTimeSource::Rewind() {
    ControllerAction(action::kPlay, -0x20000);
}
void QuickTimeSource::Tick() {
    if (controller_) FollowVolume();
    ControllerAction(action::kIdle, 0);
}

int32_t QuickTimeSource::GetPosition() {
    if (timeScale_ == 0) return 0;
    int32_t units = 0;
    MovieTime(movie_, &units);
    return static_cast<int32_t>(int64_t(units) * 1000 / timeScale_);
}

void QuickTimeSource::Seek(int32_t positionMs) {
    SetMovieTime(movie_, static_cast<int32_t>(double(timeScale_) * positionMs * 0.001));
}

int QuickTimeSource::IsPlaying() {
    if (!movie_) return 0;
    int32_t done = 0;
    IsMovieDone(movie_, &done);
    return done ? 0 : 1;
}

void QuickTimeSource::EnableMetering(int enable) {
    SetMetering(soundHandler_, enable);
}

void QuickTimeSource::GetLevels(float& left, float& right) {
    leftHistory_[historyIndex_] = 0;
    rightHistory_[historyIndex_] = 0;
    left = right = 0;
    TmLevelRecord levels{};
    if (MeterLevels(soundHandler_, &levels) == kTmOk) {
        leftHistory_[historyIndex_] = levels.left / 255.0f;
        rightHistory_[historyIndex_] = (levels.channels == 2 ? levels.right : levels.left) / 255.0f;
    }
    for (int i = 1; i <= 3; ++i) {
        const int k = (i + historyIndex_) % 3;
        left = std::max(left, i * leftHistory_[k] * (1.0f / 3.0f));
        right = std::max(right, i * rightHistory_[k] * (1.0f / 3.0f));
    }
    historyIndex_ = (historyIndex_ + 1) % 3;
}

void QuickTimeSource::SetBandCount(int count) {
    bandCount_ = count;
    uint32_t frequencies[kMeasuredBands];
    for (int i = 0; i < kMeasuredBands; ++i) {
        // i * rate / 16 Hz in 16.16.
        frequencies[i] = static_cast<uint32_t>(uint64_t(i) * uint32_t(sampleRate_) * 65536 / 16);
    }
    SetBandFrequencies(soundHandler_, kMeasuredBands, frequencies);
}

void QuickTimeSource::GetSpectrum(float* bands) {
    uint8_t levels[kMeasuredBands] = {};
    if (soundHandler_) BandLevels(soundHandler_, kMeasuredBands, levels);
    for (int i = 0; i < bandCount_; ++i) {
        const double x = double(i) * kMeasuredBands / bandCount_;
        const int k = static_cast<int>(std::floor(x));
        const double f = x - k;
        const double lo = k < kMeasuredBands ? levels[k] : 0;
        const double hi = k + 1 < kMeasuredBands ? levels[k + 1] : 0;
        bands[i] = static_cast<float>((lo * (1 - f) + hi * f) / 255.0);
    }
}

float QuickTimeSource::GetVolume() {
    if (!movie_) return 0.0f;
    int16_t volume = 0;
    MovieVolume(movie_, &volume);
    return volume / 256.0f;
}

void QuickTimeSource::SetVolume(float volume) {
    if (controller_) SetMovieVolume(movie_, static_cast<int16_t>(volume * 256));
}

int32_t QuickTimeSource::ActionFilter(void*, int16_t actionCode, void* params, intptr_t) {
    if (actionCode != action::kShowStatus || !params) return 0;
    const auto* status = static_cast<const TmStatusString*>(params);
    const std::string text = status->text ? status->text : "";
    if (text.empty()) return 0;
    std::string line;
    if (status->flags & kStatusIsError) {
        if (status->flags & kStatusHasCode) {
            line = "QT Stream Error: " + text + " (" + std::to_string(status->flags / 65536) + ")";
        } else {
            line = "QT Stream Error: " + text;
        }
    } else if (status->flags & kStatusIsStreaming) {
        line = "QT Stream Status: " + text;
    }
    if (!line.empty() && StatusLineFn()) StatusLineFn()(line);
    return 0;
}

}  // namespace tunara
