#include "sources/OutputFileStream.h"

#include <cstdio>
#include <memory>
#include <new>

namespace tunara {

namespace {
constexpr uint32_t kOutStreamTag = 544;
}

struct OutputFileStreamPrivate {
    uint32_t tag = kOutStreamTag;
    std::FILE* file = nullptr;
};

const char* outStreamStatusText(int status) {
    switch (status) {
        case kOutStreamOk:
            return "success";
        case kOutStreamFileError:
            return "file error";
        case kOutStreamBadHandle:
            return "not an open output stream";
        case kOutStreamNoMemory:
            return "out of memory";
        default:
            return "unknown status";
    }
}

namespace {
bool Valid(const OutputFileStream* handle) {
    return handle && handle->open == 1 && handle->priv && handle->priv->tag == kOutStreamTag &&
           handle->priv->file;
}
}  // namespace

int outStreamOpen(OutputFileStream** handle, const char* fileName) {
    if (!handle) return kOutStreamFileError;
    *handle = nullptr;
    if (!fileName || !*fileName) return kOutStreamFileError;
    std::FILE* file = std::fopen(fileName, "wb");
    if (!file) return kOutStreamFileError;
    OutputFileStream* stream = new (std::nothrow) OutputFileStream;
    OutputFileStreamPrivate* priv = stream ? new (std::nothrow) OutputFileStreamPrivate : nullptr;
    if (!priv) {
        delete stream;
        std::fclose(file);
        return kOutStreamNoMemory;
    }
    priv->file = file;
    stream->fileName = fileName;
    stream->priv = priv;
    stream->open = 1;
    *handle = stream;
    return kOutStreamOk;
}

int outStreamWrite(const uint8_t* bytes, uint32_t* length, void* user) {
    auto* handle = static_cast<OutputFileStream*>(user);
    if (!Valid(handle) || !length) return kOutStreamBadHandle;
    if (*length == 0) return kOutStreamOk;
    const size_t put = std::fwrite(bytes, 1, *length, handle->priv->file);
    if (put != *length) {
        *length = static_cast<uint32_t>(put);
        return kOutStreamFileError;
    }
    for (uint32_t& count : handle->byteCounts) count += *length;
    return kOutStreamOk;
}

int outStreamClose(OutputFileStream* handle) {
    if (!Valid(handle)) return kOutStreamBadHandle;
    const bool ok = std::fclose(handle->priv->file) == 0;
    handle->priv->tag = 0;
    handle->open = 0;
    delete handle->priv;
    delete handle;
    return ok ? kOutStreamOk : kOutStreamFileError;
}

}  // namespace tunara
