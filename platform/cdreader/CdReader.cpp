#include "platform/cdreader/CdReader.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <algorithm>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/ImageCheck.h"
#include "platform/io/WavHeader.h"

namespace tunara {

namespace {

enum Event { kError = 1, kStarted = 2, kFinished = 3, kInterrupt = 4, kProgress = 5 };

constexpr int kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352: 588 stereo 16-bit frames
// At most one progress event is queued; the next waits for this many sectors.
constexpr int kProgressSectors = 25;

// Reads of a sector that fails this often give it up.
constexpr int kMaxRetries = 20;

// Never skipping, paranoia retries a failing read without end, so the
// drive's read is wrapped: a sector that has failed kMaxRetries times is
// given up, counted, and read as silence from then on, which verifies. Paranoia's callback carries
// no pointer of ours; each reading thread has its own record.
struct ReadGuard {
    long (*original)(cdrom_drive_t*, void*, lsn_t, long) = nullptr;
    std::map<lsn_t, int> failures;
    std::set<lsn_t> givenUp;
    int skips = 0;  // paranoia gave up verifying a stretch
    // libcdio's image drivers answer a read that runs past the end of their
    // file as whole; one sector at a time, the missing ones fail.
    bool perSector = false;
};
thread_local ReadGuard* t_guard = nullptr;

long GuardedRead(cdrom_drive_t* d, void* buffer, lsn_t begin, long sectors) {
    ReadGuard& g = *t_guard;
    auto* bytes = static_cast<uint8_t*>(buffer);
    bool anyGivenUp = false;
    for (long i = 0; i < sectors && !anyGivenUp; ++i)
        anyGivenUp = g.givenUp.count(begin + lsn_t(i));
    if (!anyGivenUp && !g.perSector) {
        long n = g.original(d, buffer, begin, sectors);
        if (n == sectors) return n;
    }
    // Sector by sector, to find the one that fails.
    for (long i = 0; i < sectors; ++i) {
        const lsn_t s = begin + lsn_t(i);
        // Paranoia may read without a buffer, only to move the drive.
        uint8_t* at = bytes ? bytes + i * kSectorBytes : nullptr;
        if (g.givenUp.count(s) || g.original(d, at, s, 1) != 1) {
            if (!g.givenUp.count(s) && ++g.failures[s] < kMaxRetries) return -1;
            g.givenUp.insert(s);
            if (at) std::memset(at, 0, kSectorBytes);
        }
    }
    return sectors;
}

void OnParanoiaEvent(long position, paranoia_cb_mode_t mode) {
    (void)position;
    if (mode == PARANOIA_CB_SKIP) ++t_guard->skips;
}

// With errno of the failed call.
std::string WriteFailureText(int trackIndex, const std::string& path) {
    const int err = errno;
    const std::string track = std::to_string(trackIndex + 1);
    if (err == ENOSPC || err == EDQUOT)
        return "The disk is full: track " + track + " could not be read into " + path + ".";
    return "Track " + track + " could not be read into " + path + ": " + std::strerror(err) + ".";
}

struct CdioHandles {
    CdIo_t* cdio = nullptr;
    cdrom_drive_t* drive = nullptr;
    cdrom_paranoia_t* paranoia = nullptr;
    ~CdioHandles() {
        if (paranoia) cdio_paranoia_free(paranoia);
        if (drive) cdio_cddap_close_no_free_cdio(drive);
        if (cdio) cdio_destroy(cdio);
    }
};

}  // namespace

std::vector<std::string> CdReaderDriveNames() {
    std::vector<std::string> names;
    for (const auto& d : cdaudio::ListDrives()) names.push_back(d.name);
    return names;
}

// One read's shared record: the reading thread writes `frame`, `abort` is set
// by the user-interface thread.
struct CdReader::Read {
    int trackIndex = 0;
    std::string drive;
    std::string path;
    std::atomic<bool> abort{false};
    std::atomic<bool> progressQueued{false};
    int32_t damaged = 0;  // the reading thread's until it posts the finished event
    int readOffset = 0;   // samples
};

CdReader::CdReader(PostedQueue& queue) : queue_(queue), self_(std::make_shared<CdReader*>(this)) {
    // libcdio's warnings (an image that is not there, a drive without a disc)
    // would clutter the terminal; the reader reports such cases itself.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (cdio_loglevel_default < CDIO_LOG_ERROR) cdio_loglevel_default = CDIO_LOG_ERROR;
    });
}

CdReader::~CdReader() {
    Abort();
    JoinThread();
}

void CdReader::Prepare() {
    lastError_.clear();
}

void CdReader::Stop() {
    Abort();
    JoinThread();
    // Its queued events are dropped, so its host never hears of the file.
    if (read_) RemoveReadFile(*read_);
    read_.reset();
    reading_ = false;
}

void CdReader::RemoveReadFile(const Read& read) {
    std::error_code ec;
    std::filesystem::remove(read.path, ec);
}

bool CdReader::Available() const {
    return !drive_.empty();
}

int32_t CdReader::QueryAnswer() const {
    return 1;
}

bool CdReader::DiscReady() {
    if (drive_.empty()) return false;
    CdioHandles h;
    h.cdio = cdaudio::OpenCdio(drive_);
    if (!h.cdio) return false;
    track_t n = cdio_get_num_tracks(h.cdio);
    if (n == CDIO_INVALID_TRACK || n == 0) return false;
    track_t first = cdio_get_first_track_num(h.cdio);
    for (track_t t = first; t < first + n; ++t)
        if (cdio_get_track_format(h.cdio, t) == TRACK_FORMAT_AUDIO) return true;
    return false;
}

const std::vector<std::string>& CdReader::Drives() {
    drives_ = CdReaderDriveNames();
    return drives_;
}

bool CdReader::SelectDrive(int index) {
    if (drives_.empty()) Drives();
    if (index < 0 || index >= int(drives_.size())) return false;
    drive_ = drives_[size_t(index)];
    return true;
}

bool CdReader::ReadTrack(int trackIndex, const std::string& wavPath, std::string& error) {
    if (!enabled_)
        error = "The CD reader is disabled.";
    else if (drive_.empty())
        error = "No CD drive is selected.";
    else if (reading_)
        error = "A track is being read already.";
    else if (trackIndex < 0 || wavPath.empty())
        error = "No such track.";
    if (!error.empty()) return false;
    JoinThread();  // a stopped read's thread
    auto read = std::make_shared<Read>();
    read->trackIndex = trackIndex;
    read->drive = drive_;
    read->path = wavPath;
    read->readOffset = readOffset_;
    read_ = read;
    reading_ = true;
    damagedSectors_ = 0;
    startFrame_ = 0;
    currentFrame_ = 0;
    abortRequested_ = false;
    thread_ = std::thread([this, read] { RunRead(read); });
    return true;
}

void CdReader::Abort() {
    abortRequested_ = true;
    if (read_) read_->abort = true;
}

void CdReader::JoinThread() {
    if (thread_.joinable()) thread_.join();
}

void CdReader::Post(const std::shared_ptr<Read>& read, int event, std::string text) {
    std::weak_ptr<CdReader*> self = self_;
    queue_.Post([self, read, event, text = std::move(text)] {
        if (auto alive = self.lock()) (*alive)->Deliver(read, event, text);
    });
}

void CdReader::Deliver(const std::shared_ptr<Read>& read, int event, const std::string& text) {
    if (event == kProgress) read->progressQueued = false;
    if (read != read_) return;  // stopped, or an older read
    if (event == kFinished) {
        JoinThread();  // the thread posts this last and ends
        // An abort that came after the last sector found the thread past its
        // last check: the file is whole, but the host asked for none.
        if (read->abort) RemoveReadFile(*read);
        damagedSectors_ = read->damaged;
        reading_ = false;
        read_.reset();
    }
    if (event == kError) lastError_ = text;
    if (!listener_) return;
    switch (event) {
        case kError:
            listener_->OnReadError(text);
            break;
        case kStarted:
            listener_->OnReadStarted();
            break;
        case kFinished:
            listener_->OnReadFinished();
            break;
        case kInterrupt:
            listener_->OnInterrupt();
            break;
        case kProgress:
            listener_->OnReadProgress();
            break;
        default:
            break;
    }
}

// On the reading thread: everything it touches is the read record, the two
// position atomics and its own file.
void CdReader::RunRead(std::shared_ptr<Read> read) {
    std::string error;
    FILE* out = nullptr;
    bool wroteAll = false;
    ReadGuard guard;  // outlives the handles that call it
    do {
        CdioHandles h;
        h.cdio = cdaudio::OpenCdio(read->drive);
        if (!h.cdio) {
            error = cdaudio::CheckImage(read->drive);
            if (!cdaudio::IsImageName(read->drive) || error.empty())
                error = "Cannot open the CD drive " + read->drive + ".";
            break;
        }
        h.drive = cdio_cddap_identify_cdio(h.cdio, CDDA_MESSAGE_FORGETIT, nullptr);
        if (!h.drive || cdio_cddap_open(h.drive) != 0) {
            error = "There is no audio CD in " + read->drive + ".";
            break;
        }
        track_t track = track_t(cdio_get_first_track_num(h.cdio) + read->trackIndex);
        if (read->trackIndex >= cdio_cddap_tracks(h.drive) ||
            !cdio_cddap_track_audiop(h.drive, track)) {
            error = "Track " + std::to_string(read->trackIndex + 1) + " is not an audio track.";
            break;
        }
        lsn_t first = cdio_cddap_track_firstsector(h.drive, track);
        lsn_t last = cdio_cddap_track_lastsector(h.drive, track);
        if (first < 0 || last < first) {
            error = "The table of contents of " + read->drive + " cannot be read.";
            break;
        }
        const driver_id_t driver = cdio_get_driver_id(h.cdio);
        guard.perSector =
            driver == DRIVER_BINCUE || driver == DRIVER_CDRDAO || driver == DRIVER_NRG;
        guard.original = h.drive->read_audio;
        h.drive->read_audio = GuardedRead;
        t_guard = &guard;
        h.paranoia = cdio_paranoia_init(h.drive);
        if (!h.paranoia) {
            error = "Failed to allocate memory.";
            break;
        }
        // Full verification, never skipping: paranoia's own skip loses its
        // place and spoils good sectors. The guard bounds the retries.
        paranoia_modeset(h.paranoia, PARANOIA_MODE_FULL);
        // The drive's read offset moves the track's samples across sector boundaries: the
        // sectors read run from `readFirst` to `readLast`, the first `skipBytes` of them are
        // dropped, and sectors outside the disc are silence.
        const int64_t shiftBytes = int64_t(read->readOffset) * 4;
        const lsn_t readFirst =
            lsn_t(first + (shiftBytes >= 0 ? shiftBytes / kSectorBytes
                                           : -((-shiftBytes + kSectorBytes - 1) / kSectorBytes)));
        const int64_t skipBytes = shiftBytes - int64_t(readFirst - first) * kSectorBytes;
        const lsn_t readLast = lsn_t(readFirst + (skipBytes > 0 ? 1 : 0) + (last - first));
        const lsn_t discFirst = std::max<lsn_t>(cdio_cddap_disc_firstsector(h.drive), 0);
        const lsn_t discLast = cdio_cddap_disc_lastsector(h.drive);
        // Bounded to the track: overlapped reads past its end would let a
        // periodic signal match the next track's samples.
        cdio_paranoia_set_range(h.paranoia, std::max(readFirst, discFirst),
                                std::min(readLast, discLast));

        out = std::fopen(read->path.c_str(), "wb");
        if (!out) {
            error = WriteFailureText(read->trackIndex, read->path);
            break;
        }
        std::setvbuf(out, nullptr, _IOFBF, 1 << 18);
        const uint32_t dataBytes = uint32_t(last - first + 1) * kSectorBytes;
        uint8_t header[io::kWavHeaderBytes];
        io::MakeWavHeader(io::WavFormat{2, 44100, 16}, dataBytes, header);
        if (std::fwrite(header, 1, sizeof header, out) != sizeof header) {
            error = WriteFailureText(read->trackIndex, read->path);
            break;
        }
        startFrame_ = first;
        currentFrame_ = first;
        Post(read, kStarted);

        int sinceProgress = 0;
        int64_t toSkip = skipBytes, toWrite = int64_t(dataBytes);
        for (lsn_t s = readFirst; s <= readLast && toWrite > 0; ++s) {
            BeforeSector(s);
            if (read->abort) break;
            static const int16_t kSilence[kSectorBytes / 2] = {};
            const bool outside = s < discFirst || s > discLast;
            const int skipsBefore = guard.skips;
            int16_t* samples =
                outside ? nullptr
                        : cdio_paranoia_read_limited(h.paranoia, OnParanoiaEvent, kMaxRetries);
            // Silence stands in for a sector given up on and the read goes
            // on, so the file keeps its length and the track is reported.
            const int16_t* data = samples;
            if (outside) {
                data = kSilence;
            } else if (!samples || guard.skips != skipsBefore || guard.givenUp.count(s)) {
                ++read->damaged;
                data = kSilence;
            } else if constexpr (std::endian::native == std::endian::big) {
                // Paranoia hands samples in host order; WAV wants little-endian.
                for (int i = 0; i < kSectorBytes / 2; ++i)
                    samples[i] = int16_t(uint16_t(samples[i]) << 8 | uint16_t(samples[i]) >> 8);
            }
            const int64_t from = std::min<int64_t>(toSkip, kSectorBytes);
            const int64_t count = std::min<int64_t>(kSectorBytes - from, toWrite);
            toSkip -= from;
            if (count > 0 && std::fwrite(reinterpret_cast<const uint8_t*>(data) + from, 1,
                                         size_t(count), out) != size_t(count)) {
                error = WriteFailureText(read->trackIndex, read->path);
                break;
            }
            toWrite -= count;
            currentFrame_ = std::clamp<lsn_t>(s + 1, first, last + 1);
            if (++sinceProgress >= kProgressSectors) {
                sinceProgress = 0;
                if (cdio_get_media_changed(h.cdio) == 1) {
                    Post(read, kInterrupt);
                    error = "The disc in " + read->drive + " was changed.";
                    break;
                }
                if (!read->progressQueued.exchange(true)) Post(read, kProgress);
            }
            if (toWrite == 0) wroteAll = true;
        }
    } while (false);

    if (out) {
        if (std::fclose(out) != 0 && error.empty() && wroteAll)
            error = WriteFailureText(read->trackIndex, read->path);
    }
    // Also a file the host made at the path beforehand (a temporary file).
    if (!wroteAll || !error.empty()) RemoveReadFile(*read);
    if (!error.empty() && !read->abort) Post(read, kError, error);
    Post(read, kFinished);
}

}  // namespace tunara
