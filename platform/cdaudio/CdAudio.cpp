#include "platform/cdaudio/CdAudio.h"

#include <cdio/cdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/cdaudio/Toc.h"

namespace tunara::cdaudio {

namespace {

// What identifies an image file's content without reading it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    FileStamp f;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return f;
    f.exists = true;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    f.size = st.st_size;
    f.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return f;
}

class Device {
public:
    Device(std::string element) : element_(std::move(element)), isImage_(IsImageName(element_)) {}
    ~Device() { CloseCdio(cdio_); }

    const std::string& Element() const { return element_; }
    int refs = 1;

    // Looks at the drive or the image again; true when a disc is in it and
    // its table of contents is sound. Command thread only.
    uint32_t Refresh() {
        if (isImage_) {
            FileStamp now = StampOf(element_);
            if (!now.exists) {
                Forget();
                return kErrNotReady;
            }
            if (cdio_ && now == stamp_) return tocResult_;
            Forget();
            stamp_ = now;
            return Load();
        }
        if (cdio_) {
            int changed;
            {
                std::lock_guard lock(io_);
                changed = cdio_get_media_changed(cdio_);
            }
            if (changed == 0) return tocResult_;
            Forget();
        }
        return Load();
    }

    bool HasDisc() const { return cdio_ && tocResult_ == kOk; }
    const Toc& Contents() const { return toc_; }
    const CdText& Text() const { return text_; }
    TimeFormat format = TimeFormat::Msf;

    // Sectors that do not read are zeros: a scratch plays as a gap, and
    // nothing left in `out` from before is ever heard.
    uint32_t ReadSectors(int32_t lsn, int count, uint8_t* out) {
        const size_t bytes = static_cast<size_t>(count) * kBytesPerCdFrame;
        if (lsn < 0 || count < 0 || lsn + count > toc_.leadoutLsn) {
            std::memset(out, 0, bytes);
            return kErrOutOfRange;
        }
        if (count == 0) return kOk;
        // An image's reader reports success for sectors past the end of its
        // file and leaves the buffer as it was.
        std::memset(out, 0, bytes);
        if (cdio_read_audio_sectors(cdio_, out, lsn, static_cast<uint32_t>(count)) ==
            DRIVER_OP_SUCCESS)
            return kOk;
        // One at a time, so the readable sectors around a bad one still play.
        uint32_t result = kOk;
        for (int i = 0; i < count; ++i) {
            uint8_t* sector = out + static_cast<size_t>(i) * kBytesPerCdFrame;
            if (cdio_read_audio_sector(cdio_, sector, lsn + i) != DRIVER_OP_SUCCESS) {
                std::memset(sector, 0, kBytesPerCdFrame);
                result = kErrHardware;
            }
        }
        return result;
    }

private:
    uint32_t Load() {
        CdIo_t* cdio = OpenCdio(element_);
        if (!cdio) {
            tocResult_ = isImage_ ? kErrHardware : kErrNotReady;
            return tocResult_;
        }
        Toc toc;
        uint32_t r = ReadToc(cdio, toc);
        CdText text = r == kOk ? ReadCdText(cdio, toc) : CdText{};
        {
            std::lock_guard lock(io_);
            cdio_ = cdio;
            toc_ = toc;
            text_ = std::move(text);
        }
        tocResult_ = r;
        return r;
    }

    void Forget() {
        {
            std::lock_guard lock(io_);
            CloseCdio(cdio_);
            cdio_ = nullptr;
            toc_ = Toc{};
            text_ = CdText{};
        }
        tocResult_ = kErrNotReady;
        stamp_ = FileStamp{};
    }

    std::string element_;
    bool isImage_;
    std::mutex io_;  // guards cdio_ and the table of contents
    CdIo_t* cdio_ = nullptr;
    Toc toc_;
    CdText text_;
    uint32_t tocResult_ = kErrNotReady;
    FileStamp stamp_;
};

// Open devices by id. A device's own commands run under its command lock so
// that two threads never drive one drive at once.
struct Entry {
    std::shared_ptr<Device> device;
    std::shared_ptr<std::mutex> commands = std::make_shared<std::mutex>();
};
std::mutex g_tableMutex;
std::map<DeviceId, Entry> g_table;
DeviceId g_nextId = 1;

// Runs `fn(device)` under the device's command lock.
template <typename Fn>
uint32_t WithDevice(DeviceId id, Fn fn) {
    Entry entry;
    {
        std::lock_guard lock(g_tableMutex);
        auto it = g_table.find(id);
        if (it == g_table.end()) return kErrInvalidDeviceId;
        entry = it->second;
    }
    std::lock_guard lock(*entry.commands);
    return fn(*entry.device);
}

uint32_t FrameToValue(uint32_t frame, TimeFormat format) {
    if (format == TimeFormat::Milliseconds)
        return static_cast<uint32_t>(uint64_t{frame} * 1000 / kFramesPerSecond);
    return MakeMsf(frame / (60 * kFramesPerSecond), frame / kFramesPerSecond % 60,
                   frame % kFramesPerSecond);
}

}  // namespace

std::string ResultText(uint32_t result) {
    switch (result) {
        case kOk:
            return "The command completed.";
        case kErrInvalidDeviceId:
            return "The CD device is not open.";
        case kErrHardware:
            return "The CD drive or disc image could not be read.";
        case kErrInvalidDeviceName:
            return "There is no CD drive or disc image of that name.";
        case kErrDeviceOpen:
            return "The CD device is already open.";
        case kErrUnsupported:
            return "The CD device does not support this command.";
        case kErrNotReady:
            return "There is no disc in the CD drive.";
        case kErrOutOfRange:
            return "The track or position is not on the disc.";
        case kErrBadToc:
            return "The disc's table of contents is not valid.";
        case kErrAudioOutput:
            return "The audio output could not be opened for the CD.";
        default:
            return "Unknown CD device error.";
    }
}

Result Open(const std::string& element, DeviceId& id) {
    id = 0;
    if (element.empty()) return kErrInvalidDeviceName;
    std::lock_guard lock(g_tableMutex);
    for (auto& [existing, entry] : g_table) {
        if (entry.device->Element() == element) {
            ++entry.device->refs;
            id = existing;
            return kErrDeviceOpen;
        }
    }
    // A missing image is a drive without a disc; a missing device node is
    // no drive at all.
    if (!IsImageName(element) && !StampOf(element).exists) return kErrInvalidDeviceName;
    Entry entry;
    entry.device = std::make_shared<Device>(element);
    entry.device->Refresh();
    id = g_nextId++;
    if (g_nextId == 0) g_nextId = 1;
    g_table.emplace(id, std::move(entry));
    return kOk;
}

DeviceId GetDeviceId(const std::string& element) {
    std::lock_guard lock(g_tableMutex);
    for (auto& [id, entry] : g_table)
        if (entry.device->Element() == element) return id;
    return 0;
}

Result Close(DeviceId id) {
    Entry gone;
    {
        std::lock_guard lock(g_tableMutex);
        auto it = g_table.find(id);
        if (it == g_table.end()) return kErrInvalidDeviceId;
        if (--it->second.device->refs > 0) return kOk;
        gone = std::move(it->second);
        g_table.erase(it);
    }
    // The player is joined outside the table lock.
    std::lock_guard lock(*gone.commands);
    gone.device.reset();
    return kOk;
}

Result StatusMediaPresent(DeviceId id, bool& present) {
    present = false;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        uint32_t r = d.Refresh();
        present = d.HasDisc();
        return r == kErrNotReady || r == kOk ? kOk : r;
    }));
}

Result StatusNumberOfTracks(DeviceId id, int& count) {
    count = 0;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        count = d.Contents().Count();
        return kOk;
    }));
}

Result StatusTrackType(DeviceId id, int track, TrackType& type) {
    type = TrackType::Other;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        if (track < 1 || track > d.Contents().Count()) return kErrOutOfRange;
        type = d.Contents().tracks[track - 1].audio ? TrackType::Audio : TrackType::Other;
        return kOk;
    }));
}

Result StatusTrackPosition(DeviceId id, int track, uint32_t& value) {
    value = 0;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        if (track < 1 || track > d.Contents().Count()) return kErrOutOfRange;
        uint32_t frame =
            static_cast<uint32_t>(d.Contents().tracks[track - 1].startLsn) + kLeadInFrames;
        value = FrameToValue(frame, d.format);
        return kOk;
    }));
}

Result StatusTrackLength(DeviceId id, int track, uint32_t& value) {
    value = 0;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        const Toc& toc = d.Contents();
        if (track < 1 || track > toc.Count()) return kErrOutOfRange;
        uint32_t frames =
            static_cast<uint32_t>(toc.EndLsn(track - 1) - toc.tracks[track - 1].startLsn);
        value = FrameToValue(frames, d.format);
        return kOk;
    }));
}

Result StatusTrackSectors(DeviceId id, int track, int32_t& startLsn, int32_t& count) {
    startLsn = count = 0;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        const Toc& toc = d.Contents();
        if (track < 1 || track > toc.Count()) return kErrOutOfRange;
        startLsn = toc.tracks[track - 1].startLsn;
        count = toc.EndLsn(track - 1) - startLsn;
        return kOk;
    }));
}

Result StatusMode(DeviceId id, Mode& mode) {
    mode = Mode::NotReady;
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (d.Refresh() != kOk) return kOk;  // not ready is an answer, not an error
        mode = Mode::Stopped;
        return kOk;
    }));
}

Result InfoMediaIdentity(DeviceId id, std::string& text) {
    text.clear();
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        text = std::to_string(MediaIdentityOf(d.Contents()));
        return kOk;
    }));
}

Result InfoCdText(DeviceId id, CdText& text) {
    text = CdText{};
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        if (uint32_t r = d.Refresh(); r != kOk) return r;
        text = d.Text();
        return kOk;
    }));
}

Result SetTimeFormat(DeviceId id, TimeFormat format) {
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        d.format = format;
        return kOk;
    }));
}

Result ReadAudioSectors(DeviceId id, int32_t lsn, int count, uint8_t* out) {
    return static_cast<Result>(WithDevice(id, [&](Device& d) -> uint32_t {
        // A disc that went or changed under the reader gives nothing of the
        // old one.
        if (uint32_t r = d.Refresh(); r != kOk) {
            std::memset(out, 0, static_cast<size_t>(count > 0 ? count : 0) * kBytesPerCdFrame);
            return r == kErrHardware ? kErrNotReady : r;
        }
        return d.ReadSectors(lsn, count, out);
    }));
}

}  // namespace tunara::cdaudio
