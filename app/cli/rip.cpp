// tunara-cli rip: records CD tracks (or tracks of a disc image) into MP3
// files or KVMC movies through the recording job, with the record options of
// the settings for whatever the command line leaves out.
//
// On a terminal the job's texts and both bars are redrawn in place; otherwise
// each change of text is printed on a line of its own with the bars'
// percentages. Ctrl+C cancels as the window's Cancel button does.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/Cli.h"
#include "engine/OutputEngine.h"
#include "metadata/AccurateRip.h"
#include "metadata/MusicBrainz.h"
#include "mpeg/Header.h"
#include "platform/cdreader/CdReader.h"
#include "platform/shell/XdgShell.h"
#include "platform/ui/UserInteraction.h"
#include "record/DiscRecording.h"
#include "record/RecordFiles.h"
#include "record/RipCheck.h"
#include "sources/CdDisc.h"
#include "sources/CdDiscInfo.h"
#include "ui/core/CddbSettings.h"
#include "ui/core/RecordOptions.h"
#include "ui/core/SettingsStore.h"

namespace tunara::cli {

namespace {

constexpr char kUsage[] =
    "rip [DRIVE] [TRACKS] [--encoder kvmc|fast|hq|flac] [--bitrate KBPS] [--level 0-8] "
    "[--to FOLDER] [--offset SAMPLES] [--verify] [--verify-server HOST[:PORT]]";

// Every track recorded, some with sectors that could not be read.
constexpr int kExitDamaged = 3;
// Every track recorded, but not every one confirmed by AccurateRip.
constexpr int kExitUnverified = 4;

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int signal) {
    g_interrupted = 1;
    // A second Ctrl+C ends the program the usual way.
    std::signal(signal, SIG_DFL);
}

// "1,3-5" -> {1, 3, 4, 5}; false for anything else.
bool ParseTracks(const std::string& text, std::set<int>& tracks) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(at, end - at);
        size_t dash = part.find('-');
        try {
            size_t used = 0;
            int first = std::stoi(part.substr(0, dash), &used);
            if (used != (dash == std::string::npos ? part.size() : dash)) return false;
            int last = first;
            if (dash != std::string::npos) {
                std::string tail = part.substr(dash + 1);
                last = std::stoi(tail, &used);
                if (used != tail.size()) return false;
            }
            if (first < 1 || last < first || last > 99) return false;
            for (int t = first; t <= last; ++t) tracks.insert(t);
        } catch (...) {
            return false;
        }
        at = end + 1;
        if (end == text.size() - 1) return false;  // a trailing comma
    }
    return !tracks.empty();
}

bool LooksLikeTracks(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789,-") == std::string::npos;
}

std::string Bar(int percent) {
    constexpr int kWidth = 30;
    int filled = percent * kWidth / 100;
    return "[" + std::string(size_t(filled), '#') + std::string(size_t(kWidth - filled), '.') +
           "] " + std::to_string(percent) + "%";
}

// The recording window in a terminal.
class TerminalView : public RecordView {
public:
    explicit TerminalView(bool tty) : tty_(tty) {}
    RecordJob* job = nullptr;

    void StatusChanged() override { Draw(true); }
    void ProgressChanged() override { Draw(false); }
    // The window's caption is no part of what the user is told.
    void ShowMessage(const std::string&, const std::string& text) override {
        EndLines();
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void TrackDamaged(const RecordTrack& track, int sectors, const std::string& path) override {
        EndLines();
        std::fprintf(stderr,
                     "Track %d is damaged: %d %s could not be read. %s was kept with silence "
                     "in their place.\n",
                     track.number, sectors, sectors == 1 ? "sector" : "sectors", path.c_str());
    }
    std::optional<std::string> ChooseFolder(const std::string& start) override {
        if (!tty_) return start;
        std::printf("Folder for the recorded files [%s]: ", start.c_str());
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        return line.empty() ? start : shell::ExpandHome(line);
    }
    void Wrote(const std::string& path) {
        EndLines();
        std::printf("Wrote %s\n", path.c_str());
    }
    void EndLines() {
        if (drawn_) std::printf("\n");
        drawn_ = false;
        std::fflush(stdout);
    }

private:
    void Draw(bool textChanged) {
        std::string track = "Track   " + Bar(job->TrackPercent());
        std::string overall = "Overall " + Bar(job->OverallPercent());
        if (tty_) {
            // Four lines: status, counter, the two bars; redrawn in place.
            if (drawn_) std::printf("\x1b[3F");
            std::printf("\x1b[2K%s\n\x1b[2K%s\n\x1b[2K%s\n\x1b[2K%s", job->StatusText().c_str(),
                        job->CounterText().c_str(), track.c_str(), overall.c_str());
            drawn_ = true;
        } else if (textChanged || job->OverallPercent() >= lastPrinted_ + 10 ||
                   (job->OverallPercent() == 100 && lastPrinted_ != 100)) {
            if (textChanged)
                std::printf("%s\n%s\n", job->StatusText().c_str(), job->CounterText().c_str());
            std::printf("track %d%% overall %d%%\n", job->TrackPercent(), job->OverallPercent());
            lastPrinted_ = job->OverallPercent();
        }
        std::fflush(stdout);
    }

    bool tty_;
    bool drawn_ = false;
    int lastPrinted_ = -100;
};

int Rip(const std::vector<std::string>& args) {
    std::string drive, tracksText, encoderText, folder;
    int bitRate = 0, level = -1;
    bool verify = false;
    std::optional<int> offset;
    std::string verifyServer = accuraterip::kDefaultHost;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string number;
        if (a == "--encoder") {
            if (!value(encoderText))
                return std::fprintf(stderr, "usage: tunara-cli %s\n", kUsage), 2;
        } else if (a == "--bitrate") {
            if (!value(number) || number.empty() ||
                number.find_first_not_of("0123456789") != std::string::npos || number.size() > 4)
                return std::fprintf(stderr, "--bitrate takes kbit/s, e.g. 128\n"), 2;
            bitRate = std::stoi(number);
        } else if (a == "--level") {
            if (!value(number) || number.size() != 1 || number[0] < '0' || number[0] > '8')
                return std::fprintf(stderr, "--level takes a FLAC compression level, 0 to 8\n"), 2;
            level = number[0] - '0';
        } else if (a == "--offset") {
            size_t used = 0;
            int n = 0;
            try {
                if (value(number)) n = std::stoi(number, &used);
            } catch (...) {
                used = 0;
            }
            if (used == 0 || used != number.size() || n < -2000 || n > 2000)
                return std::fprintf(stderr, "--offset takes samples, -2000 to 2000\n"), 2;
            offset = n;
        } else if (a == "--verify") {
            verify = true;
        } else if (a == "--verify-server") {
            if (!value(verifyServer))
                return std::fprintf(stderr, "usage: tunara-cli %s\n", kUsage), 2;
            verify = true;
        } else if (a == "--to") {
            if (!value(folder)) return std::fprintf(stderr, "usage: tunara-cli %s\n", kUsage), 2;
        } else if (a.rfind("--", 0) == 0) {
            return std::fprintf(stderr, "unknown option %s\nusage: tunara-cli %s\n", a.c_str(),
                                kUsage),
                   2;
        } else if (tracksText.empty() && LooksLikeTracks(a)) {
            tracksText = a;
        } else if (drive.empty() && tracksText.empty()) {
            drive = a;
        } else {
            return std::fprintf(stderr, "usage: tunara-cli %s\n", kUsage), 2;
        }
    }

    SetUiThread();
    std::vector<std::string> drives = CdReaderDriveNames();
    SettingsStore settings(drives);
    RecordJobConfig config = RecordConfigFromSettings(settings);

    if (!encoderText.empty()) {
        if (encoderText == "kvmc")
            config.encoder = RecordEncoder::Kvmc;
        else if (encoderText == "fast")
            config.encoder = RecordEncoder::FastMp3;
        else if (encoderText == "hq")
            config.encoder = RecordEncoder::HqMp3;
        else if (encoderText == "flac")
            config.encoder = RecordEncoder::Flac;
        else
            return std::fprintf(stderr, "--encoder is kvmc, fast, hq or flac\n"), 2;
        if (config.encoder == RecordEncoder::Flac)
            config.bitRateKbps = RecordBitRateKbps(int(config.encoder), 0);
        else if (bitRate == 0)  // the settings' index belongs to the other list
            bitRate = RecordBitRateKbps(int(config.encoder),
                                        config.encoder == RecordEncoder::Kvmc ? 3 : 2);
    }
    if (level >= 0) config.flacLevel = level;
    if (offset) config.readOffset = *offset;
    if (bitRate != 0 && config.encoder == RecordEncoder::Flac) {
        std::fprintf(stderr, "FLAC files are lossless: --bitrate does not apply\n");
        return 2;
    }
    if (bitRate != 0) {
        bool valid = config.encoder == RecordEncoder::Kvmc ? bitRate >= 8 && bitRate <= 320 : false;
        for (int index = 1; index <= 14 && !valid; ++index)
            valid = mpeg::Bitrate(1, index) == bitRate * 1000;
        if (!valid) {
            std::fprintf(stderr, "%d kbit/s is not a bit rate of this encoder\n", bitRate);
            return 2;
        }
        config.bitRateKbps = bitRate;
    }
    config.recordName = RecordNameRule(settings, config.bitRateKbps);  // it names the bit rate
    if (!folder.empty()) {
        config.askFolder = false;
        config.folder = shell::ExpandHome(folder);  // quoted past the shell
    }

    if (drive.empty()) {
        int current = settings.CurrentCdDrive();
        if (current < 0) {
            std::fprintf(stderr, "No CD drive or disc image (TUNARA_CD_IMAGES) was found.\n");
            return 1;
        }
        drive = drives[size_t(current)];
    } else if (std::find(drives.begin(), drives.end(), drive) == drives.end()) {
        std::fprintf(stderr, "%s is not a CD drive or a disc image named in TUNARA_CD_IMAGES.\n",
                     drive.c_str());
        return 1;
    }
    config.drive = drive;

    OutputEngine engine;  // the tracks are read by the recorder, never played
    CdDisc disc(engine, drive);
    disc.ReadToc();
    PrintError(disc);
    LoadCdTitles(disc, settings);
    std::vector<const CdTrackSource*> onDisc;
    std::vector<int> onDiscItems;  // each one's item on the disc's list
    for (int i = 0; i < disc.Count(); ++i) {
        if (auto* t = dynamic_cast<const CdTrackSource*>(disc.ItemAt(i))) {
            onDisc.push_back(t);
            onDiscItems.push_back(i);
        }
    }
    if (onDisc.empty()) {
        std::fprintf(stderr, "There is no audio CD in %s.\n", drive.c_str());
        return 1;
    }
    std::set<int> wanted;
    if (tracksText.empty()) {
        for (auto* t : onDisc) wanted.insert(t->TrackNumber());
    } else if (!ParseTracks(tracksText, wanted)) {
        std::fprintf(stderr, "TRACKS is a list such as 1,3-5\n");
        return 2;
    }
    std::vector<int> items;
    for (int n : wanted) {
        auto it = std::find_if(onDisc.begin(), onDisc.end(),
                               [n](auto* t) { return t->TrackNumber() == n; });
        if (it == onDisc.end()) {
            std::fprintf(stderr, "The disc has no audio track %d.\n", n);
            return 1;
        }
        items.push_back(onDiscItems[size_t(it - onDisc.begin())]);
    }
    DiscRecording recording = PrepareDiscRecording(std::move(config), disc, items);

    const bool tty = ::isatty(STDOUT_FILENO) && ::isatty(STDIN_FILENO);
    TerminalView view(tty);
    recording.config.addToPlaylist = [&view](const std::string& path) { view.Wrote(path); };
    RecordJob job(std::move(recording.config), *recording.reader, view);
    view.job = &job;

    g_interrupted = 0;
    // SIGTERM and SIGHUP (a closed terminal) cancel like Ctrl+C, so that no temporary WAV or
    // partial file stays behind.
    auto previous = std::signal(SIGINT, OnInterrupt);
    auto previousTerm = std::signal(SIGTERM, OnInterrupt);
    auto previousHup = std::signal(SIGHUP, OnInterrupt);
    job.Start();
    bool cancelled = false;
    while (job.State() == RecordState::Reading || job.State() == RecordState::Encoding) {
        if (g_interrupted && !cancelled) {
            cancelled = true;
            job.Cancel();
        }
        if (UiQueue().Deliver() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::signal(SIGINT, previous);
    std::signal(SIGTERM, previousTerm);
    std::signal(SIGHUP, previousHup);
    view.EndLines();
    bool finished = job.State() == RecordState::Finished;
    bool damaged = !job.Damaged().empty();
    if (job.State() == RecordState::Waiting)
        std::fprintf(stderr, "Nothing could be read from %s.\n", drive.c_str());
    job.Close();
    if (cancelled) std::fprintf(stderr, "Cancelled.\n");
    bool verified = true;
    if (finished && verify) {
        std::string host;
        int port = 80;
        http::SplitHostPort(verifyServer, 80, host, port);
        const RipFacts& facts = recording.facts;
        const std::string logPath = FreeOutputPath(job.Folder(), RipLogName(facts), ".log");
        const RipCheck check = CheckRip(job.Sums(), recording.ids, host, port, logPath, facts);
        if (!check.failure.empty())
            std::fprintf(stderr, "AccurateRip lookup failed: %s\n", check.failure.c_str());
        for (const auto& [number, text] : check.verdicts)
            std::printf("Track %d: AccurateRip %s\n", number, text.c_str());
        if (!check.logPath.empty()) std::printf("Log: %s\n", check.logPath.c_str());
        verified = check.allAccurate;
    }
    if (finished) return damaged ? kExitDamaged : verified ? 0 : kExitUnverified;
    return cancelled ? 130 : 1;
}

Registration reg({"rip", kUsage, &Rip,
                  "Records CD tracks (TRACKS such as 1,3-5; all by default) into MP3 files,\n"
                  "lossless FLAC files (--level 0-8) or KVMC movies; the record options of the "
                  "settings fill in what is not given.\n"
                  "A disc image named in TUNARA_CD_IMAGES rips like a drive. Ctrl+C cancels.\n"
                  "A track whose sectors stay unreadable is named with the number of those\n"
                  "sectors; its file is kept, with silence in their place.\n"
                  "--offset corrects the drive's read offset (samples; the CD options'\n"
                  "setting by default).\n"
                  "--verify looks every track up in the AccurateRip database (at\n"
                  "--verify-server, www.accuraterip.com by default), prints each track's\n"
                  "verdict and writes a .log beside the tracks with the checksums.\n"
                  "Exit status: 0 every track written (and, with --verify, confirmed\n"
                  "accurate); 1 the rip failed; 2 a mistake in the command line; 3 every\n"
                  "track was recorded but some are damaged; 4 every track was recorded but\n"
                  "not every one was confirmed by AccurateRip; 130 cancelled.\n"});

}  // namespace

}  // namespace tunara::cli
