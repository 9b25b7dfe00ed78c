#pragma once
// Numeric kernels on caller-owned arrays: element-wise operations, reductions,
// float-to-integer conversion, the real FFT, the power spectrum and two windows.
//
// Every kernel is a plain function that allocates nothing once its FFT tables
// exist, keeps no state apart from the error status and the FFT table cache,
// and may be called from several threads at once. Counts are in elements.
//
// Bad arguments are reported through dspReportError(). The default handler
// returns the status, which the kernel hands back (nothing is written), and
// the process status records it; error mode 0 makes it end the process with
// exit code 1 instead. Another handler can be installed with
// dspSetErrorHandler().
#include <cstdint>

// ---------------------------------------------------------------------------
// Status codes and the process-wide error status
// ---------------------------------------------------------------------------

enum : int32_t {
    dspStsNoErr = 0,    // no error
    dspStsMemErr = -4,  // the FFT tables cannot be obtained
    dspStsBadArg = -5,  // a bad argument (null pointer, bad count, bad flag, out of range)
};

// Called with the status, the reporting kernel's name, the text of the failed
// condition, the source unit and the source line; returns the status the
// kernel hands back to its caller.
using DspErrorHandler = int32_t (*)(int32_t status, const char* routine, const char* condition,
                                    const char* unit, int32_t line);

// The process-wide status record. Its fields are reached through the
// functions below, which are safe to call from any thread.
int32_t dspGetStatus();
void dspSetStatus(int32_t status);
int32_t dspGetErrorMode();
void dspSetErrorMode(int32_t mode);
DspErrorHandler dspGetErrorHandler();
// Installs |handler| (null restores the default) and returns the previous one.
DspErrorHandler dspSetErrorHandler(DspErrorHandler handler);

// Stores |status| unless it is -1 or -8; returns 0 for status 0, otherwise
// whatever the installed handler returns.
int32_t dspReportError(int32_t status, const char* routine, const char* condition, const char* unit,
                       int32_t line);

// Error mode 0: ends the process at once with exit code 1, printing nothing.
// Any other mode (1 is the default): returns |status|.
int32_t dspDefaultErrorHandler(int32_t status, const char* routine, const char* condition,
                               const char* unit, int32_t line);

// A short English text for a status code ("No error", "Bad argument", ...).
const char* dspStatusText(int32_t status);

// ---------------------------------------------------------------------------
// Element-wise kernels and reductions
// Each returns 0, or after a failed check the handler's result (nothing is
// written then). Checks: count < 1, then the pointers in argument order.
// ---------------------------------------------------------------------------

int32_t dspsbZero(float* dst, int32_t n);                      // dst[i] = 0
int32_t dspsbAdd2(const float* src, float* dst, int32_t n);    // dst[i] += src[i]
int32_t dspsbSub1(float val, float* dst, int32_t n);           // dst[i] -= val
int32_t dspsbMpy1(float val, float* dst, int32_t n);           // dst[i] *= val
int32_t dspsbSqr2(const float* src, float* dst, int32_t len);  // dst[i] = src[i]^2
int32_t dspsbAbs2(const float* src, float* dst, int32_t len);  // dst[i] = |src[i]|
// In place; negative elements stay as they are and, after the whole pass,
// are reported as "Element of input vector is negative" (-5).
int32_t dspsbSqrt1(float* vec, int32_t len);

enum : int32_t { dspLessThan = 0, dspGreaterThan = 1 };
// relOp dspLessThan: every element not >= thresh (NaN included) becomes thresh.
// Any other relOp: every element > thresh becomes thresh (NaN stays).
int32_t dspsbThresh1(float* vec, int32_t len, float thresh, int32_t relOp);
// In place natural logarithm: 0 gives -infinity, a negative element NaN.
int32_t dspsbLn1(float* vec, int32_t len);

// Reductions return 0 after a failed check (non-default handler only).
float dspsMean(const float* vec, int32_t len);  // summed in extended precision
float dspsMax(const float* vec, int32_t len);   // the first of equal maxima
float dspsMin(const float* vec, int32_t len);
int16_t dspwMax(const int16_t* vec, int32_t len);

// ---------------------------------------------------------------------------
// Float-to-integer conversion
// ---------------------------------------------------------------------------

enum : int32_t {
    dspRndNear = 0x80,     // round to nearest, ties to even
    dspRndZero = 0x100,    // truncate toward zero
    dspRndMinus = 0x200,   // toward minus infinity
    dspRndPlus = 0x400,    // toward plus infinity
    dspUnsigned = 0x800,   // destination is unsigned
    dspSaturate = 0x1000,  // out-of-range values become the nearest limit
    dspOvfErr = 0x2000,    // out-of-range values are reported (-5) after the pass
};

// Converts |len| floats into |dst|, whose elements are |wordSize| bits wide
// (8, 16 or 32). Exactly one rounding bit must be set. Returns |len|, or the
// (negative) status after a failed check or an out-of-range report. Values
// out of range are always stored as the nearest limit, even without
// dspSaturate, and NaN is stored as 0.
int32_t dspsbFloatToInt(const float* src, void* dst, int32_t len, int32_t wordSize, int32_t flags);

// ---------------------------------------------------------------------------
// Real FFT (N = 2^order, M = N/2, order 0..31 as far as memory allows)
//
// CCS layout: N+2 floats, element 2k = Re X[k], 2k+1 = Im X[k] for k = 0..M;
// Im X[0] and Im X[M] are 0. Bins above M are the conjugates of those below.
// Forward: X[k] = sum x[n] e^(-j2πkn/N), unscaled.
// Inverse: x[n] = sum X[k] e^(+j2πkn/N) / N (no division with dspFftNoScale).
// ---------------------------------------------------------------------------

enum : int32_t {
    dspFftForward = 1,
    dspFftInverse = 2,
    dspFftMakeTables = 4,  // only make sure the tables of this order exist
    dspFftFreeTables = 8,  // release the tables of this order (nothing else checked)
    dspFftNoScale = 0x10,  // the inverse is not divided by N
};

// Orders 5 to 13 use up to 32 KiB of stack for their work area; nothing is
// allocated once the tables of the order exist.
//
// The FFT kernels return N (1 for order 0, 2 for order 1, 0 for the table-only
// calls), or the handler's result after a failed check: -5 for a bad order,
// pointer or direction, -4 when the tables cannot be allocated.
//
// The real-input kernels also accept dspFftInverse: the result is then the
// inverse DFT of the real signal (the conjugate bins, divided by N unless
// dspFftNoScale).
//
// In place: samps holds N reals on entry and N+2 CCS floats on return.
int32_t dspsRealFft(float* samps, int32_t order, int32_t flags);
// Not in place: N reals in, N+2 CCS floats out.
int32_t dspsRealFftNip(const float* inSamps, float* outSamps, int32_t order, int32_t flags);
// Not in place: N+2 CCS floats in, N reals out (usually with dspFftInverse).
int32_t dspsCcsFftNip(const float* inSamps, float* outSamps, int32_t order, int32_t flags);

// Releases the cached tables of every order. Safe while other threads are
// transforming: it waits for the transforms already using them to finish.
void dspFreeFftTables();

// spectr[k] = re^2 + im^2 of the complex bin k (src holds re, im pairs).
// Returns 0 or the handler's result.
int32_t dspcbPowerSpectr(const float* src, float* spectr, int32_t length);

// True where the processor runs AVX instructions, so that a kernel compiled for them in
// addition to the baseline may be chosen at run time.
bool dspCpuHasAvx();

// The 512-tap window of the 32-band polyphase filter bank in its synthesis form D[i], natural
// order (D[256] = 1.144989014); the analysis window is D[i] / 32. Made once per process.
const float* dspPolyphaseWindow();

// Symmetric windows, applied in place; N >= 3. The end factors are exactly
// 0.0 (Hann) and 0.08 (Hamming). Return 0 or the handler's result.
int32_t dspsWinHann(float* vec, int32_t N);
int32_t dspsWinHamming(float* vec, int32_t N);

// ---------------------------------------------------------------------------
// Ten-band graphic equaliser: peaking filters an octave wide at the ISO
// centres 31 Hz ... 16 kHz, each -12..+12 dB, and a preamp. Bands at or above
// 0.9 of the Nyquist frequency are left out. The state is caller-owned and
// needs no allocation; one state filters one interleaved stream.
//
// A change of gains does not jump: the gains and the preamp move in dB, in
// steps of dspEqStepFrames, over dspEqRampFrames to their new values, so a
// slider moved during playback neither clicks nor bumps the level.
// ---------------------------------------------------------------------------

enum : int32_t {
    dspEqBands = 10,
    dspEqMaxChannels = 2,
    dspEqRampFrames = 4096,
    dspEqStepFrames = 16,
};

struct DspEqBiquad {
    double b0, b1, b2, a1, a2;  // a0 normalised to 1
};

struct DspEqState {
    int32_t sampleRate;
    int32_t channels;
    int32_t bands;     // bands below 0.9 Nyquist, from the lowest
    int32_t rampLeft;  // frames still moving towards the target gains
    int32_t stepLeft;  // frames until the next step of the ramp
    float gainDb[dspEqBands + 1], targetDb[dspEqBands + 1], stepDb[dspEqBands + 1];  // preamp last
    double preamp;                                                                   // linear
    DspEqBiquad cur[dspEqBands];
    // Direct form I history per channel and band: it keeps coefficient
    // changes well behaved.
    // Channels innermost, so that both channels of a band filter side by side.
    double x1[dspEqBands][dspEqMaxChannels], x2[dspEqBands][dspEqMaxChannels];
    double y1[dspEqBands][dspEqMaxChannels], y2[dspEqBands][dspEqMaxChannels];
};

// The ten centre frequencies in Hz, lowest first.
const float* dspEqCentres();
// Flat, silent history. Rate 1..768000, 1-2 channels. Returns 0 or the handler's result.
int32_t dspEqInit(DspEqState* state, int32_t sampleRate, int32_t channels);
// New gains in dB (ten, 31 Hz first; clamped to -12..12) and preamp in dB
// (clamped to -12..12), reached after dspEqRampFrames frames.
int32_t dspEqSet(DspEqState* state, const float* gainsDb, float preampDb);
// Filters `frames` interleaved frames in place.
int32_t dspEqProcess(DspEqState* state, float* samples, int32_t frames);
// Forgets the history (after a seek or a new stream); the gains stay.
void dspEqClearHistory(DspEqState* state);
// The magnitude response in dB at `hz` of the gains last set, from the
// filters' transfer functions and the preamp.
double dspEqResponseDb(const DspEqState* state, double hz);
