#include "sources/PcmWaveStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "sources/RiffFile.h"
#include "sources/RiffWave.h"

namespace tunara {

namespace {
constexpr uint32_t kPcmWaveTag = 816;
constexpr FourCC kBextId = MakeFourCC("BEXT");  // the upper-case spelling only
constexpr uint32_t kBextFixedBytes = 604;
}  // namespace

struct PcmWaveStreamPrivate {
    uint32_t tag = kPcmWaveTag;
    std::unique_ptr<RiffFile> file;
    bool eightBit = false;
    RiffChunk riff;
    RiffChunk data;
    std::vector<uint8_t> bext;
};

const char* pcmWaveStatusText(int status) {
    switch (status) {
        case kPcmWaveOk:
            return "success";
        case kPcmWaveEnd:
            return "end of data";
        case kPcmWaveFileError:
            return "file or format error";
        case kPcmWaveBadHandle:
            return "not an open WAVE stream";
        case kPcmWaveNoMemory:
            return "out of memory";
        default:
            return "unknown status";
    }
}

namespace {

bool DescendRiff(RiffFile& file, RiffChunk& riff) {
    if (file.Seek(0, SEEK_SET) != 0) return false;
    riff = {};
    if (file.Descend(riff, nullptr, RiffFind::Here) != RiffStatus::Ok) return false;
    return riff.id == kRiffId && riff.formType == kWaveForm;
}

bool Valid(PcmWaveStream* handle) {
    return handle && handle->open == 1 && handle->priv && handle->priv->tag == kPcmWaveTag;
}

}  // namespace

int pcmWaveOpen(PcmWaveStream** handle, const char* fileName, PcmWaveFormat* format,
                const uint8_t** bext, int32_t* bextLength) {
    if (!handle) return kPcmWaveFileError;
    *handle = nullptr;
    if (!fileName || !*fileName) return kPcmWaveFileError;
    auto io = OpenRiffFileIo(fileName, RiffOpenMode::Read);
    if (!io) return kPcmWaveFileError;

    std::unique_ptr<PcmWaveStreamPrivate> priv;
    std::unique_ptr<PcmWaveStream> stream;
    try {
        priv = std::make_unique<PcmWaveStreamPrivate>();
        stream = std::make_unique<PcmWaveStream>();
        priv->file = std::make_unique<RiffFile>(std::move(io));
    } catch (const std::bad_alloc&) {
        return kPcmWaveNoMemory;
    }
    RiffFile& file = *priv->file;
    const int64_t fileSize = file.FileSize();

    // The first chunk must be the WAVE form.
    if (!DescendRiff(file, priv->riff)) return kPcmWaveFileError;
    RiffChunk fmt;
    fmt.id = kFmtId;
    if (file.Descend(fmt, &priv->riff, RiffFind::Chunk) != RiffStatus::Ok ||
        fmt.size < kWaveFormatMinimumChunk) {
        return kPcmWaveFileError;
    }
    uint8_t record[kWaveFormatMinimumChunk];
    if (file.Read(record, sizeof record) != sizeof record) return kPcmWaveFileError;
    const WaveFormatRecord f = DecodeWaveFormat(record, sizeof record);
    if (f.formatTag != kWaveFormatPcm || (f.bitsPerSample != 8 && f.bitsPerSample != 16) ||
        f.channels == 0 || f.sampleRate == 0) {
        return kPcmWaveFileError;
    }

    RiffChunk chunk;
    chunk.id = kBextId;
    if (!DescendRiff(file, priv->riff)) return kPcmWaveFileError;
    if (file.Descend(chunk, &priv->riff, RiffFind::Chunk) == RiffStatus::Ok) {
        // A size beyond the file would be a short read anyway; refuse it before
        // allocating for it.
        if (chunk.EndOffset() > fileSize) return kPcmWaveFileError;
        try {
            priv->bext.resize(chunk.size);
        } catch (const std::bad_alloc&) {
            return kPcmWaveNoMemory;
        }
        if (file.Read(priv->bext.data(), chunk.size) != chunk.size) return kPcmWaveFileError;
        if (file.Ascend(chunk) != RiffStatus::Ok) return kPcmWaveFileError;
    }

    if (!DescendRiff(file, priv->riff)) return kPcmWaveFileError;
    priv->data = {};
    priv->data.id = kDataId;
    if (file.Descend(priv->data, &priv->riff, RiffFind::Chunk) != RiffStatus::Ok) {
        return kPcmWaveFileError;
    }

    priv->eightBit = f.bitsPerSample == 8;
    stream->fileName = fileName;
    stream->fileLength = priv->riff.size + 8;
    stream->dataBytes = priv->data.size;
    stream->bytesRead = 0;
    stream->open = 1;
    if (format) {
        format->channels = f.channels;
        format->sampleRate = static_cast<int>(std::min<uint32_t>(f.sampleRate, INT32_MAX));
        format->bitsPerSample = f.bitsPerSample;
    }
    const bool haveBext = !priv->bext.empty();
    if (bext) *bext = haveBext ? priv->bext.data() : nullptr;
    if (bextLength) {
        *bextLength = haveBext && chunk.size > kBextFixedBytes
                          ? static_cast<int32_t>(chunk.size - kBextFixedBytes)
                          : 0;
    }
    stream->priv = priv.release();
    *handle = stream.release();
    return kPcmWaveOk;
}

int pcmWaveRead(void* buffer, uint32_t* length, PcmWaveStream* handle) {
    if (!Valid(handle) || !length) return kPcmWaveBadHandle;
    PcmWaveStreamPrivate& priv = *handle->priv;
    auto* out = static_cast<uint8_t*>(buffer);
    const uint8_t silence = priv.eightBit ? 0x80 : 0x00;
    const uint32_t asked = *length;
    int result = kPcmWaveOk;

    uint32_t want = asked;
    const uint32_t left = handle->dataBytes - std::min(handle->bytesRead, handle->dataBytes);
    if (want > left) {
        std::memset(out + left, silence, want - left);
        want = left;
        result = kPcmWaveEnd;
    }
    const int64_t at = priv.data.dataOffset + handle->bytesRead;
    int64_t got = 0;
    if (want > 0) {
        if (priv.file->Seek(at, SEEK_SET) != at) got = -1;
        if (got == 0) got = priv.file->Read(out, want);
        if (got < 0) {
            *length = 0;
            return kPcmWaveFileError;
        }
    }
    if (static_cast<uint32_t>(got) < want) {
        std::memset(out + got, silence, asked - static_cast<uint32_t>(got));
        result = kPcmWaveEnd;
    }
    *length = static_cast<uint32_t>(got);
    handle->bytesRead += static_cast<uint32_t>(got);
    return result;
}

int pcmWaveClose(PcmWaveStream* handle) {
    if (!Valid(handle)) return kPcmWaveBadHandle;
    handle->priv->file->Close();
    handle->priv->tag = 0;
    handle->open = 0;
    delete handle->priv;
    delete handle;
    return kPcmWaveOk;
}

}  // namespace tunara
