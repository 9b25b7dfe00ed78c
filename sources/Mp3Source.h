#pragma once
// The playlist item for an MP3 file (MPEG-1, -2 or -2.5 Layer III), decoded by
// our own decoder into 16-bit PCM for the output engine.
//
// A file joined from streams at different sampling rates plays part by part:
// the item's rate, channels and positions are the current part's, offset by
// the parts before it, and the device is reopened at each change.
//
// The audio lies between an ID3v2 tag at the front and an ID3v1 record at the
// end; the decoder is only ever shown the bytes between them, from the first
// confirmed frame after any junk and the encoder's summary frame. An encoder's
// delay and padding are trimmed, so a file plays exactly as long as its source. LoadInfo looks
// at the tags and the first frame header only; the first OpenStream indexes
// every frame (kept for the life of the object) for the duration, the
// bit-rate kind and seeking.
//
// Threads: LoadInfo, OpenStream, CloseStream and SeekFrame run on the
// user-interface thread while no feeder runs; ReadFrames runs on the feeder.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/PcmSource.h"
#include "mpegdec/mpegdec.h"
#include "mpegdec/mpegstream.h"

namespace tunara {

namespace testing {
class Mp3SourceProbe;
}

// Whether the file (after any ID3v2 tag) holds MPEG Layer I or II audio and no Layer III: such
// a file, whatever its name, is for the media framework. *header (may be null) gets its first
// frame's header.
bool IsMpegLayer12File(const std::string& path, MpegHeaderWord* header = nullptr);

class Mp3Source : public PcmSource {
public:
    explicit Mp3Source(OutputEngine& engine);
    ~Mp3Source() override;

    // The tag's title when "UseID3Title" is on and the tag has one, else the
    // file name without its extension; follows the setting live.
    std::string GetTitle() const override;

    // Reads the tags and estimates rates and duration from the first frame
    // header. 0 (after "Failed to open the file %1.") when the file cannot be
    // opened or holds no Layer III header where the audio should start.
    int LoadInfo() override;

    // A new run may report one decode error again.
    void Play() override;
    void FastForward() override;
    void Rewind() override;

    // Past the end of a part whose follower has another rate: reopens the
    // device at the next part's format and goes on playing it.
    int IsPlaying() override;
    int32_t GetPosition() override;
    void Seek(int32_t positionMs) override;

    // Where the sampling rate or channel count changes: the samples per
    // channel of the current part still to come before the next part begins
    // counted from the part's start, -1 when this is the last part (or before
    // the first OpenStream). NextPart moves the stream to the next part's start
    // (its rate and channels then reported); false when there is none.
    int64_t FormatChangeAt() const;
    bool NextPart();

    int OpenStream() override;
    int CloseStream() override;
    int ReadFrames(void* buffer, int frames) override;
    int WriteFrames(const void*, int) override { return 0; }
    uint32_t SeekFrame(uint32_t frame) override;

protected:
    bool ContinuesInNewFormat() const override;

private:
    friend class testing::Mp3SourceProbe;  // sources/testing: tests and tools look inside

    static int32_t ReadCallback(uint8_t* dst, int32_t* count, void* user);
    bool LocateAudio(int fd);
    void TakeEncoderGap(const MpegStreamSummary& summary);
    bool QuickScan(int fd);
    // Indexes every frame; false when none was found.
    bool FullScan(int fd);
    void EnterPart(size_t part);
    int64_t PartStartMs(size_t part) const;
    bool DecodeNext();
    bool HoldFrame(int64_t frameNo);
    int64_t WarmUpStart(int64_t frameNo) const;
    void PositionDecoder(int64_t frameNo);
    void CopyFrames(uint8_t* dst, int64_t fromPos, int count) const;
    void ReportDecodeError();
    int FailOpen(int errorNumber = 0);

    int fd_ = -1;
    std::string tagTitle_;
    int frameSamples_ = 1152;  // L: samples per channel in one MPEG frame
    // Output positions count the samples per channel that are played: the encoder's delay and
    // padding (and the decoder's own lag) trimmed away, the summary frame left out.
    int64_t readFrames_ = 0;  // forward: the next position to deliver; rewind: the first delivered
    int32_t encoderDelay_ = -1;
    int32_t encoderPadding_ = -1;
    int32_t smpbDelay_ = -1;  // from an "iTunSMPB" comment, used where the stream has none
    int32_t smpbPadding_ = -1;
    int64_t skip_ = 0;           // decoder output samples before position 0
    int64_t keep_ = 0;           // positions in the stream
    int64_t nextFrameNo_ = 0;    // audio frame (index into frameIndex_) the decoder reads next
    int64_t blockFrameNo_ = -1;  // audio frame held in pcm_, -1 for none
    MpegDecHandle decoder_ = nullptr;
    bool decoderLocated_ = false;  // the decoder's first (locating) call is done
    std::vector<int16_t> pcm_;     // the decoded block, interleaved
    int blockChannels_ = 0;
    int blockFrames_ = 0;
    int64_t audioBegin_ = 0;
    int64_t audioEnd_ = 0;
    bool audioLocated_ = false;
    std::vector<int64_t> frameIndex_;  // audio frames only: junk and the summary frame left out
    int64_t filePos_ = 0;              // next byte the read callback hands the decoder
    int64_t maxReadEnd_ = 0;
    std::atomic<bool> decodeErrorShown_{false};

    // Runs of frames of one sampling rate and channel count, in file order.
    struct Part {
        int64_t firstFrame;  // index into frameIndex_
        int rate;
        int channels;
        int frameSamples;
        int64_t skip;  // decoder output samples before its position 0
        int64_t keep;  // positions in the part
    };
    std::vector<Part> parts_;
    size_t part_ = 0;                     // the part being read
    size_t openPart_ = 0;                 // the part the next OpenStream starts in
    int64_t partEnd_ = 0;                 // one past the current part's last frame
    std::atomic<bool> partEnded_{false};  // a run read to the end of a part with one after it
    int32_t freeBytes_ = 0;               // free format: frame length without padding
    int64_t inputBase_ = 0;               // file offset of the decoder's input offset 0
    // A frame decoded past frames the damage took: held until their silence is out.
    std::vector<int16_t> pendingPcm_;
    int64_t pendingFrameNo_ = -1;
    int pendingChannels_ = 0;
    int pendingSamples_ = 0;
};

}  // namespace tunara
