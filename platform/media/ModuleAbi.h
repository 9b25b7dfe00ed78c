#pragma once
// The binary interface between the program and the media toolbox module
// (libtunara-media.so). Plain C types only: the module is loaded at run time
// and resolved by the entry-point names below.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TM_MODULE_FILE "libtunara-media.so"
#define TM_ENTRY_DISPATCH "tunaraMediaDispatch"
#define TM_ENTRY_CALL_COMPONENT "tunaraMediaCallComponent"
#define TM_ENTRY_CALL_WITH_STORAGE "tunaraMediaCallComponentWithStorage"
#define TM_ENTRY_ABI_VERSION "tunaraMediaAbiVersion"
#define TM_ENTRY_PCM_CALLS "tunaraMediaPcmCalls"

// Raised whenever a structure, a selector or an entry point below changes
// meaning. A module reporting another version (or none) is not used: a stale
// copy in a system folder must not be called with a layout it does not know.
// 2: movie user data (tags) as text; codec codes of the sound descriptions.
// 3: decoding a medium's sound to PCM for the program's own output.
#define TM_ABI_VERSION 3u
typedef uint32_t (*TmAbiVersionFn)(void);

// Arguments of one toolbox call: up to six slots, each an integer or a
// pointer. What each slot means is stated next to the selector.
typedef struct TmCall {
    uint64_t arg[6];
} TmCall;

// A component call: flags, parameter size in bytes, component selector, then
// the parameters in slots.
typedef struct TmParamBlock {
    uint8_t flags;
    uint8_t paramSize;
    int16_t what;
    uint64_t param[6];
} TmParamBlock;

typedef int32_t (*TmDispatchFn)(uint32_t selector, TmCall* call);
typedef int32_t (*TmCallComponentFn)(void* component, TmParamBlock* params);
// A function of a component implemented on the caller's side, called with the
// storage the caller registered.
typedef int32_t (*TmComponentFunction)(void* storage, const TmParamBlock* params);
typedef int32_t (*TmCallWithStorageFn)(void* storage, TmParamBlock* params,
                                       TmComponentFunction function);

// The controller's action filter. Returning nonzero stops the controller from
// handling the action itself.
typedef int32_t (*TmActionFilter)(void* controller, int16_t action, void* params, intptr_t refcon);

// Names a medium: a file URI or a network URL. A value the caller owns, like
// a rectangle.
typedef struct TmFileSpec {
    char uri[4096];
    uint8_t network;
} TmFileSpec;

typedef struct TmRect {
    int16_t top, left, bottom, right;
} TmRect;

// Sample description of a sound media, version 1 (52 bytes). Integers are in
// the host's byte order; the rate is 16.16 fixed point.
typedef struct TmSoundDescription {
    int32_t descSize;
    uint32_t dataFormat;
    int32_t reserved1;
    int16_t reserved2;
    int16_t dataRefIndex;
    int16_t version;
    int16_t revLevel;
    uint32_t vendor;
    int16_t numChannels;
    int16_t sampleSize;
    int16_t compressionId;
    int16_t packetSize;
    uint32_t sampleRate;
    uint32_t samplesPerPacket;
    uint32_t bytesPerPacket;
    uint32_t bytesPerFrame;
    uint32_t bytesPerSample;
} TmSoundDescription;

// A block of memory owned by the module (handles are made and freed through
// the dispatcher).
typedef struct TmHandle {
    void* data;
    uint32_t size;
} TmHandle;

// Level record of the sound media handler: channel count and a level per
// channel, 0 (silence) to 255 (full scale).
typedef struct TmLevelRecord {
    int16_t channels;
    uint8_t left;
    uint8_t right;
} TmLevelRecord;

// Parameter of controller action 69 (stream status): flags and text.
typedef struct TmStatusString {
    int32_t flags;
    const char* text;
} TmStatusString;

// The PCM a decoder delivers: signed 16-bit little-endian samples,
// interleaved, at the medium's own rate, one or two channels (more are mixed
// down). `frames` is the length when known, else -1.
typedef struct TmPcmFormat {
    uint32_t rate;
    uint16_t channels;
    uint16_t bitsPerSample;
    int64_t frames;
} TmPcmFormat;

// Decoding a medium's sound. Open and Close come from one thread; Read and
// Seek of one decoder may come from another, never at the same time.
typedef struct TmPcmCalls {
    // `location` is a path or a URI. A status; on success *decoder is set.
    int32_t (*open)(const char* location, TmPcmFormat* format, void** decoder);
    // Whole frames written to `buffer`; 0 at the end of the sound or on a failure.
    int32_t (*read)(void* decoder, void* buffer, int32_t frames);
    // Moves to `frame`; returns the frame reached.
    int64_t (*seek)(void* decoder, int64_t frame);
    void (*close)(void* decoder);
} TmPcmCalls;
typedef const TmPcmCalls* (*TmPcmCallsFn)(void);

#ifdef __cplusplus
}
#endif
