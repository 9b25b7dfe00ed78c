#pragma once
// The mixer of the output device: lines found by component type, each with
// at most one volume control read and set per channel.
//
// ALSA simple-mixer elements stand for the lines: "Master" for the speakers,
// "PCM" for wave output, "CD" for the compact disc. Where the output has no
// mixer (no card, the null or file device) a software mixer with a speakers
// line stands in: its volume goes to the SoftwareGain given, which scales
// what is played.
//
// Change notices (a line or a control changed, by us or by anyone else) are
// posted to UiQueue() and reach the handler on the user-interface thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tunara::mixer {

enum class ComponentType { Speakers, WaveOut, CompactDisc };

enum class NoticeKind { LineChange, ControlChange };
struct Notice {
    NoticeKind kind = NoticeKind::ControlChange;
    uint32_t id = 0;  // the line id or the control id
};
using NoticeHandler = std::function<void(const Notice&)>;
// Takes the software mixer's volume, 0.0 to 1.0: when the mixer opens, and
// whenever any software mixer of the process changes it (they share it).
using SoftwareGain = std::function<void(float gain)>;

struct LineInfo {
    uint32_t lineId = 0;
    uint32_t controlCount = 0;
};

struct ControlInfo {
    uint32_t controlId = 0;
    long minimum = 0;
    long maximum = 0;
};

class Mixer {
public:
    virtual ~Mixer() = default;

    // --- Required of every backend; false when the line or control is missing ---
    virtual bool GetLineByComponentType(ComponentType type, LineInfo& line) = 0;
    // The line's volume control.
    virtual bool GetVolumeControl(uint32_t lineId, ControlInfo& control) = 0;
    // `channels` values (1 or 2); with 2 on a mono control the first counts.
    virtual bool SetControlValues(uint32_t controlId, const long* values, int channels) = 0;
    virtual bool GetControlValues(uint32_t controlId, long* values, int channels) = 0;
    virtual std::string Name() const = 0;

    // --- Optional ---
    // True when it scales samples in software rather than a card's control.
    virtual bool IsSoftware() const { return false; }
};

// The mixer of the output TUNARA_AUDIO names, or the software mixer when
// that has none or it cannot be opened (or has no speakers line). Never null.
std::unique_ptr<Mixer> OpenOutputMixer(NoticeHandler handler, SoftwareGain gain = {});
// An ALSA card's simple mixer ("default", "hw:0"); null when it cannot be
// opened or has none of the three elements.
std::unique_ptr<Mixer> OpenAlsaMixer(const std::string& card, NoticeHandler handler);
std::unique_ptr<Mixer> OpenSoftwareMixer(NoticeHandler handler, SoftwareGain gain = {});

}  // namespace tunara::mixer
