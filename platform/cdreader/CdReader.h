#pragma once
// The CD reader: reads one audio track of a drive (or a disc image) into a
// 16-bit 44.1 kHz stereo WAV file on a thread of its own, with full
// cdio-paranoia error correction, and tells its listener what happens.
//
// Members, by what the recording job uses them for:
//   Prepare            before a read starts (clears the last read's error)
//   Stop               aborts a read, waits for it and forgets its events
//   Available          a drive is selected; must be true before the first read
//   QueryAnswer        what the host hands back for a query event
//   DiscReady          before a read starts: the selected drive holds audio
//   SetEnabled         reads are refused while disabled
//   StartFrame         first CD frame (1/75 s, disc address) of the current read
//   CurrentFrame       CD frame the current read has reached
//   ReadTrack          reads track index k (0-based: track number - 1) into a WAV
//   Abort              ends the current read after its current sector
//   SelectDrive        by index into Drives()
//   DriveName          the selected drive's name
//   Drives             every drive and image the reader can read
//   State              1 while a read is in progress (until its finished event
//                      has been delivered), else 0
//
// Threads: every member is called on the user-interface thread. Events are
// posted to the given queue and reach the listener when the front end
// delivers it, so they too arrive on the user-interface thread. A read ends
// with exactly one OnReadFinished, after OnReadError when it failed; an
// aborted or failed read leaves no file at the path, and so does a read
// aborted or stopped after its last sector but before its finished event was
// delivered.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/UserInteraction.h"

namespace tunara {

class CdReaderListener {
public:
    virtual ~CdReaderListener() = default;
    virtual void OnReadError(const std::string& text) { (void)text; }
    virtual void OnReadStarted() {}
    virtual void OnReadFinished() {}
    // The drive lost its disc or was taken by someone else during a read.
    virtual void OnInterrupt() {}
    virtual void OnReadProgress() {}
    // A question from the reader, answered with QueryAnswer(). This reader
    // never needs to ask; the event completes the set hosts are written for.
    virtual int32_t OnQuery() { return 0; }
};

// Every drive the CD code knows, by name, as the CD player lists them:
// libcdio's CD-ROM drives, then the disc images of TUNARA_CD_IMAGES.
std::vector<std::string> CdReaderDriveNames();

class CdReader {
public:
    explicit CdReader(PostedQueue& queue = UiQueue());
    // Aborts a running read and waits for its thread.
    ~CdReader();
    CdReader(const CdReader&) = delete;
    CdReader& operator=(const CdReader&) = delete;

    void SetListener(CdReaderListener* listener) { listener_ = listener; }

    void Prepare();
    void Stop();
    bool Available() const;
    int32_t QueryAnswer() const;
    bool DiscReady();
    void SetEnabled(bool on) { enabled_ = on; }
    // The drive's read offset in samples (-2000..2000), applied from the next read on: a
    // track's samples start that many samples later on the disc than its table of contents
    // says; what lies beyond the disc's edges reads as silence.
    void SetReadOffset(int samples) { readOffset_ = std::clamp(samples, -2000, 2000); }
    int ReadOffset() const { return readOffset_; }
    bool Enabled() const { return enabled_; }
    int32_t StartFrame() const { return startFrame_.load(); }
    int32_t CurrentFrame() const { return currentFrame_.load(); }
    // Starts reading; false with `error` set when the read cannot start
    // (disabled, no drive, a read already running). Problems found on the
    // reading thread (no disc, no such audio track, unreadable sectors, the
    // file cannot be written) come as OnReadError then OnReadFinished.
    bool ReadTrack(int trackIndex, const std::string& wavPath, std::string& error);
    void Abort();
    bool SelectDrive(int index);
    std::string DriveName() const { return drive_; }
    const std::vector<std::string>& Drives();
    int State() const { return reading_ ? 1 : 0; }

    // The last error text of a read (empty when none).
    const std::string& LastError() const { return lastError_; }
    // Sectors of the last finished read that stayed unreadable after every
    // retry. Such a read still finishes without an error event and keeps its
    // file, at full length, with silence where those sectors were.
    int32_t DamagedSectors() const { return damagedSectors_; }

protected:
    // Called on the reading thread before each sector is read (a subclass
    // may pace the reading).
    virtual void BeforeSector(int32_t frame) { (void)frame; }
    // True once the current read has been told to stop.
    bool AbortRequested() const { return abortRequested_; }

private:
    struct Read;
    void RunRead(std::shared_ptr<Read> read);
    void Post(const std::shared_ptr<Read>& read, int event, std::string text = {});
    void Deliver(const std::shared_ptr<Read>& read, int event, const std::string& text);
    void JoinThread();
    // The reading thread at its end, or the user-interface thread after it.
    static void RemoveReadFile(const Read& read);

    PostedQueue& queue_;
    CdReaderListener* listener_ = nullptr;
    std::vector<std::string> drives_;
    std::string drive_;
    bool enabled_ = false;
    int readOffset_ = 0;
    bool reading_ = false;
    std::string lastError_;
    int32_t damagedSectors_ = 0;
    std::atomic<int32_t> startFrame_{0};
    std::atomic<int32_t> currentFrame_{0};
    std::atomic<bool> abortRequested_{false};
    std::shared_ptr<Read> read_;  // the read whose events are delivered
    std::thread thread_;
    // Posted events hold this weakly, so none reaches a destroyed reader.
    std::shared_ptr<CdReader*> self_;
};

}  // namespace tunara
