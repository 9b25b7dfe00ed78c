// tunara-cli encode: a WAV file into an MP3 file or a KVMC movie through the same encoders the
// recording job uses. The output appears under its name only when complete; Ctrl+C, SIGTERM,
// SIGHUP or a failure leave nothing behind.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/Cli.h"
#include "record/FileEncoders.h"
#include "record/RecordFiles.h"

namespace {

constexpr char kUsage[] =
    "encode IN.wav OUT.mp3 [--fast] [--bitrate KBPS | --vbr 0-9] | encode IN.wav OUT.mov --kvmc "
    "[--bitrate "
    "KBPS]; tags: [--title T] [--artist A] [--album A] [--track N]";

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

// Ctrl+C, SIGTERM and SIGHUP all end the run through the same clean-up.
class StopSignals {
public:
    StopSignals() {
        g_stop = 0;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
    }
    ~StopSignals() {
        for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous_[3]{};
};

bool EndsWithMov(const std::string& s) {
    if (s.size() < 4) return false;
    std::string tail = s.substr(s.size() - 4);
    for (char& c : tail) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return tail == ".mov";
}

bool Number(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

int Usage() {
    std::fprintf(stderr, "usage: tunara-cli %s\n", kUsage);
    return 2;
}

int Encode(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool fast = false, kvmc = false;
    int kbps = 128;
    int vbr = -1;
    tunara::EncodeTags tags;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--fast") {
            fast = true;
        } else if (a == "--kvmc") {
            kvmc = true;
        } else if (a == "--bitrate") {
            // A missing or mistyped number must not end up as the output path or as 0 kbit/s.
            if (!hasValue || !Number(args[++i], 8, 2000, kbps)) {
                std::fprintf(stderr, "encode: --bitrate takes kbit/s, e.g. 128\n");
                return 2;
            }
        } else if (a == "--vbr") {
            if (!hasValue || !Number(args[++i], 0, 9, vbr)) {
                std::fprintf(stderr, "encode: --vbr takes a quality from 0 (best) to 9\n");
                return 2;
            }
        } else if (a == "--track") {
            if (!hasValue || !Number(args[++i], 1, 65535, tags.track)) {
                std::fprintf(stderr, "encode: --track takes a track number\n");
                return 2;
            }
        } else if (a == "--title" || a == "--artist" || a == "--album") {
            if (!hasValue) return Usage();
            (a == "--title" ? tags.title : a == "--artist" ? tags.artist : tags.album) = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "encode: unknown option %s\n", a.c_str());
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) return Usage();
    if (vbr >= 0 && fast) {
        std::fprintf(stderr, "encode: --vbr needs the high-quality encoder, not --fast\n");
        return 2;
    }
    const std::string& in = files[0];
    const std::string& out = files[1];
    kvmc = kvmc || EndsWithMov(out);

    const bool tty = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastShown = start - std::chrono::seconds(1);
    const auto progress = [&](int64_t samples, int64_t total, int rate) {
        const auto now = std::chrono::steady_clock::now();
        if (tty && total > 0 && now - lastShown > std::chrono::milliseconds(100)) {
            lastShown = now;
            const double fraction = std::min(1.0, double(samples) / double(total));
            const double wall = std::chrono::duration<double>(now - start).count();
            const double speed = wall > 0 ? double(samples) / rate / wall : 0;
            char bar[31];
            for (int k = 0; k < 30; ++k) bar[k] = k < int(fraction * 30 + 0.5) ? '#' : '.';
            bar[30] = 0;
            std::fprintf(stderr, "\r[%s] %3d%%  %.1fx", bar, int(fraction * 100 + 0.5), speed);
            std::fflush(stderr);
        }
        return g_stop == 0;
    };

    StopSignals signals;
    tunara::EncodeResult result;
    std::string partial;
    if (kvmc) {
        // The movie writer keeps its own hidden name until the movie is complete.
        result = tunara::EncodeMovieFile(in, out, kbps * 1000, tags, progress);
    } else {
        std::string error;
        partial = tunara::CreatePartialFile(out, error);
        if (partial.empty()) {
            std::fprintf(stderr, "encode: %s\n", error.c_str());
            return 1;
        }
        tunara::Mp3FileSettings settings;
        settings.bitRate = kbps * 1000;
        settings.fast = fast;
        settings.vbrQuality = vbr;
        settings.tags = tags;
        settings.id3v1 = !tags.title.empty() || !tags.artist.empty() || !tags.album.empty();
        result = tunara::EncodeMp3File(in, partial, settings, progress);
        if (result.outcome == tunara::EncodeOutcome::Written &&
            std::rename(partial.c_str(), out.c_str()) != 0) {
            result.outcome = tunara::EncodeOutcome::Failed;
            result.failure = "Cannot write " + out + ".";
        }
        if (result.outcome != tunara::EncodeOutcome::Written) tunara::RemoveFile(partial);
    }
    if (tty) std::fputc('\n', stderr);
    switch (result.outcome) {
        case tunara::EncodeOutcome::Written:
            return 0;
        case tunara::EncodeOutcome::Stopped:
            std::fprintf(stderr, "encode: interrupted; %s not written\n", out.c_str());
            return 130;
        case tunara::EncodeOutcome::Failed:
            break;
    }
    std::fprintf(stderr, "encode: %s\n", result.failure.c_str());
    return 1;
}

tunara::cli::Registration reg(
    {"encode", kUsage, &Encode,
     "Codes a WAV file (8 or 16 bit, one or two channels, 16 to 48 kHz) into\n"
     "an MP3 file (128 kbit/s by default; --fast for the quicker encoder;\n"
     "--vbr 0-9 for a variable bit rate, 0 largest and best, 2 about 190\n"
     "kbit/s on music) or,\n"
     "with --kvmc or a .mov name, a QuickTime movie with a KVMC sound track.\n"
     "The MP3 file notes the encoder's delay, so decoders give back exactly the\n"
     "input's samples; --title, --artist, --album and --track tag the file.\n"
     "The output appears only when complete: Ctrl+C, SIGTERM, SIGHUP or a\n"
     "failure leave no file.\n"});

}  // namespace
