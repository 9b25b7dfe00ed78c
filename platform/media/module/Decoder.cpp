// A medium's sound decoded to 16-bit PCM for the program's own output: a
// playbin whose sound goes through audioconvert into an appsink that is
// pulled by the reader, as fast as it reads. No clock paces it; the
// program's device does.
#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/media/module/Toolbox.h"

#define TM_EXPORT extern "C" __attribute__((visibility("default")))

namespace tunara::media::module {

namespace {

// MIDI pulls in a sound font on its first use, which takes seconds on a
// loaded machine.
constexpr GstClockTime kOpenTimeout = 20 * GST_SECOND;
// How long a read waits for the decoder before taking the sound for ended.
constexpr GstClockTime kReadTimeout = 10 * GST_SECOND;
constexpr GstClockTime kPollStep = 100 * GST_MSECOND;
constexpr guint kPlayAudio = 1u << 1;

struct Decoder {
    GstElement* pipeline = nullptr;
    GstAppSink* sink = nullptr;
    int rate = 0;
    int channels = 0;
    int64_t frames = -1;
    std::atomic<bool> failed{false};
    GstSample* sample = nullptr;  // the buffer being read out
    GstMapInfo map{};
    size_t offset = 0;       // bytes of `map` already delivered
    int64_t dropUntil = -1;  // after a seek: frames before it are skipped
};

int BytesPerFrame(const Decoder& d) {
    return 2 * d.channels;
}

GstBusSyncReply OnBus(GstBus*, GstMessage* msg, gpointer data) {
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) static_cast<Decoder*>(data)->failed = true;
    return GST_BUS_DROP;
}

void DropSample(Decoder& d) {
    if (!d.sample) return;
    gst_buffer_unmap(gst_sample_get_buffer(d.sample), &d.map);
    gst_sample_unref(d.sample);
    d.sample = nullptr;
    d.offset = 0;
}

// The next buffer, waiting a bounded time; false at the end or on a failure.
bool NextSample(Decoder& d) {
    DropSample(d);
    for (GstClockTime waited = 0; waited < kReadTimeout; waited += kPollStep) {
        GstSample* s = gst_app_sink_try_pull_sample(d.sink, kPollStep);
        if (s) {
            GstBuffer* b = gst_sample_get_buffer(s);
            if (!b || !gst_buffer_map(b, &d.map, GST_MAP_READ)) {
                gst_sample_unref(s);
                continue;
            }
            d.sample = s;
            d.offset = 0;
            if (d.dropUntil >= 0) {
                if (GST_BUFFER_PTS_IS_VALID(b)) {
                    const int64_t first = static_cast<int64_t>(
                        gst_util_uint64_scale_round(GST_BUFFER_PTS(b), d.rate, GST_SECOND));
                    const int64_t skip = std::max<int64_t>(0, d.dropUntil - first);
                    d.offset = std::min<size_t>(d.map.size, skip * BytesPerFrame(d));
                }
                d.dropUntil = -1;
            }
            return true;
        }
        if (d.failed || gst_app_sink_is_eos(d.sink)) return false;
    }
    return false;
}

void Close(Decoder* d) {
    if (!d) return;
    DropSample(*d);
    if (d->pipeline) {
        gst_element_set_state(d->pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(d->pipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(d->pipeline);
    }
    if (d->sink) gst_object_unref(d->sink);
    delete d;
}

std::string UriOf(const char* location) {
    std::string uri = location;
    if (uri.find("://") == std::string::npos) {
        gchar* u = gst_filename_to_uri(location, nullptr);
        uri = u ? u : "";
        g_free(u);
    }
    if (uri.rfind("file://", 0) == 0 && IsAiffUri(uri)) uri = "push" + uri;
    return uri;
}

int32_t Open(const char* location, TmPcmFormat* format, void** out) {
    if (!location || !*location || !format || !out) return kTmBadParam;
    *out = nullptr;
    *format = TmPcmFormat{};
    if (!gst_is_initialized() && !gst_init_check(nullptr, nullptr, nullptr)) return kTmNotEntered;
    const std::string uri = UriOf(location);
    if (uri.empty()) return kTmBadParam;

    auto* d = new Decoder;
    d->pipeline = gst_element_factory_make("playbin", nullptr);
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(
        "audioconvert ! audio/x-raw,format=S16LE,layout=interleaved,channels=(int)[1,2] ! "
        "appsink name=pcm sync=false max-buffers=16",
        TRUE, &error);
    if (error) g_error_free(error);
    GstElement* video = gst_element_factory_make("fakesink", nullptr);
    if (!d->pipeline || !bin || !video) {
        if (bin) gst_object_unref(bin);
        if (video) gst_object_unref(video);
        Close(d);
        return kTmCantMakeMovie;
    }
    d->sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(bin), "pcm"));
    g_object_set(d->pipeline, "uri", uri.c_str(), "flags", kPlayAudio, "audio-sink", bin,
                 "video-sink", video, nullptr);
    GstBus* bus = gst_element_get_bus(d->pipeline);
    gst_bus_set_sync_handler(bus, &OnBus, d, nullptr);
    gst_object_unref(bus);

    GstStateChangeReturn r = gst_element_set_state(d->pipeline, GST_STATE_PAUSED);
    if (r == GST_STATE_CHANGE_ASYNC)
        r = gst_element_get_state(d->pipeline, nullptr, nullptr, kOpenTimeout);
    GstSample* preroll = r == GST_STATE_CHANGE_SUCCESS && !d->failed
                             ? gst_app_sink_try_pull_preroll(d->sink, 0)
                             : nullptr;
    GstAudioInfo info;
    const bool ok = preroll && gst_audio_info_from_caps(&info, gst_sample_get_caps(preroll));
    if (preroll) gst_sample_unref(preroll);
    if (!ok) {
        Close(d);
        return r == GST_STATE_CHANGE_ASYNC ? kTmTimedOut : kTmCantMakeMovie;
    }
    d->rate = GST_AUDIO_INFO_RATE(&info);
    d->channels = GST_AUDIO_INFO_CHANNELS(&info);
    gint64 ns = 0;
    if (gst_element_query_duration(d->pipeline, GST_FORMAT_TIME, &ns) && ns > 0)
        d->frames = static_cast<int64_t>(gst_util_uint64_scale_round(ns, d->rate, GST_SECOND));
    if (d->rate <= 0 || d->channels < 1 || d->channels > 2 ||
        gst_element_set_state(d->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        Close(d);
        return kTmCantMakeMovie;
    }
    format->rate = static_cast<uint32_t>(d->rate);
    format->channels = static_cast<uint16_t>(d->channels);
    format->bitsPerSample = 16;
    format->frames = d->frames;
    *out = d;
    return kTmOk;
}

int32_t Read(void* decoder, void* buffer, int32_t frames) {
    auto* d = static_cast<Decoder*>(decoder);
    if (!d || !buffer || frames <= 0) return 0;
    const size_t bpf = static_cast<size_t>(BytesPerFrame(*d));
    auto* to = static_cast<uint8_t*>(buffer);
    size_t want = static_cast<size_t>(frames) * bpf;
    size_t done = 0;
    while (done < want) {
        if ((!d->sample || d->offset + bpf > d->map.size) && !NextSample(*d)) break;
        const size_t have = (d->map.size - d->offset) / bpf * bpf;
        const size_t n = std::min(have, want - done);
        std::memcpy(to + done, d->map.data + d->offset, n);
        d->offset += n;
        done += n;
    }
    return static_cast<int32_t>(done / bpf);
}

int64_t Seek(void* decoder, int64_t frame) {
    auto* d = static_cast<Decoder*>(decoder);
    if (!d) return 0;
    frame = std::max<int64_t>(0, frame);
    if (d->frames >= 0) frame = std::min(frame, d->frames);
    DropSample(*d);
    // Rounded up: a decoder that clips to the segment counts the frames it
    // drops rounding down, so the first frame kept is `frame` itself.
    const auto ns = gst_util_uint64_scale_ceil(static_cast<guint64>(frame), GST_SECOND, d->rate);
    if (!gst_element_seek_simple(
            d->pipeline, GST_FORMAT_TIME,
            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
            static_cast<gint64>(ns)))
        return 0;
    d->dropUntil = frame;
    return frame;
}

void ClosePcm(void* decoder) {
    Close(static_cast<Decoder*>(decoder));
}

const TmPcmCalls kCalls{&Open, &Read, &Seek, &ClosePcm};

}  // namespace

}  // namespace tunara::media::module

TM_EXPORT const TmPcmCalls* tunaraMediaPcmCalls() {
    return &tunara::media::module::kCalls;
}
