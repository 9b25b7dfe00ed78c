// The end of a stream: with the frames of silence after the last block, a tone's last 100 ms
// come out of our decoder and of mpg123, in both qualities, for one and two channels, at
// MPEG-1 and MPEG-2 rates.
#include "EncodeHelpers.h"
#include "TestTools.h"

using namespace enctest;

namespace {

// RMS of channel `c` over samples [from, from + count) per channel; -1 when they are not all
// there.
double Rms(const std::vector<int16_t>& pcm, int channels, int c, size_t from, size_t count) {
    if ((from + count) * size_t(channels) > pcm.size()) return -1;
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) {
        const double v = pcm[i * size_t(channels) + size_t(c)];
        sum += v * v;
    }
    return std::sqrt(sum / double(count));
}

}  // namespace

TEST(Mp3EncTail, ToneEndReachesTheDecodedOutput) {
    const bool haveMpg123 = HaveTool("mpg123");
    const double amp = 0.5, expected = amp * 32767 / std::sqrt(2.0);
    for (const int rate : {44100, 22050})
        for (const int channels : {1, 2})
            for (const bool fast : {false, true}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) +
                             (fast ? " channel(s), fast" : " channel(s), high quality"));
                const size_t n = size_t(rate) / 2 + 123;  // ends inside a frame
                const std::vector<int16_t> tone =
                    Tone(rate, channels, (double(n) + 0.5) / rate, 1000, amp);
                ASSERT_EQ(tone.size(), n * size_t(channels));
                EncodeParams p;
                p.rate = rate;
                p.channels = channels;
                p.fast = fast;
                p.kbps = rate == 44100 ? 128 : 64;
                p.tail = true;
                const std::vector<uint8_t> stream = Encode(tone, p);
                std::vector<std::pair<const char*, std::vector<int16_t>>> decoded = {
                    {"ours", DecodeOurs(stream).samples}};
                std::string diagnostics;
                if (haveMpg123)
                    decoded.emplace_back("mpg123", DecodeWithTool("mpg123", stream, &diagnostics));
                // The last 100 ms in 10 ms pieces, each at the tone's level.
                const size_t piece = size_t(rate) / 100;
                for (const auto& [decoder, pcm] : decoded) {
                    int atLevel = 0;
                    for (size_t k = 1; k <= 10; ++k)
                        for (int c = 0; c < channels; ++c) {
                            const size_t from = n + MP3ENC_STREAM_DELAY - k * piece;
                            const double rms = Rms(pcm, channels, c, from, piece);
                            atLevel += std::abs(rms - expected) < 0.1 * expected;
                        }
                    EXPECT_EQ(atLevel, 10 * channels) << decoder;
                }
            }
    TUNARA_SKIP_IF_MISSING(!haveMpg123, "mpg123 (our decoder was checked)");
}
