#pragma once
// Waveform output: a device that plays PCM buffers queued by the caller and
// hands each one back, done, on a thread of its own.
//
// Backends, chosen by TUNARA_AUDIO:
//   (unset)      the sound server when one answers, else ALSA "default"; the
//                null device (real time) when neither opens, with one line
//                on stderr
//   alsa[:NAME]  ALSA PCM NAME (default "default")
//   pulse[:SINK] the PulseAudio (or PipeWire) server, sink SINK (default: the
//                server's own)
//   null         discards, consuming at the real-time rate of the format
//   null:fast    discards as fast as buffers arrive
//   null:step    consumes only what a test asks for (NullDevice::Consume)
//   file:PATH    writes what is played to the WAV file PATH (as fast as
//                buffers arrive); the header is fixed up at close
//
// A sample is one value of one channel, a frame one sample of every channel.
// Positions are counted in frames ("samples" in the sense of a sample clock).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tunara::audio {

// Result of every device call.
enum class Status {
    Ok = 0,
    Error,         // the device or the system refused
    NoDevice,      // not open (or no such device)
    BadFormat,     // the format is not one the device plays
    Unprepared,    // Write with a header that was not prepared
    StillPlaying,  // Unprepare of a header that is queued
    Unsupported,   // an optional member the backend does not provide
    InvalidParam,  // null header, null data, length not whole frames
};
const char* StatusText(Status status);

// Integer PCM, interleaved, little-endian; 8-bit is unsigned.
struct PcmFormat {
    uint16_t formatTag = 1;  // PCM
    uint16_t channels = 0;   // 1 or 2
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSec = 0;  // blockAlign * sampleRate
    uint16_t blockAlign = 0;      // channels * bitsPerSample / 8 (bytes per frame)
    uint16_t bitsPerSample = 0;   // 8, 16, 24 or 32
    uint16_t extraSize = 0;

    // Fills the derived fields.
    static PcmFormat Make(int channels, int sampleRate, int bitsPerSample);
    // Tag 1, 1-2 channels, 8/16/24/32 bits, rate 1..768000, derived fields consistent.
    bool Valid() const;
};

// Header flags.
inline constexpr uint32_t kHeaderDone = 0x01;      // handed back by the device (or never queued)
inline constexpr uint32_t kHeaderPrepared = 0x02;  // Prepare succeeded; Unprepare clears it
inline constexpr uint32_t kHeaderInQueue = 0x10;   // written and not yet handed back

// One buffer of PCM. The caller owns it and its data; between Write and the
// done notice the device owns both and the caller must not touch them.
struct BufferHeader {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;  // bytes to play, whole frames
    uint32_t bytesRecorded = 0;
    uintptr_t user = 0;
    std::atomic<uint32_t> flags{0};
    uint32_t loops = 0;
    // The gain of the item the frames come from, applied on their way out
    // (so that it changes exactly where the items meet).
    float gain = 1.0f;
    // The device's own fields.
    BufferHeader* next = nullptr;
    uint64_t endFrame = 0;  // frame count at which the buffer has been played
};

enum class Message { Open, Close, Done };

// Called on the device's thread, never on a thread that calls the device.
// Done carries the finished header, whose done flag is already set; Open
// and Close carry none. The callback must not call the device.
using Callback = void (*)(Message message, BufferHeader* header, void* instance);

// What a device does to every frame on its way out, in order, each frame
// once: `in` to `out`, `frames` whole frames of `format`, with the buffer's
// own gain; `context` is the one given with it. Returns false when the frames
// go out as they are (nothing written). Runs on the device's thread and must
// not block or allocate.
using OutputProcessor = bool (*)(void* context, const PcmFormat& format, float itemGain,
                                 const uint8_t* in, uint8_t* out, uint32_t frames);

class AudioDevice {
public:
    virtual ~AudioDevice() = default;

    // The processor the ALSA, PulseAudio and file devices run, given before
    // Open; without one the frames go out as they are.
    void SetOutputProcessor(OutputProcessor processor, void* context) {
        processor_ = processor;
        processorContext_ = context;
    }

    // --- Required of every backend ---
    // Opens for `format`; `callback` may be null.
    virtual Status Open(const PcmFormat& format, Callback callback, void* instance) = 0;
    // Hands back every queued buffer, delivers the remaining notices, closes.
    virtual Status Close() = 0;
    // Queues a prepared header; it plays after those written before it.
    virtual Status Write(BufferHeader* header) = 0;
    // Stops playing; buffers written while paused wait.
    virtual Status Pause() = 0;
    virtual Status Restart() = 0;
    // Stops, hands back every queued buffer as done, position back to 0,
    // not paused. The notices follow on the device's thread.
    virtual Status Reset() = 0;
    // Frames played since the open or the last reset.
    virtual Status GetPosition(uint32_t& frames) = 0;

    // --- Optional (the base does the bookkeeping or says Unsupported) ---
    virtual Status Prepare(BufferHeader* header);
    virtual Status Unprepare(BufferHeader* header);
    // The ALSA mixer card of the output; empty when it has none.
    virtual std::string MixerCard() const { return {}; }
    // Backend name for messages: "alsa:default", "pulse", "null", "file:...".
    virtual std::string Name() const = 0;

protected:
    OutputProcessor processor_ = nullptr;
    void* processorContext_ = nullptr;
};

// The device TUNARA_AUDIO names (see above), not yet opened. Never null.
std::unique_ptr<AudioDevice> CreateDevice();
// The device of a TUNARA_AUDIO-style text; null for unknown text.
std::unique_ptr<AudioDevice> CreateDevice(std::string_view choice);
// Lets tests put their own device behind CreateDevice(); pass an empty
// function to go back to TUNARA_AUDIO.
void SetDeviceFactory(std::function<std::unique_ptr<AudioDevice>()> factory);

// The ALSA mixer card belonging to the output TUNARA_AUDIO names; empty for
// the null and file devices.
std::string OutputMixerCard();

}  // namespace tunara::audio
