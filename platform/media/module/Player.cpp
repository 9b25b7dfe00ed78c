#include "platform/media/module/Player.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/audio/CaptureHook.h"
#include "platform/audio/OutputChoice.h"
#include "platform/io/WavHeader.h"

namespace tunara::media::module {

namespace {

constexpr GstClockTime kStartTimeout = 1 * GST_SECOND;
constexpr GstClockTime kSeekTimeout = 2 * GST_SECOND;
constexpr double kSpectrumFloorDb = -60.0;
constexpr size_t kMeterQueue = 64;
// A meter reading older than this while playing means the sound has stopped.
constexpr GstClockTime kMeterStale = 300 * GST_MSECOND;

// playbin's flag bits.
constexpr guint kPlayVideo = 1u << 0;
constexpr guint kPlayAudio = 1u << 1;
constexpr guint kPlaySoftVolume = 1u << 4;
constexpr guint kPlayBuffering = 1u << 8;

// The doubles of a level or spectrum message field (a list or a value array).
std::vector<double> Doubles(const GstStructure* s, const char* field) {
    std::vector<double> out;
    const GValue* v = gst_structure_get_value(s, field);
    if (!v) return out;
    if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue* e = gst_value_list_get_value(v, i);
            out.push_back(G_VALUE_HOLDS_FLOAT(e) ? g_value_get_float(e) : g_value_get_double(e));
        }
    } else if (GST_VALUE_HOLDS_ARRAY(v)) {
        for (guint i = 0; i < gst_value_array_get_size(v); ++i) {
            const GValue* e = gst_value_array_get_value(v, i);
            out.push_back(G_VALUE_HOLDS_FLOAT(e) ? g_value_get_float(e) : g_value_get_double(e));
        }
    } else {
        // level still posts the older GValueArray.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        if (!G_VALUE_HOLDS(v, g_value_array_get_type())) return out;
        auto* array = static_cast<GValueArray*>(g_value_get_boxed(v));
        for (guint i = 0; array && i < array->n_values; ++i) {
            const GValue* e = g_value_array_get_nth(array, i);
            out.push_back(G_VALUE_HOLDS_FLOAT(e) ? g_value_get_float(e) : g_value_get_double(e));
        }
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    return out;
}

uint8_t LevelByte(double peakDb) {
    if (!std::isfinite(peakDb)) return 0;
    double amplitude = std::pow(10.0, peakDb / 20.0);
    return static_cast<uint8_t>(std::clamp(std::lround(amplitude * 255.0), 0L, 255L));
}

uint8_t BandByte(double magnitudeDb) {
    if (!std::isfinite(magnitudeDb)) return 0;
    double x = (magnitudeDb - kSpectrumFloorDb) / -kSpectrumFloorDb;
    return static_cast<uint8_t>(std::clamp(std::lround(x * 255.0), 0L, 255L));
}

}  // namespace

Player::Player(const Options& options) : options_(options), window_(options.window) {}

Player::~Player() {
    Teardown();
}

GstElement* Player::MakeAudioSink(const audio::OutputChoice& choice) {
    synced_ = true;
    usingDefaultSink_ = false;
    GstElement* sink = nullptr;
    switch (choice.kind) {
        case audio::OutputKind::NullRealTime:
        case audio::OutputKind::NullFast:
        case audio::OutputKind::NullStep:  // nothing steps the toolbox: silent, in real time
            synced_ = choice.kind != audio::OutputKind::NullFast;
            sink = gst_element_factory_make("fakesink", nullptr);
            if (sink) g_object_set(sink, "sync", synced_ ? TRUE : FALSE, nullptr);
            break;
        case audio::OutputKind::File: {
            synced_ = false;
            wavPath_ = choice.name;
            GError* error = nullptr;
            sink = gst_parse_bin_from_description(
                "audioconvert ! audioresample ! audio/x-raw,format=S16LE,layout=interleaved ! "
                "appsink name=wavsink sync=false emit-signals=true",
                TRUE, &error);
            if (error) g_error_free(error);
            if (sink) {
                GstElement* app = gst_bin_get_by_name(GST_BIN(sink), "wavsink");
                g_signal_connect(app, "new-sample", G_CALLBACK(&Player::OnWavSample), this);
                gst_object_unref(app);
            }
            break;
        }
        case audio::OutputKind::Alsa:
            sink = gst_element_factory_make("alsasink", nullptr);
            if (sink) g_object_set(sink, "device", choice.name.c_str(), nullptr);
            break;
        case audio::OutputKind::Pulse:
            sink = gst_element_factory_make("pulsesink", nullptr);
            if (sink && !choice.name.empty())
                g_object_set(sink, "device", choice.name.c_str(), nullptr);
            break;
        case audio::OutputKind::Unknown: {
            static std::once_flag said;
            std::call_once(said, [&] {
                std::fprintf(stderr, audio::kUnknownOutputFormat, choice.text.c_str());
            });
            [[fallthrough]];
        }
        case audio::OutputKind::Default:
            sink = gst_element_factory_make("autoaudiosink", nullptr);
            usingDefaultSink_ = sink != nullptr;
            if (!sink) {
                sink = gst_element_factory_make("fakesink", nullptr);
                if (sink) g_object_set(sink, "sync", TRUE, nullptr);
            }
            break;
    }
    return sink;
}

bool Player::Build(const audio::OutputChoice& audioSpec) {
    pipeline_ = gst_element_factory_make("playbin", nullptr);
    if (!pipeline_) return false;
    g_object_set(pipeline_, "uri", options_.uri.c_str(), nullptr);

    bool wantVideo = options_.hasVideo && (window_.load() != nullptr || !options_.hasAudio);
    guint flags = kPlaySoftVolume;
    if (options_.hasAudio) flags |= kPlayAudio;
    if (wantVideo) flags |= kPlayVideo;
    if (options_.network) flags |= kPlayBuffering;
    g_object_set(pipeline_, "flags", flags, nullptr);

    if (options_.hasAudio) {
        GError* error = nullptr;
        GstElement* filter = gst_parse_bin_from_description(
            "audioconvert ! level name=meter post-messages=false interval=25000000 ! "
            "spectrum name=bands post-messages=false bands=64 threshold=-60 interval=50000000",
            TRUE, &error);
        if (error) g_error_free(error);
        if (filter) {
            level_ = gst_bin_get_by_name(GST_BIN(filter), "meter");
            spectrum_ = gst_bin_get_by_name(GST_BIN(filter), "bands");
            g_object_set(pipeline_, "audio-filter", filter, nullptr);
        }
        GstElement* sink = MakeAudioSink(audioSpec);
        if (!sink) return false;
        g_object_set(pipeline_, "audio-sink", sink, nullptr);
    } else {
        // The clock still follows the chosen output's pacing for sound-less movies.
        synced_ = audioSpec.kind != audio::OutputKind::NullFast &&
                  audioSpec.kind != audio::OutputKind::File;
    }
    // Always name the video sink: left to itself, playbin would try every
    // display sink of the system even for video it is told not to show.
    GstElement* vsink = nullptr;
    if (wantVideo && window_.load()) {
        vsink = gst_element_factory_make("appsink", nullptr);
        if (vsink) {
            GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
            g_object_set(vsink, "caps", caps, "max-buffers", 2, "drop", TRUE, "emit-signals", TRUE,
                         nullptr);
            gst_caps_unref(caps);
            g_signal_connect(vsink, "new-sample", G_CALLBACK(&Player::OnVideoSample), this);
        }
    } else {
        vsink = gst_element_factory_make("fakesink", nullptr);
    }
    if (vsink) {
        g_object_set(vsink, "sync", synced_ ? TRUE : FALSE, nullptr);
        g_object_set(pipeline_, "video-sink", vsink, nullptr);
    }
    g_object_set(pipeline_, "volume", options_.volume, nullptr);
    {
        std::lock_guard<std::mutex> lock(meterMutex_);
        if (level_) g_object_set(level_, "post-messages", metering_ ? TRUE : FALSE, nullptr);
        if (spectrum_) g_object_set(spectrum_, "post-messages", metering_ ? TRUE : FALSE, nullptr);
    }
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, &Player::SyncHandler, this, nullptr);
    gst_object_unref(bus);
    return true;
}

bool Player::Start() {
    audio::OutputChoice choice = audio::OutputChoiceFromEnvironment();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Build(choice)) {
            Teardown();
            failed_ = true;
            return false;
        }
        GstStateChangeReturn r = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
        if (r == GST_STATE_CHANGE_ASYNC)
            r = gst_element_get_state(pipeline_, nullptr, nullptr, kStartTimeout);
        if (r != GST_STATE_CHANGE_FAILURE) {
            Pump();
            if (!failed_) {
                // Some streams (MPEG program streams) start at a time other
                // than 0; movie time always starts at 0.
                gint64 first = 0;
                if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &first) && first > 0 &&
                    first < 10 * static_cast<gint64>(GST_SECOND)) {
                    startOffsetNs_ = first;
                }
                return true;
            }
        }
        // The system's sound output cannot be used: play into a paced null sink.
        bool retry = usingDefaultSink_;
        Teardown();
        if (!retry) break;
        failed_ = false;
        notices_.clear();
        choice = audio::ParseOutputChoice("null");
    }
    failed_ = true;
    return false;
}

void Player::Teardown() {
    if (pipeline_) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        if (level_) gst_object_unref(level_);
        if (spectrum_) gst_object_unref(spectrum_);
        level_ = spectrum_ = nullptr;
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
    }
    FinishWav();
    std::lock_guard<std::mutex> lock(meterMutex_);
    levels_.clear();
    spectra_.clear();
}

GstBusSyncReply Player::SyncHandler(GstBus*, GstMessage* msg, gpointer self) {
    auto* p = static_cast<Player*>(self);
    if (GST_MESSAGE_TYPE(msg) != GST_MESSAGE_ELEMENT) return GST_BUS_PASS;
    const GstStructure* s = gst_message_get_structure(msg);
    if (!s) return GST_BUS_PASS;
    bool isLevel = gst_structure_has_name(s, "level");
    bool isSpectrum = gst_structure_has_name(s, "spectrum");
    if (!isLevel && !isSpectrum) return GST_BUS_PASS;
    MeterEntry e;
    guint64 rt = 0;
    if (gst_structure_get_uint64(s, "running-time", &rt)) e.runningTime = rt;
    e.values = Doubles(s, isLevel ? "peak" : "magnitude");
    {
        std::lock_guard<std::mutex> lock(p->meterMutex_);
        auto& q = isLevel ? p->levels_ : p->spectra_;
        q.push_back(std::move(e));
        while (q.size() > kMeterQueue) q.pop_front();
    }
    return GST_BUS_DROP;
}

GstFlowReturn Player::OnVideoSample(GstElement* sink, gpointer self) {
    auto* p = static_cast<Player*>(self);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) return GST_FLOW_OK;
    std::lock_guard lock(p->windowMutex_);
    VideoWindow* window = p->window_.load();
    GstVideoInfo info;
    if (window && gst_video_info_from_caps(&info, gst_sample_get_caps(sample))) {
        GstVideoFrame frame;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            VideoFrame f{static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                         GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                         GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                         GST_BUFFER_PTS_IS_VALID(buffer)
                             ? static_cast<int64_t>(GST_BUFFER_PTS(buffer) / GST_MSECOND)
                             : -1};
            window->PresentFrame(f);
            gst_video_frame_unmap(&frame);
        }
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstFlowReturn Player::OnWavSample(GstElement* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) return GST_FLOW_OK;
    static_cast<Player*>(self)->WriteWav(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// The header is brought up to date after every write, so the file is a valid
// WAV whenever playing stops.
void Player::WriteWav(GstSample* sample) {
    if (!wav_) {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, gst_sample_get_caps(sample))) return;
        wavFormat_.sampleRate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info));
        wavFormat_.channels = static_cast<uint16_t>(GST_AUDIO_INFO_CHANNELS(&info));
        wavFormat_.bitsPerSample = 16;
        wavDataBytes_ = 0;
        // In the program the capture goes on after what its own output and
        // earlier items wrote; alone, the module starts the file afresh.
        auto open = reinterpret_cast<TunaraCaptureOpenFn>(dlsym(RTLD_DEFAULT, TUNARA_CAPTURE_OPEN));
        if (open) {
            uint64_t have = 0;
            wav_ = open(wavPath_.c_str(), wavFormat_.channels, wavFormat_.sampleRate,
                        wavFormat_.bitsPerSample, &have);
            wavDataBytes_ = static_cast<uint32_t>(
                std::min<uint64_t>(have, tunara::io::WavDataLimit(wavFormat_.BlockAlign())));
        } else {
            wav_ = std::fopen(wavPath_.c_str(), "wb");
            if (wav_) {
                uint8_t header[tunara::io::kWavHeaderBytes];
                tunara::io::MakeWavHeader(wavFormat_, 0, header);
                std::fwrite(header, 1, sizeof header, wav_);
            }
        }
        if (!wav_) return;
    }
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
    // Past what a RIFF size can describe the rest is dropped, in whole frames.
    const uint32_t limit = tunara::io::WavDataLimit(wavFormat_.BlockAlign());
    const size_t n = std::min<size_t>(map.size, limit - wavDataBytes_);
    wavDataBytes_ += static_cast<uint32_t>(std::fwrite(map.data, 1, n, wav_));
    gst_buffer_unmap(buffer, &map);
    uint8_t header[tunara::io::kWavHeaderBytes];
    tunara::io::MakeWavHeader(wavFormat_, wavDataBytes_, header);
    std::fseek(wav_, 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, wav_);
    std::fseek(wav_, 0, SEEK_END);
    std::fflush(wav_);
}

void Player::FinishWav() {
    if (!wav_) return;
    if (wavDataBytes_ & 1) std::fputc(0, wav_);  // chunks are padded to even sizes
    std::fclose(wav_);
    wav_ = nullptr;
    auto closed =
        reinterpret_cast<TunaraCaptureClosedFn>(dlsym(RTLD_DEFAULT, TUNARA_CAPTURE_CLOSED));
    if (closed) closed(wavPath_.c_str(), wavDataBytes_);
}

void Player::HandleMessage(GstMessage* msg) {
    switch (GST_MESSAGE_TYPE(msg)) {
        case GST_MESSAGE_EOS:
            eos_ = true;
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(msg, &error, nullptr);
            Notice n;
            int code = error ? error->code : 0;
            n.flags = kStatusIsError | kStatusHasCode | static_cast<int32_t>(code << 16);
            n.text = error && error->message ? error->message : "playback failed";
            if (error) g_error_free(error);
            notices_.push_back(std::move(n));
            // A medium that fails while playing is finished, not playing forever.
            failed_ = true;
            break;
        }
        case GST_MESSAGE_BUFFERING: {
            if (!options_.network) break;
            gint percent = 0;
            gst_message_parse_buffering(msg, &percent);
            Notice n;
            n.flags = kStatusIsStreaming;
            n.text = "Buffering " + std::to_string(percent) + "%";
            notices_.push_back(std::move(n));
            bool wasBuffering = buffering_;
            buffering_ = percent < 100;
            if (rate_ > 0 && buffering_ != wasBuffering) {
                gst_element_set_state(pipeline_, buffering_ ? GST_STATE_PAUSED : GST_STATE_PLAYING);
            }
            break;
        }
        default:
            break;
    }
}

void Player::Pump() {
    if (!pipeline_) return;
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (GstMessage* msg = gst_bus_pop(bus)) {
        HandleMessage(msg);
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
}

std::vector<Notice> Player::TakeNotices() {
    std::vector<Notice> out;
    out.swap(notices_);
    return out;
}

void Player::SetRate(double rate) {
    if (!pipeline_) {
        rate_ = rate;
        return;
    }
    if (rate < 0) {
        if (!rewinding_) {
            rewindPositionNs_ = PositionNs();
            rewinding_ = true;
            segmentRate_ = 1.0;  // the stepping seeks below run at normal speed
        }
        lastStep_ = std::chrono::steady_clock::now();
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
        rate_ = rate;
        return;
    }
    if (rewinding_) {
        rewinding_ = false;
        lastPositionNs_ = rewindPositionNs_;
    }
    if (rate == 0) {
        // Keep the position where playing stopped.
        lastPositionNs_ = PositionNs();
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
        rate_ = 0;
        return;
    }
    if (rate != segmentRate_ && !eos_) {
        // A new speed takes effect from where the movie stands.
        int64_t at = PositionNs() + startOffsetNs_;
        segmentRate_ = rate;
        gst_element_seek(pipeline_, rate, GST_FORMAT_TIME,
                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, at, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    }
    rate_ = rate;
    progressAt_ = std::chrono::steady_clock::now();
    if (!buffering_) gst_element_set_state(pipeline_, GST_STATE_PLAYING);
}

void Player::Idle() {
    Pump();
    WatchProgress();
    if (!rewinding_ || !pipeline_) return;
    auto now = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - lastStep_).count();
    if (elapsed < 50'000'000) return;
    lastStep_ = now;
    int64_t step = static_cast<int64_t>(static_cast<double>(elapsed) * std::fabs(rate_));
    rewindPositionNs_ = std::max<int64_t>(0, rewindPositionNs_ - step);
    GstSeekFlags flags = GstSeekFlags(
        GST_SEEK_FLAG_FLUSH |
        (options_.hasAudio && !window_.load() ? GST_SEEK_FLAG_ACCURATE : GST_SEEK_FLAG_KEY_UNIT));
    gst_element_seek_simple(pipeline_, GST_FORMAT_TIME, flags, rewindPositionNs_ + startOffsetNs_);
}

int64_t Player::PositionNs() {
    if (rewinding_) return rewindPositionNs_;
    if (!pipeline_) return lastPositionNs_;
    gint64 pos = 0;
    if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &pos) && pos >= 0) {
        lastPositionNs_ = std::max<int64_t>(0, pos - startOffsetNs_);
    }
    return lastPositionNs_;
}

void Player::SeekNs(int64_t positionNs) {
    positionNs = std::max<int64_t>(0, positionNs);
    lastPositionNs_ = positionNs;
    if (rewinding_) rewindPositionNs_ = positionNs;
    if (!pipeline_) return;
    Pump();
    eos_ = false;
    gst_element_seek(pipeline_, segmentRate_, GST_FORMAT_TIME,
                     GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
                     positionNs + startOffsetNs_, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    // Bounded: a damaged medium must not hold the caller.
    gst_element_get_state(pipeline_, nullptr, nullptr, kSeekTimeout);
}

// Playing forward with the position standing still for this long means the
// pipeline has stalled; the item is then over rather than playing forever.
constexpr auto kStallLimit = std::chrono::seconds(5);

void Player::WatchProgress() {
    auto now = std::chrono::steady_clock::now();
    if (rate_ <= 0 || buffering_ || rewinding_ || eos_ || failed_) {
        progressAt_ = now;
        return;
    }
    int64_t pos = PositionNs();
    if (pos != progressPositionNs_) {
        progressPositionNs_ = pos;
        progressAt_ = now;
    } else if (now - progressAt_ > kStallLimit) {
        notices_.push_back(Notice{kStatusIsError, "playback stalled"});
        failed_ = true;
    }
}

bool Player::Done() {
    Pump();
    WatchProgress();
    if (failed_ || eos_) return true;
    return rewinding_ && rewindPositionNs_ <= 0;
}

void Player::SetVolume(double volume) {
    options_.volume = volume;
    if (pipeline_) g_object_set(pipeline_, "volume", volume, nullptr);
}

void Player::SetMetering(bool on) {
    std::lock_guard<std::mutex> lock(meterMutex_);
    metering_ = on;
    if (level_) g_object_set(level_, "post-messages", on ? TRUE : FALSE, nullptr);
    if (spectrum_) g_object_set(spectrum_, "post-messages", on ? TRUE : FALSE, nullptr);
    if (!on) {
        levels_.clear();
        spectra_.clear();
    }
}

void Player::SetBandEdges(const std::vector<double>& lowerEdgesHz) {
    std::lock_guard<std::mutex> lock(meterMutex_);
    bandEdgesHz_ = lowerEdgesHz;
}

// The meter reading for what is heard now. meterMutex_ is held.
bool Player::MeterCurrent(std::deque<MeterEntry>& queue, MeterEntry& out) {
    if (!metering_ || queue.empty() || rate_ <= 0 || rewinding_ || eos_ || failed_) return false;
    if (!synced_) {
        out = queue.back();
        return true;
    }
    GstClock* clock = gst_element_get_clock(pipeline_);
    if (!clock) {
        out = queue.back();
        return true;
    }
    GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(pipeline_);
    gst_object_unref(clock);
    // Drop what has been heard already, keeping the newest heard reading.
    while (queue.size() > 1 && queue[1].runningTime <= now) queue.pop_front();
    const MeterEntry& e = queue.front();
    if (e.runningTime + kMeterStale < now) return false;
    out = e;
    return true;
}

TmLevelRecord Player::Levels() {
    TmLevelRecord r{};
    std::lock_guard<std::mutex> lock(meterMutex_);
    MeterEntry e;
    if (!pipeline_ || !MeterCurrent(levels_, e) || e.values.empty()) return r;
    r.channels = static_cast<int16_t>(e.values.size());
    r.left = LevelByte(e.values[0]);
    r.right = LevelByte(e.values.size() > 1 ? e.values[1] : e.values[0]);
    return r;
}

void Player::BandLevels(int count, uint8_t* levels) {
    if (!levels || count <= 0) return;
    std::memset(levels, 0, static_cast<size_t>(count));
    int rate = 0;
    if (spectrum_) {
        GstPad* pad = gst_element_get_static_pad(spectrum_, "sink");
        if (GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr) {
            gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
            gst_caps_unref(caps);
        }
        if (pad) gst_object_unref(pad);
    }
    std::lock_guard<std::mutex> lock(meterMutex_);
    MeterEntry e;
    if (!pipeline_ || rate <= 0 || !MeterCurrent(spectra_, e) || e.values.empty()) return;
    const double nyquist = rate / 2.0;
    const double width = nyquist / static_cast<double>(e.values.size());
    std::vector<double> edges = bandEdgesHz_;
    bool increasing = !edges.empty();
    for (size_t i = 1; i < edges.size(); ++i) increasing = increasing && edges[i] > edges[i - 1];
    if (!increasing) {
        // Edges made without knowing the rate (all 0): spread the bands evenly.
        edges.clear();
        for (int i = 0; i < count; ++i) edges.push_back(i * nyquist / count);
    }
    int bands = std::min<int>(count, static_cast<int>(edges.size()));
    for (int i = 0; i < bands; ++i) {
        double lo = edges[static_cast<size_t>(i)];
        double hi =
            i + 1 < static_cast<int>(edges.size()) ? edges[static_cast<size_t>(i) + 1] : nyquist;
        double best = -1e9;
        for (size_t k = 0; k < e.values.size(); ++k) {
            double centre = (static_cast<double>(k) + 0.5) * width;
            if (centre >= lo && centre < hi) best = std::max(best, e.values[k]);
        }
        if (best < -1e8 && lo < nyquist) {
            // A band narrower than the analysis takes the analysis band it lies in.
            size_t k = std::min(e.values.size() - 1, static_cast<size_t>(lo / width));
            best = e.values[k];
        }
        levels[i] = best < -1e8 ? 0 : BandByte(best);
    }
}

}  // namespace tunara::media::module
