#pragma once
// The CD audio device: a small command set in the manner of a media control
// interface, addressed by device id after an open by element name.
//
// An element is a drive path ("/dev/sr0") or a disc image (".cue"/".bin",
// ".toc", ".nrg") that behaves as a drive: its disc is "inserted" while the
// file exists and "removed" when it disappears. The device does not play:
// its audio sectors are read as PCM (ReadAudioSectors) and played by the
// program's output engine like any other item.
//
// Units: a frame here is a CD frame (sector) of 1/75 s, 588 PCM frames.
// Positions are counted from the start of the disc including the 2-second
// lead-in (track 1 normally starts at frame 150), in the device's time
// format: milliseconds, or minutes-seconds-frames packed by MakeMsf.
//
// Every call returns a Result; ResultText turns it into words. Calls are
// safe from any thread; the commands of one device are serialised.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tunara::cdaudio {

// Result codes. The numbering of DeviceOpen and InvalidDeviceName is relied
// on by callers that compare with the classic values.
enum Result : uint32_t {
    kOk = 0,
    kErrInvalidDeviceId = 257,    // no device is open under this id
    kErrHardware = 262,           // the drive or the image could not be read
    kErrInvalidDeviceName = 263,  // the element names no drive or image
    kErrDeviceOpen = 265,         // the element is open already (id by GetDeviceId)
    kErrUnsupported = 274,        // a command the device does not do
    kErrNotReady = 276,           // no disc in the drive
    kErrOutOfRange = 282,         // a track or a position outside the disc
    kErrBadToc = 300,             // the table of contents makes no sense
    kErrAudioOutput = 301,        // kept for its number; no longer returned
};
// A sentence for the user (at most 128 characters).
std::string ResultText(uint32_t result);

using DeviceId = uint32_t;

enum class TimeFormat { Milliseconds, Msf };
enum class Mode { NotReady, Stopped, Playing };  // the device itself never plays
enum class TrackType { Audio, Other };

inline constexpr int kLeadInFrames = 150;
inline constexpr int kFramesPerSecond = 75;
inline constexpr int kPcmFramesPerCdFrame = 588;
inline constexpr int kBytesPerCdFrame = 2352;

// minutes | seconds << 8 | frames << 16
constexpr uint32_t MakeMsf(uint32_t minutes, uint32_t seconds, uint32_t frames) {
    return (minutes & 0xff) | ((seconds & 0xff) << 8) | ((frames & 0xff) << 16);
}
constexpr uint32_t MsfMinutes(uint32_t msf) {
    return msf & 0xff;
}
constexpr uint32_t MsfSeconds(uint32_t msf) {
    return (msf >> 8) & 0xff;
}
constexpr uint32_t MsfFrames(uint32_t msf) {
    return (msf >> 16) & 0xff;
}

// --- The command set ---
// Opens the element and waits until it is ready. kErrDeviceOpen when it is
// open already: the caller gets the id with GetDeviceId and, like every
// opener, calls Close once; the device really closes at the last Close.
Result Open(const std::string& element, DeviceId& id);
// The id of an open element; 0 when it is not open.
DeviceId GetDeviceId(const std::string& element);
Result Close(DeviceId id);

Result StatusMediaPresent(DeviceId id, bool& present);
Result StatusNumberOfTracks(DeviceId id, int& count);
Result StatusTrackType(DeviceId id, int track, TrackType& type);
// Start of a 1-based track, in the time format.
Result StatusTrackPosition(DeviceId id, int track, uint32_t& value);
// Length of a track, in the time format.
Result StatusTrackLength(DeviceId id, int track, uint32_t& value);
// A track's sectors: its first sector (no lead-in) and how many there are
// up to the next track or the lead-out.
Result StatusTrackSectors(DeviceId id, int track, int32_t& startLsn, int32_t& count);
Result StatusMode(DeviceId id, Mode& mode);
// Decimal text of a 64-bit number derived from the table of contents.
Result InfoMediaIdentity(DeviceId id, std::string& text);
Result SetTimeFormat(DeviceId id, TimeFormat format);

// The disc's CD-Text (for an image, the texts of its cue sheet or toc file),
// as UTF-8; a field the disc does not carry is empty.
struct CdText {
    std::string title;      // the album
    std::string performer;  // the album's artist
    std::string genre;
    std::vector<std::string> trackTitles;  // track t at t - 1, one per track
    std::vector<std::string> trackPerformers;
};
// Fills `text` from the open disc; without CD-Text every field stays empty.
Result InfoCdText(DeviceId id, CdText& text);
// Reads `count` audio sectors from `lsn` (no lead-in) into `out`, 2352
// bytes each (16-bit stereo little-endian at 44.1 kHz). A sector that cannot
// be read comes back as silence and the answer is kErrHardware; kErrNotReady
// when the disc is gone (then `out` is all silence), kErrOutOfRange for
// sectors outside the disc.
Result ReadAudioSectors(DeviceId id, int32_t lsn, int count, uint8_t* out);

// --- Drives ---
struct DriveInfo {
    std::string name;  // the element name: "/dev/sr0" or an image path
    bool isImage = false;
};
// libcdio's CD drives, then the images named in TUNARA_CD_IMAGES
// (colon-separated), whether or not their files exist now.
std::vector<DriveInfo> ListDrives();
// True for names ending in .cue, .bin, .toc or .nrg (case ignored).
bool IsImageName(const std::string& element);

}  // namespace tunara::cdaudio
