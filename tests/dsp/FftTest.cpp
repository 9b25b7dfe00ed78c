#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "DspTestSupport.h"
#include "dsp/FftTables.h"
#include "dsp/dsp.h"

// Linked in place of the library's allocator (its own object file), so that
// a test can make the next table allocations fail.
namespace {
std::atomic<int32_t> g_failTableAllocations{0};
}

void* dsp_internal::AllocateTableBlock(size_t alignment, size_t bytes) {
    if (g_failTableAllocations.load() > 0 && g_failTableAllocations.fetch_sub(1) > 0)
        return nullptr;
    return std::aligned_alloc(alignment, bytes);
}

namespace {

std::vector<float> RandomSignal(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = dist(rng);
    return x;
}

// Direct DFT in double precision, as CCS (N+2 floats).
std::vector<double> DirectCcs(const std::vector<float>& x) {
    const size_t n = x.size();
    std::vector<double> out(n + 2), cosTable(n), sinTable(n);
    for (size_t i = 0; i < n; ++i) {
        cosTable[i] = std::cos(2.0 * M_PI * static_cast<double>(i) / n);
        sinTable[i] = -std::sin(2.0 * M_PI * static_cast<double>(i) / n);
    }
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t i = 0; i < n; ++i) {
            re += x[i] * cosTable[(k * i) % n];
            im += x[i] * sinTable[(k * i) % n];
        }
        out[2 * k] = re;
        out[2 * k + 1] = im;
    }
    return out;
}

// Squared error relative to the energy of the reference.
double RelativeError(const float* got, const std::vector<double>& want) {
    double err = 0, energy = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        err += (got[i] - want[i]) * (got[i] - want[i]);
        energy += want[i] * want[i];
    }
    return err / energy;
}

// Both real-input kernels agree with a direct DFT at every order the codecs use.
TEST(RealFft, Forward_MatchesDirectDft_Orders2To13) {
    for (int order = 2; order <= 13; ++order) {
        const size_t n = size_t{1} << order;
        const auto x = RandomSignal(n, order);
        const auto want = DirectCcs(x);

        std::vector<float> inPlace(n + 2);
        std::copy(x.begin(), x.end(), inPlace.begin());
        EXPECT_EQ(dspsRealFft(inPlace.data(), order, dspFftForward), static_cast<int32_t>(n));
        EXPECT_LT(RelativeError(inPlace.data(), want), 1e-10) << "order " << order;
        EXPECT_EQ(inPlace[1], 0.0f);
        EXPECT_EQ(inPlace[n + 1], 0.0f);

        std::vector<float> out(n + 2, 99.0f);
        const auto in = x;
        dspsRealFftNip(in.data(), out.data(), order, dspFftForward);
        EXPECT_EQ(in, x) << "input changed";
        EXPECT_LT(RelativeError(out.data(), want), 1e-10) << "order " << order;
    }
}

TEST(RealFft, ConstantOne_Order10_OnlyDcBin) {
    std::vector<float> x(1026, 1.0f);
    dspsRealFft(x.data(), 10, dspFftForward);
    EXPECT_FLOAT_EQ(x[0], 1024.0f);
    for (size_t i = 1; i < x.size(); ++i) EXPECT_NEAR(x[i], 0.0f, 1e-3f) << i;
}

TEST(RealFft, SmallOrders) {
    float x2[6] = {1, 0, 0, 0};
    dspsRealFft(x2, 2, dspFftForward);
    EXPECT_EQ(std::vector<float>(x2, x2 + 6), (std::vector<float>{1, 0, 1, 0, 1, 0}));

    float x0[2] = {-3.5f, 7.0f};
    EXPECT_EQ(dspsRealFft(x0, 0, dspFftForward), 1);
    EXPECT_EQ(x0[0], -3.5f);
    EXPECT_EQ(x0[1], 0.0f);

    const float in1[2] = {3.0f, 1.0f};
    float out1[4];
    dspsRealFftNip(in1, out1, 1, dspFftForward);
    EXPECT_EQ(std::vector<float>(out1, out1 + 4), (std::vector<float>{4, 0, 2, 0}));
}

// Forward then inverse gives the signal back; unscaled it comes back N times
// larger. Orders 14 and 15 run the in-place path used for long transforms.
TEST(RealFft, ForwardThenInverse_ReturnsInput) {
    for (int order = 0; order <= 15; ++order) {
        const size_t n = size_t{1} << order;
        const auto x = RandomSignal(n, 100 + order);
        std::vector<float> ccs(n + 2), back(n), unscaled(n);
        dspsRealFftNip(x.data(), ccs.data(), order, dspFftForward);
        const auto ccsCopy = ccs;
        dspsCcsFftNip(ccs.data(), back.data(), order, dspFftInverse);
        dspsCcsFftNip(ccs.data(), unscaled.data(), order, dspFftInverse | dspFftNoScale);
        EXPECT_EQ(ccs, ccsCopy) << "input changed";
        double err = 0, errUnscaled = 0, energy = 0;
        for (size_t i = 0; i < n; ++i) {
            err += (back[i] - x[i]) * (back[i] - x[i]);
            errUnscaled += std::pow(unscaled[i] - double(n) * x[i], 2) / (double(n) * n);
            energy += x[i] * x[i];
        }
        EXPECT_LT(err / energy, 1e-10) << "order " << order;
        EXPECT_LT(errUnscaled / energy, 1e-10) << "order " << order;
    }
}

// The forward direction of the spectrum-to-signal kernel is the plain DFT of
// the full conjugate-symmetric spectrum: N times the time-reversed signal.
TEST(RealFft, CcsForward_IsTimeReversedSignalTimesN) {
    for (int order : {3, 6, 10, 14}) {
        const size_t n = size_t{1} << order;
        const auto x = RandomSignal(n, 7 * order);
        std::vector<float> ccs(n + 2), y(n);
        dspsRealFftNip(x.data(), ccs.data(), order, dspFftForward);
        dspsCcsFftNip(ccs.data(), y.data(), order, dspFftForward);
        double err = 0, energy = 0;
        for (size_t i = 0; i < n; ++i) {
            const double want = double(n) * x[(n - i) % n];
            err += (y[i] - want) * (y[i] - want);
            energy += want * want;
        }
        EXPECT_LT(err / energy, 1e-10) << "order " << order;
    }
}

// Long transforms are checked on a sample of bins against the direct sum.
TEST(RealFft, Order15_SampledBinsMatchDirectSum) {
    const int order = 15;
    const size_t n = size_t{1} << order;
    const auto x = RandomSignal(n, 15);
    std::vector<float> ccs(n + 2);
    dspsRealFftNip(x.data(), ccs.data(), order, dspFftForward);
    double err = 0, energy = 0;
    for (size_t k : {size_t{0}, size_t{1}, size_t{2}, size_t{777}, n / 4, n / 2 - 1, n / 2}) {
        double re = 0, im = 0;
        for (size_t i = 0; i < n; ++i) {
            const double a = -2.0 * M_PI * double((k * i) % n) / double(n);
            re += x[i] * std::cos(a);
            im += x[i] * std::sin(a);
        }
        err += std::pow(ccs[2 * k] - re, 2) + std::pow(ccs[2 * k + 1] - im, 2);
        energy += re * re + im * im;
    }
    EXPECT_LT(err / energy, 1e-10);
}

// Asked for the inverse, the real-input kernels give the inverse DFT (the
// conjugate bins over N) rather than silently the forward transform.
TEST(RealFft, RealInputInverse_IsConjugateOverN) {
    for (int order : {1, 4, 10}) {
        const size_t n = size_t{1} << order;
        const auto x = RandomSignal(n, 3 * order);
        std::vector<float> fwd(n + 2), inv(n + 2), raw(n + 2);
        dspsRealFftNip(x.data(), fwd.data(), order, dspFftForward);
        dspsRealFftNip(x.data(), inv.data(), order, dspFftInverse);
        std::copy(x.begin(), x.end(), raw.begin());
        dspsRealFft(raw.data(), order, dspFftInverse | dspFftNoScale);
        for (size_t k = 0; k <= n / 2; ++k) {
            EXPECT_FLOAT_EQ(inv[2 * k], fwd[2 * k] / n);
            EXPECT_FLOAT_EQ(inv[2 * k + 1], -fwd[2 * k + 1] / n);
            EXPECT_FLOAT_EQ(raw[2 * k + 1], -fwd[2 * k + 1]);
        }
        EXPECT_EQ(inv[1], 0.0f);
        EXPECT_FALSE(std::signbit(inv[n + 1]));
    }
}

TEST(RealFft, TableFlags_MakeReleaseAndRebuild) {
    using dsp_internal::HasTables;
    EXPECT_EQ(dspsRealFft(nullptr, 9, dspFftMakeTables), 0);
    EXPECT_TRUE(HasTables(9));
    EXPECT_EQ(dspsRealFft(nullptr, 9, dspFftMakeTables), 0);  // already there: fine
    EXPECT_EQ(dspsRealFft(nullptr, 9, dspFftFreeTables), 0);
    EXPECT_FALSE(HasTables(9));
    EXPECT_EQ(dspsRealFft(nullptr, 0, dspFftFreeTables), 0);

    std::vector<float> x(514, 0.0f);
    x[1] = 1.0f;
    dspsRealFft(x.data(), 9, dspFftForward);
    EXPECT_TRUE(HasTables(9));
    EXPECT_NEAR(x[2], std::cos(2 * M_PI / 512), 1e-6);

    dspsRealFftNip(nullptr, nullptr, 12, dspFftMakeTables);
    dspsCcsFftNip(nullptr, nullptr, 7, dspFftMakeTables);
    EXPECT_TRUE(HasTables(12) && HasTables(7));
    dspFreeFftTables();
    EXPECT_FALSE(HasTables(7) || HasTables(9) || HasTables(12));
    std::vector<float> y(4096), ccs(4098);
    y[0] = 1.0f;
    dspsRealFftNip(y.data(), ccs.data(), 12, dspFftForward);
    EXPECT_TRUE(HasTables(12));
    EXPECT_FLOAT_EQ(ccs[2 * 1000], 1.0f);
}

// A failed allocation first empties the cache and retries; only a second
// failure is reported, as -4.
TEST(RealFft, TableAllocationFailure_ReleasesCacheRetriesThenReports) {
    using dsp_internal::HasTables;
    RecordingHandler handler;
    dspsRealFft(nullptr, 8, dspFftMakeTables);
    ASSERT_TRUE(HasTables(8));
    g_failTableAllocations.store(1);
    std::vector<float> x(2050, 0.0f);
    x[0] = 1.0f;
    EXPECT_EQ(dspsRealFft(x.data(), 11, dspFftForward), 2048);
    EXPECT_TRUE(RecordingHandler::Reports().empty());
    EXPECT_FALSE(HasTables(8));  // released to make room
    EXPECT_EQ(x[2 * 1024], 1.0f);

    g_failTableAllocations.store(2);
    EXPECT_EQ(dspsRealFft(x.data(), 6, dspFftForward), dspStsMemErr);
    const DspReport r = handler.Take();
    EXPECT_EQ(r.status, dspStsMemErr);
    EXPECT_EQ(r.condition, "No working Twd memory");
    EXPECT_EQ(dspGetStatus(), dspStsMemErr);
    EXPECT_FALSE(HasTables(6));
    g_failTableAllocations.store(0);
}

TEST(RealFft, BadArguments_ReportedWithConditionText) {
    RecordingHandler handler;
    float buf[8] = {};
    EXPECT_EQ(dspsRealFft(nullptr, -1, dspFftForward), dspStsBadArg);
    DspReport r = handler.Take();
    EXPECT_EQ(r.condition, "order<0");  // the order comes before the pointer
    EXPECT_EQ(r.routine, "dspsRealFft");
    EXPECT_EQ(r.unit, "dspffts");
    EXPECT_EQ(dspsCcsFftNip(buf, buf, 32, dspFftFreeTables), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "order>31");
    EXPECT_EQ(dspsRealFft(nullptr, 2, dspFftForward), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "samps==0");
    EXPECT_EQ(dspsRealFftNip(nullptr, buf, 2, dspFftForward), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "inSamps==0");
    EXPECT_EQ(dspsCcsFftNip(buf, nullptr, 2, dspFftInverse), dspStsBadArg);
    r = handler.Take();
    EXPECT_EQ(r.condition, "outSamps==0");
    EXPECT_EQ(r.routine, "dspsCcsFftNip");
    EXPECT_EQ(dspsRealFft(buf, 2, dspFftForward | dspFftInverse), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "(flags & 1) && (flags & 2)");
    EXPECT_EQ(dspsRealFftNip(buf, buf + 4, 1, dspFftNoScale), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "(flags & 1)==0 && (flags & 2)==0");
    // Table-only calls check nothing after the order.
    EXPECT_EQ(dspsRealFft(nullptr, 3, dspFftFreeTables | dspFftForward | dspFftInverse), 0);
    EXPECT_TRUE(RecordingHandler::Reports().empty());
}

TEST(PowerSpectrum, SumsSquares) {
    const float bins[] = {3, 4, -1, 0.5f, 0, 0};
    float power[3];
    dspcbPowerSpectr(bins, power, 3);
    EXPECT_EQ(power[0], 25.0f);
    EXPECT_EQ(power[1], 1.25f);
    EXPECT_EQ(power[2], 0.0f);

    RecordingHandler handler;
    EXPECT_EQ(dspcbPowerSpectr(nullptr, nullptr, 0), dspStsBadArg);
    DspReport r = handler.Take();
    EXPECT_EQ(r.condition, "length<=0");
    EXPECT_EQ(r.unit, "dspcvrts");
    dspcbPowerSpectr(nullptr, nullptr, 1);
    EXPECT_EQ(handler.Take().condition, "spectr==0");
    dspcbPowerSpectr(nullptr, power, 1);
    EXPECT_EQ(handler.Take().condition, "src==0");
}

// Both windows: exact end factors, mirror-identical halves, the formula in between.
TEST(Windows, SymmetricWithExactEnds) {
    struct Kind {
        int32_t (*fn)(float*, int32_t);
        double a, b;
        float end;
    } kinds[] = {{&dspsWinHann, 0.5, 0.5, 0.0f}, {&dspsWinHamming, 0.54, 0.46, 0.08f}};
    for (const Kind& kind : kinds) {
        for (int32_t n : {3, 4, 5, 512, 1024}) {
            std::vector<float> w(n, 1.0f);
            kind.fn(w.data(), n);
            EXPECT_EQ(w[0], kind.end);
            EXPECT_EQ(w[n - 1], kind.end);
            for (int32_t k = 0; k < n; ++k) {
                EXPECT_EQ(w[k], w[n - 1 - k]) << "n " << n << " k " << k;
                const double want = kind.a - kind.b * std::cos(2 * M_PI * k / (n - 1));
                EXPECT_NEAR(w[k], want, 1e-6) << "n " << n << " k " << k;
            }
        }
    }
    std::vector<float> v(1024, -2.0f);
    dspsWinHann(v.data(), 1024);
    EXPECT_NEAR(v[511], -2.0f * 0.5 * (1 - std::cos(2 * M_PI * 511 / 1023)), 1e-6);

    RecordingHandler handler;
    float small[2] = {1, 1};
    EXPECT_EQ(dspsWinHamming(small, 2), dspStsBadArg);
    DspReport r = handler.Take();
    EXPECT_EQ(r.condition, "Bad number of items");
    EXPECT_EQ(r.unit, "dspwin");
    EXPECT_EQ(small[0], 1.0f);
    EXPECT_EQ(dspsWinHann(nullptr, 1024), dspStsBadArg);
    EXPECT_EQ(handler.Take().condition, "Null pointer to buffer");
}

// Two threads transform order 10 while a third keeps creating and releasing
// the tables of orders 7 to 13 (and the whole cache): every result must be
// bit-identical to the one computed alone.
TEST(RealFft, Thread_TransformsWhileAnotherThreadReleasesTables) {
    const auto x = RandomSignal(1024, 42);
    std::vector<float> want(1026);
    dspsRealFftNip(x.data(), want.data(), 10, dspFftForward);

    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::atomic<long> transforms{0};
    auto worker = [&](bool inPlace) {
        std::vector<float> buf(1026);
        while (!done.load()) {
            if (inPlace) {
                std::copy(x.begin(), x.end(), buf.begin());
                dspsRealFft(buf.data(), 10, dspFftForward);
            } else {
                dspsRealFftNip(x.data(), buf.data(), 10, dspFftForward);
            }
            if (buf != want) mismatches.fetch_add(1);
            transforms.fetch_add(1);
        }
    };
    std::thread a(worker, true), b(worker, false);
    for (int round = 0; round < 60; ++round) {
        for (int order = 7; order <= 13; ++order) {
            dspsRealFft(nullptr, order, dspFftMakeTables);
            dspsRealFft(nullptr, order, dspFftFreeTables);
        }
        if (round % 10 == 9) dspFreeFftTables();
    }
    // Let the workers finish at least a few transforms after the last release.
    const long seen = transforms.load();
    while (transforms.load() < seen + 10) std::this_thread::yield();
    done.store(true);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(transforms.load(), 10);
}
}  // namespace
