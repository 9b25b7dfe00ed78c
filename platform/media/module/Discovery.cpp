// Making a movie: one discovery pass over the medium, turned into tracks and
// a sound description.
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <glib/gstdio.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>

#include "platform/media/module/Toolbox.h"

namespace tunara::media::module {

namespace {

constexpr GstClockTime kDiscoveryTimeout = 5 * GST_SECOND;

// Microsoft-style codes the sound tables know by number.
constexpr uint32_t kMsImaAdpcm = 0x6D730011;
constexpr uint32_t kMsAdpcm = 0x6D730002;
constexpr uint32_t kMsMp3 = 0x6D730055;

struct Caps {
    std::string name;
    const GstStructure* s = nullptr;
    std::string Str(const char* field) const {
        const char* v = s ? gst_structure_get_string(s, field) : nullptr;
        return v ? v : "";
    }
    int Int(const char* field, int fallback = 0) const {
        int v = fallback;
        if (s && gst_structure_get_int(s, field, &v)) return v;
        return fallback;
    }
};

// The version-1 fields that give the coded bit rate back through
// bytesPerFrame * b / (bytesPerSample * samplesPerPacket * channels). An
// unknown rate leaves bytesPerFrame 0, so it reads as 0 rather than as the
// rate of the decoded PCM.
void SetPacketFields(TmSoundDescription& d, uint32_t samplesPerPacket, uint32_t bitRate) {
    uint32_t rate = d.sampleRate >> 16;
    if (rate == 0) rate = static_cast<uint32_t>(d.reserved1);
    int channels = d.numChannels > 0 ? d.numChannels : 1;
    d.samplesPerPacket = samplesPerPacket;
    d.bytesPerSample = 2;
    if (samplesPerPacket == 0 || rate == 0 || bitRate == 0) return;
    uint64_t bytesPerFrame =
        (static_cast<uint64_t>(bitRate) * samplesPerPacket + 4 * rate) / (8ull * rate);
    d.bytesPerFrame = static_cast<uint32_t>(bytesPerFrame);
    d.bytesPerPacket = static_cast<uint32_t>(bytesPerFrame / channels);
}

void SetPcmFields(TmSoundDescription& d, uint32_t format, int bits) {
    d.dataFormat = format;
    d.sampleSize = static_cast<int16_t>(bits);
    d.samplesPerPacket = 1;
    d.bytesPerPacket = static_cast<uint32_t>(bits / 8);
    d.bytesPerFrame = static_cast<uint32_t>(d.numChannels * bits / 8);
    d.bytesPerSample = static_cast<uint32_t>(bits / 8);
}

uint32_t RawFormatCode(const std::string& format, int& bits) {
    const GstAudioFormatInfo* fi =
        gst_audio_format_get_info(gst_audio_format_from_string(format.c_str()));
    if (!fi || GST_AUDIO_FORMAT_INFO_FORMAT(fi) == GST_AUDIO_FORMAT_UNKNOWN) return 0;
    bits = GST_AUDIO_FORMAT_INFO_WIDTH(fi);
    bool le = GST_AUDIO_FORMAT_INFO_IS_LITTLE_ENDIAN(fi);
    if (GST_AUDIO_FORMAT_INFO_IS_FLOAT(fi)) return bits == 64 ? FourCc("fl64") : FourCc("fl32");
    if (bits == 8) return GST_AUDIO_FORMAT_INFO_IS_SIGNED(fi) ? FourCc("twos") : FourCc("raw ");
    if (bits == 16) return le ? FourCc("sowt") : FourCc("twos");
    if (bits == 24) return FourCc("in24");
    return FourCc("in32");
}

// Fills the sound description of an audio stream from its caps and what the
// discovery measured. Returns the media type.
uint32_t DescribeSound(const Caps& c, GstDiscovererAudioInfo* ai, uint32_t bitRate,
                       bool inMpegStream, TmSoundDescription& d, bool& hasSound) {
    std::memset(&d, 0, sizeof(d));
    d.descSize = sizeof(TmSoundDescription);
    d.version = 1;
    d.dataRefIndex = 1;
    int rate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(ai));
    if (rate == 0) rate = c.Int("rate");
    int channels = static_cast<int>(gst_discoverer_audio_info_get_channels(ai));
    if (channels == 0) channels = c.Int("channels", 1);
    d.numChannels = static_cast<int16_t>(channels);
    // Rates of 64 kHz and more do not fit the 16.16 field; they travel in the
    // otherwise unused reserved1 with the fixed field left 0.
    if (rate > 0 && rate < 65536)
        d.sampleRate = static_cast<uint32_t>(rate) << 16;
    else
        d.reserved1 = rate;
    d.sampleSize = 16;
    hasSound = true;

    const std::string& n = c.name;
    if (n == "audio/midi" || n == "audio/riff-midi" || n == "audio/x-midi-event") {
        hasSound = false;
        return FourCc("musi");
    }
    if (n == "audio/x-raw") {
        int bits = 16;
        uint32_t code = RawFormatCode(c.Str("format"), bits);
        SetPcmFields(d, code ? code : FourCc("NONE"), bits);
    } else if (n == "audio/x-aiff" || n == "audio/x-au") {
        // The parsers hand out big-endian PCM when nothing more specific is known.
        int depth = static_cast<int>(gst_discoverer_audio_info_get_depth(ai));
        SetPcmFields(d, FourCc("twos"), depth > 0 ? depth : 16);
    } else if (n == "audio/x-wav") {
        int depth = static_cast<int>(gst_discoverer_audio_info_get_depth(ai));
        if (depth <= 0) depth = 16;
        SetPcmFields(d, depth == 8 ? FourCc("raw ") : FourCc("sowt"), depth);
    } else if (n == "audio/x-mulaw" || n == "audio/x-alaw") {
        d.dataFormat = n == "audio/x-mulaw" ? FourCc("ulaw") : FourCc("alaw");
        d.samplesPerPacket = 1;
        d.bytesPerPacket = 1;
        d.bytesPerFrame = static_cast<uint32_t>(channels);
        d.bytesPerSample = 2;
    } else if (n == "audio/x-adpcm") {
        std::string layout = c.Str("layout");
        if (layout == "quicktime") {
            d.dataFormat = FourCc("ima4");
            d.samplesPerPacket = 64;
            d.bytesPerPacket = 34;
            d.bytesPerFrame = 34u * static_cast<uint32_t>(channels);
            d.bytesPerSample = 2;
        } else if (layout == "dvi" || layout == "microsoft") {
            d.dataFormat = layout == "dvi" ? kMsImaAdpcm : kMsAdpcm;
            int align = c.Int("block_align", 0);
            d.samplesPerPacket = 0;
            if (align > 0) {
                d.bytesPerFrame = static_cast<uint32_t>(align);
                d.bytesPerPacket = static_cast<uint32_t>(align / channels);
            }
            d.bytesPerSample = 2;
        } else {
            SetPacketFields(d, 1, bitRate);
        }
    } else if (n == "audio/x-mace") {
        int version = c.Int("maceversion", 3);
        d.dataFormat = version == 6 ? FourCc("MAC6") : FourCc("MAC3");
        d.sampleSize = 8;
        d.samplesPerPacket = 6;
        d.bytesPerPacket = version == 6 ? 1 : 2;
        d.bytesPerFrame = d.bytesPerPacket * static_cast<uint32_t>(channels);
        d.bytesPerSample = 1;
    } else if (n == "audio/x-dv") {
        d.dataFormat = FourCc("dvca");
    } else if (n == "audio/qcelp") {
        d.dataFormat = FourCc("Qclp");
        SetPacketFields(d, 160, bitRate);
    } else if (n == "audio/mpeg") {
        int version = c.Int("mpegversion", 1);
        if (version == 1) {
            int layer = c.Int("layer", 3);
            d.dataFormat = layer == 3 ? kMsMp3 : (layer == 2 ? FourCc(".mp2") : FourCc(".mp1"));
            int samples = layer == 1 ? 384 : 1152;
            if (layer == 3 && rate > 0 && rate < 32000) samples = 576;
            SetPacketFields(d, static_cast<uint32_t>(samples), bitRate);
            // Described all the same, so the player can show its rates.
            if (inMpegStream) return FourCc("MPEG");
        } else {
            d.dataFormat = FourCc("mp4a");
            SetPacketFields(d, 1024, bitRate);
        }
    } else if (n.rfind("audio/x-gst-fourcc-", 0) == 0 && n.size() >= 23) {
        const char* code = n.c_str() + 19;
        d.dataFormat = (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
                       (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
    } else {
        // Codecs the sound tables have no name for keep their coded rate.
        static const struct {
            const char* caps;
            const char* code;
            uint32_t samples;
        } others[] = {{"audio/x-vorbis", "vorb", 1024}, {"audio/x-flac", "flac", 4096},
                      {"audio/x-alac", "alac", 4096},   {"audio/x-opus", "opus", 960},
                      {"audio/x-ac3", "ac-3", 1536},    {"audio/x-eac3", "ec-3", 1536},
                      {"audio/x-dts", "dtsc", 512},     {"audio/x-wma", "wma ", 2048},
                      {"audio/AMR", "samr", 160},       {"audio/x-speex", "spex", 320},
                      {"audio/x-wavpack", "wvpk", 4096}};
        d.dataFormat = FourCc("????");
        uint32_t samples = 1024;  // any packet size: it only carries the rate
        for (const auto& o : others) {
            if (n == o.caps) {
                d.dataFormat = (uint32_t(uint8_t(o.code[0])) << 24) |
                               (uint32_t(uint8_t(o.code[1])) << 16) |
                               (uint32_t(uint8_t(o.code[2])) << 8) | uint32_t(uint8_t(o.code[3]));
                samples = o.samples;
            }
        }
        SetPacketFields(d, samples, bitRate);
    }
    return FourCc("soun");
}

// The coded rate of a sound stream: what its tags say, else what the file
// holds per second when the stream is all there is in it (fileBitRate), else
// the tagged ceiling.
uint32_t StreamBitRate(GstDiscovererAudioInfo* ai, uint32_t fileBitRate) {
    uint32_t bitRate = gst_discoverer_audio_info_get_bitrate(ai);
    const GstTagList* tags = gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(ai));
    guint nominal = 0;
    if (bitRate == 0 && tags && gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &nominal))
        bitRate = nominal;
    if (bitRate == 0) bitRate = fileBitRate;
    if (bitRate == 0) bitRate = gst_discoverer_audio_info_get_max_bitrate(ai);
    return bitRate;
}

// Bits per second of a local file over the given duration; 0 when unknown.
uint32_t FileBitRate(const std::string& uri, int64_t durationNs) {
    if (durationNs <= 0) return 0;
    gchar* path = gst_uri_get_location(uri.c_str());
    if (!path) return 0;
    GStatBuf st;
    const bool ok = g_stat(path, &st) == 0 && S_ISREG(st.st_mode);
    g_free(path);
    if (!ok) return 0;
    const double bits =
        static_cast<double>(st.st_size) * 8.0 * 1e9 / static_cast<double>(durationNs);
    return bits >= 1 && bits < 4e9 ? static_cast<uint32_t>(bits + 0.5) : 0;
}

// Tags become user data items; what an item already holds is kept, so the
// first list given wins. Control characters would break a one-line display,
// and a tag beyond a few kilobytes is no title.
void TakeTags(const GstTagList* tags, std::map<uint32_t, std::string>& userData) {
    if (!tags) return;
    static const struct {
        const char* tag;
        uint32_t type;
    } items[] = {{GST_TAG_TITLE, kUserDataTitle},
                 {GST_TAG_ARTIST, kUserDataArtist},
                 {GST_TAG_ALBUM, kUserDataAlbum},
                 {GST_TAG_GENRE, kUserDataGenre}};
    constexpr size_t kMaxItemBytes = 4096;
    for (const auto& item : items) {
        if (userData.count(item.type)) continue;
        gchar* value = nullptr;
        if (!gst_tag_list_get_string(tags, item.tag, &value) || !value) continue;
        std::string text = value;
        g_free(value);
        if (text.size() > kMaxItemBytes) {
            size_t cut = kMaxItemBytes;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
            text.resize(cut);
        }
        for (char& ch : text) {
            if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
        }
        if (!text.empty()) userData[item.type] = std::move(text);
    }
}

Caps CapsOf(GstDiscovererStreamInfo* info, GstCaps*& owned) {
    owned = gst_discoverer_stream_info_get_caps(info);
    Caps c;
    if (owned && gst_caps_get_size(owned) > 0) {
        c.s = gst_caps_get_structure(owned, 0);
        c.name = gst_structure_get_name(c.s);
    }
    return c;
}

// The most specific link of a stream chain (a parser's output beats its input).
GstDiscovererStreamInfo* Deepest(GstDiscovererStreamInfo* info) {
    GstDiscovererStreamInfo* last = info;
    for (GstDiscovererStreamInfo* n = gst_discoverer_stream_info_get_next(info); n;) {
        if (GST_IS_DISCOVERER_CONTAINER_INFO(n)) {
            gst_discoverer_stream_info_unref(n);
            break;
        }
        if (last != info) gst_discoverer_stream_info_unref(last);
        last = n;
        n = gst_discoverer_stream_info_get_next(n);
    }
    if (last != info) return last;  // caller unrefs
    return static_cast<GstDiscovererStreamInfo*>(gst_discoverer_stream_info_ref(info));
}

}  // namespace

int32_t Discover(const std::string& uri, bool network, MovieInfo& info) {
    // A discoverer used for a second medium sometimes stalls until its
    // time-out, so each medium gets a fresh one.
    GstDiscoverer* discoverer = gst_discoverer_new(kDiscoveryTimeout, nullptr);
    if (!discoverer) return kTmCantMakeMovie;
    GError* error = nullptr;
    GstDiscovererInfo* di = gst_discoverer_discover_uri(discoverer, uri.c_str(), &error);
    g_object_unref(discoverer);
    if (error) g_error_free(error);
    if (!di) return kTmCantMakeMovie;
    GstDiscovererResult result = gst_discoverer_info_get_result(di);
    GList* audio = gst_discoverer_info_get_audio_streams(di);
    GList* video = gst_discoverer_info_get_video_streams(di);
    int32_t status = kTmOk;
    if (result == GST_DISCOVERER_TIMEOUT) {
        status = kTmTimedOut;
    } else if ((result != GST_DISCOVERER_OK && result != GST_DISCOVERER_MISSING_PLUGINS) ||
               (!audio && !video)) {
        status = kTmCantMakeMovie;
    }
    if (status == kTmOk) {
        info.network = network;
        info.seekable = gst_discoverer_info_get_seekable(di);
        GstClockTime duration = gst_discoverer_info_get_duration(di);
        info.durationNs =
            (duration == GST_CLOCK_TIME_NONE || duration == 0 || gst_discoverer_info_get_live(di))
                ? -1
                : static_cast<int64_t>(duration);
        // An MPEG program stream or a bare MPEG audio stream is one MPEG medium.
        bool mpegStream = false;
        GstDiscovererStreamInfo* top = gst_discoverer_info_get_stream_info(di);
        if (top) {
            GstCaps* owned = nullptr;
            Caps c = CapsOf(top, owned);
            mpegStream =
                (c.name == "video/mpeg" && c.s && gst_structure_has_field(c.s, "systemstream")) ||
                (c.name == "audio/mpeg" && !GST_IS_DISCOVERER_CONTAINER_INFO(top));
            if (owned) gst_caps_unref(owned);
            if (GST_IS_DISCOVERER_CONTAINER_INFO(top)) {
                TakeTags(gst_discoverer_container_info_get_tags(GST_DISCOVERER_CONTAINER_INFO(top)),
                         info.userData);
            }
            gst_discoverer_stream_info_unref(top);
        }
        // A file of one sound stream and nothing else: its size over its
        // duration is that stream's rate, headers and tags included.
        const uint32_t fileBitRate =
            (!network && audio && !audio->next && !video) ? FileBitRate(uri, info.durationNs) : 0;
        for (GList* l = audio; l; l = l->next) {
            auto* ai = GST_DISCOVERER_AUDIO_INFO(l->data);
            GstDiscovererStreamInfo* deepest = Deepest(GST_DISCOVERER_STREAM_INFO(ai));
            GstCaps* owned = nullptr;
            Caps c = CapsOf(deepest, owned);
            // A header without a sound format in it is not a sound track.
            bool known = gst_discoverer_audio_info_get_sample_rate(ai) != 0 || c.Int("rate") != 0 ||
                         c.name == "audio/midi" || c.name == "audio/x-midi-event";
            if (!known) {
                if (owned) gst_caps_unref(owned);
                gst_discoverer_stream_info_unref(deepest);
                continue;
            }
            TakeTags(gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(ai)),
                     info.userData);
            auto track = std::make_unique<TrackObj>();
            track->media.type = DescribeSound(c, ai, StreamBitRate(ai, fileBitRate), mpegStream,
                                              track->media.sound, track->media.hasSound);
            if (track->media.type != FourCc("soun") && track->media.type != FourCc("MPEG"))
                track->media.hasSound = false;
            if (owned) gst_caps_unref(owned);
            gst_discoverer_stream_info_unref(deepest);
            track->ears = true;
            if (info.audioRate == 0) {
                info.audioRate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(ai));
            }
            if (network) track->media.type = FourCc("strm");
            track->type = track->media.type;
            info.tracks.push_back(std::move(track));
        }
        for (GList* l = video; l; l = l->next) {
            auto* vi = GST_DISCOVERER_VIDEO_INFO(l->data);
            if (gst_discoverer_video_info_is_image(vi) && info.tracks.empty() && !l->next &&
                info.durationNs <= 0) {
                // A still picture is not something to play.
                status = kTmCantMakeMovie;
                break;
            }
            TakeTags(gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(vi)),
                     info.userData);
            auto track = std::make_unique<TrackObj>();
            track->eyes = true;
            track->media.type = network ? FourCc("strm") : FourCc("vide");
            track->type = track->media.type;
            if (info.width == 0) {
                info.width = static_cast<int>(gst_discoverer_video_info_get_width(vi));
                info.height = static_cast<int>(gst_discoverer_video_info_get_height(vi));
            }
            info.tracks.push_back(std::move(track));
        }
    }
    if (status == kTmOk && info.tracks.empty()) status = kTmCantMakeMovie;
    gst_discoverer_stream_info_list_free(audio);
    gst_discoverer_stream_info_list_free(video);
    gst_discoverer_info_unref(di);
    return status;
}

void ShutdownDiscovery() {}

}  // namespace tunara::media::module
