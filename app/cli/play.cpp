// tunara-cli play: the player controller in a terminal.
//
// On a terminal the screen is redrawn in place (only when its text changed)
// and single keys drive the commands. With standard input not a terminal
// every item plays to the end, a plain status line is printed now and then,
// and the program exits 0 when the list is done.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/Cli.h"
#include "platform/media/MediaToolbox.h"
#include "platform/ui/Strings.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/Playlist.h"
#include "sources/SourceFactory.h"
#include "ui/core/DisplayState.h"
#include "ui/core/DisplayText.h"
#include "ui/core/MixerVolume.h"
#include "ui/core/PlayerController.h"
#include "ui/core/SettingsStore.h"

namespace tunara::cli {

namespace {

using Clock = std::chrono::steady_clock;

// ---- terminal mode -------------------------------------------------------

// Saved settings for the signal handlers: restoring them is all a handler
// does before the signal takes its usual course.
struct termios g_savedTermios;
volatile sig_atomic_t g_rawActive = 0;
constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

void RestoreTerminal() {
    if (!g_rawActive) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
    ssize_t ignored = ::write(STDOUT_FILENO, kShowCursor, sizeof(kShowCursor) - 1);
    (void)ignored;
    g_rawActive = 0;
}

void EnterRaw() {
    struct termios raw = g_savedTermios;
    // Keys arrive one by one without echo; Ctrl-C still raises SIGINT.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    ssize_t ignored = ::write(STDOUT_FILENO, kHideCursor, sizeof(kHideCursor) - 1);
    (void)ignored;
    g_rawActive = 1;
}

void OnFatalSignal(int sig) {
    RestoreTerminal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void OnStopSignal(int) {
    bool wasRaw = g_rawActive;
    RestoreTerminal();
    std::signal(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    // Continued: take the terminal back.
    std::signal(SIGTSTP, OnStopSignal);
    if (wasRaw) EnterRaw();
}

class RawTerminal {
public:
    RawTerminal() {
        if (::tcgetattr(STDIN_FILENO, &g_savedTermios) != 0) return;
        EnterRaw();
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(sig, OnFatalSignal);
        std::signal(SIGTSTP, OnStopSignal);
    }
    ~RawTerminal() { RestoreTerminal(); }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
};

// ---- screen ----------------------------------------------------------------

constexpr int kWidth = 64;

// Cuts UTF-8 text to at most `width` bytes without splitting a character.
std::string Fit(std::string text, size_t width) {
    if (text.size() <= width) return text;
    size_t cut = width;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text;
}

std::string Pad(const std::string& left, const std::string& right, size_t width) {
    size_t used = left.size() + right.size();
    return left + std::string(used < width ? width - used : 1, ' ') + right;
}

const char* ZoneColour(int zone) {
    // The main window's low, middle and high colours.
    static const char* colours[] = {"\x1b[38;2;64;0;127m", "\x1b[38;2;32;64;192m",
                                    "\x1b[38;2;0;127;255m"};
    return colours[zone];
}

// Builds a bar of segments, switching colour only where the zone or the lit
// state changes.
class SegmentRun {
public:
    void Add(bool lit, int zone, const char* litText, const char* darkText) {
        int key = lit ? zone : -1;
        if (key != key_) {
            out_ += lit ? ZoneColour(zone) : "\x1b[0m\x1b[2m";
            key_ = key;
        }
        out_ += lit ? litText : darkText;
    }
    std::string Take() { return out_ + "\x1b[0m"; }

private:
    std::string out_;
    int key_ = -2;
};

std::string LevelBar(const char* label, float level) {
    int lit = display::LevelSegmentsLit(level);
    SegmentRun run;
    for (int j = 0; j < display::kLevelSegments; ++j)
        run.Add(j < lit, display::LevelSegmentZone(j), "\u2588", "\u00b7");
    return std::string(label) + " " + run.Take();
}

std::vector<std::string> SpectrumRows(const DisplayState& d) {
    std::vector<std::string> rows;
    for (int row = display::kBandSegments - 1; row >= 0; --row) {
        SegmentRun run;
        for (int band = 0; band < display::kBandCount; ++band) {
            bool lit = display::BandSegmentsLit(d.Bands()[static_cast<size_t>(band)]) > row;
            run.Add(lit, display::BandSegmentZone(row), "\u2588\u2588 ", "\u00b7\u00b7 ");
        }
        rows.push_back("  " + run.Take());
    }
    return rows;
}

std::string Lamp(const char* name, bool lit) {
    return lit ? std::string("\x1b[7m ") + name + " \x1b[0m" : std::string(" ") + name + " ";
}

std::vector<std::string> ScreenLines(const DisplayState& d, bool haveVolume) {
    std::vector<std::string> lines;
    lines.push_back(Pad(d.TimeText(), d.TrackText(), kWidth));
    lines.push_back("\x1b[1m" + Fit(d.Title(), kWidth) + "\x1b[0m");
    if (d.MessageMode()) {
        lines.push_back(Fit(d.Message(), kWidth));
    } else {
        std::string info = Fit(d.FormatName(), 16);
        info += std::string(16 - info.size(), ' ') + d.BitRateText();
        lines.push_back(Pad(info, d.SampleRateText() + "  " + d.ChannelsText(), kWidth));
    }
    std::string lamps = Lamp("Play", d.PlayLit()) + Lamp("Fwd", d.FwdLit()) +
                        Lamp("Back", d.BackLit()) + "  " + Lamp("Intro", d.IntroLit()) +
                        Lamp("Shuffle", d.ShuffleLit()) + Lamp("Repeat", d.RepeatLit());
    if (haveVolume)
        lamps += "  Vol " + std::to_string(PlayerController::kVolumeMax - d.VolumeSlider());
    lines.push_back(lamps);
    lines.push_back(LevelBar("L", d.LeftLevel()));
    lines.push_back(LevelBar("R", d.RightLevel()));
    for (auto& row : SpectrumRows(d)) lines.push_back(row);
    // Kept narrower than a terminal so that redrawing in place never wraps.
    lines.push_back("\x1b[2mspace play/stop  s stop  n/p next/prev  f/b fwd/back\x1b[0m");
    lines.push_back("\x1b[2m1 normal  2 intro  3 shuffle  4 repeat  +/- volume  q quit\x1b[0m");
    return lines;
}

class Screen {
public:
    // Draws the lines over the previous drawing when they changed.
    void Draw(const std::vector<std::string>& lines) {
        if (lines == last_ && drawn_ > 0) return;
        std::string out;
        if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "F";
        for (const auto& line : lines) out += "\x1b[2K" + line + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        last_ = lines;
        drawn_ = static_cast<int>(lines.size());
    }
    // Something else was printed: start a fresh drawing below it.
    void Detach() {
        drawn_ = 0;
        last_.clear();
    }

private:
    std::vector<std::string> last_;
    int drawn_ = 0;
};

// ---- the user-interaction channel ------------------------------------------

class TerminalInteraction : public UserInteraction {
public:
    TerminalInteraction(bool interactive, Screen* screen)
        : interactive_(interactive), screen_(screen) {}

    void ShowError(const UserMessage& message) override {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", message.Formatted().c_str());
        if (screen_) screen_->Detach();
    }

    Answer Ask(const std::string& question, bool withCancel) override {
        if (!interactive_) return Answer::Cancel;
        std::printf("%s [y/n%s] ", question.c_str(), withCancel ? "/c" : "");
        std::fflush(stdout);
        Answer answer = withCancel ? Answer::Cancel : Answer::No;
        for (;;) {
            struct pollfd p {
                STDIN_FILENO, POLLIN, 0
            };
            if (::poll(&p, 1, -1) < 0) break;
            char c = 0;
            if (::read(STDIN_FILENO, &c, 1) != 1) break;
            if (c == 'y' || c == 'Y') {
                answer = Answer::Yes;
                break;
            }
            if (c == 'n' || c == 'N') {
                answer = Answer::No;
                break;
            }
            if (withCancel && (c == 'c' || c == 'C' || c == 27)) {
                answer = Answer::Cancel;
                break;
            }
        }
        std::printf("\n");
        if (screen_) screen_->Detach();
        return answer;
    }

private:
    bool interactive_;
    Screen* screen_;
};

// ---- building the list -----------------------------------------------------

bool IsListName(const std::string& name) {
    return ExtensionIs(name, "pls") || ExtensionIs(name, "m3u");
}

// The media toolbox starts only when something may need it, so that WAV and
// MP3 files play where it is missing.
bool NeedsMediaToolbox(const std::vector<std::string>& names, bool inList = false) {
    for (const auto& name : names) {
        if (ExtensionIs(name, "wav") || ExtensionIs(name, "mp3")) continue;
        // A list inside a list is just another file to the toolbox.
        if (inList || !IsListName(name)) return true;
        std::ifstream in(name, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        bool isM3u = false;
        if (NeedsMediaToolbox(ParsePlaylistText(bytes, isM3u), true)) return true;
    }
    return false;
}

void BuildList(Playlist& playlist, const std::vector<std::string>& names) {
    if (names.size() == 1 && IsListName(names[0])) {
        if (!playlist.Load(names[0])) ReportError(strings::kMediaFailedToOpen, names[0]);
        return;
    }
    for (const auto& name : names) {
        if (!IsListName(name)) {
            playlist.AddFile(name);
            continue;
        }
        Playlist part;
        if (!part.Load(name)) {
            ReportError(strings::kMediaFailedToOpen, name);
            continue;
        }
        while (part.Count() > 0) playlist.Append(part.Remove(0));
    }
}

std::string StatusLine(const DisplayState& d) {
    std::string line = d.TrackText();
    std::string time = d.TimeText();
    if (!time.empty()) line += (line.empty() ? "" : "  ") + time;
    if (!d.Title().empty()) line += (line.empty() ? "" : "  ") + d.Title();
    return line;
}

// ---- the command -------------------------------------------------------------

// Runs the command of a key; true for quit.
template <typename StepVolume>
bool HandleKey(char key, PlayerController& c, StepVolume& stepVolume) {
    switch (key) {
        case ' ':
            c.Play();
            break;
        case 's':
            c.Stop();
            break;
        case 'n':
            c.Next();
            break;
        case 'p':
            c.Prev();
            break;
        case 'f':
            c.Fwd();
            break;
        case 'b':
            c.Back();
            break;
        case '1':
            c.Normal();
            break;
        case '2':
            c.ToggleIntro();
            break;
        case '3':
            c.ToggleShuffle();
            break;
        case '4':
            c.ToggleRepeat();
            break;
        case '+':
        case '=':
            stepVolume(-5);
            break;  // the slider's top is loud
        case '-':
        case '_':
            stepVolume(5);
            break;
        case 'q':
        case 'Q':
            return true;
        default:
            break;
    }
    return false;
}

int Play(const std::vector<std::string>& args) {
    SetUiThread();
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    const bool drawScreen = interactive && ::isatty(STDOUT_FILENO) != 0;
    Screen screen;
    TerminalInteraction interaction(interactive, drawScreen ? &screen : nullptr);
    SetUserInteraction(&interaction);

    std::vector<std::string> names = args;
    if (names.empty()) names.push_back(ProgramFolder() + "/default.wav");

    bool media = NeedsMediaToolbox(names) && media::StartMediaServices();
    SettingsStore settings;
    Playlist& playlist = ThePlaylist();
    BuildList(playlist, names);
    if (playlist.Count() == 0) {
        std::fprintf(stderr, "tunara-cli: nothing to play\n");
        if (media) media::StopMediaServices();
        SetUserInteraction(nullptr);
        return 1;
    }

    DisplayState display;
    PlayerController* notify = nullptr;
    MixerVolume volume([&notify] {
        if (notify) notify->OnMixerChange();
    });
    PlayerController controller(display, playlist, volume.IsOpen() ? &volume : nullptr,
                                ProgramFolder(), &settings);
    notify = &controller;
    controller.Start();
    controller.Play();
    auto stepVolume = [&](int delta) {
        int position = display.VolumeSlider() + delta;
        position = std::max(PlayerController::kVolumeMin,
                            std::min(PlayerController::kVolumeMax, position));
        controller.OnVolumeSlider(kThumbPosition, position);
        controller.OnMixerChange();
    };

    std::optional<RawTerminal> raw;
    if (interactive) raw.emplace();
    bool quit = false;
    int shownTrack = -1;
    auto nextStatus = Clock::now();
    auto nextTick = Clock::now();
    while (!quit) {
        // Keys until the tick is due.
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        int waitMs = static_cast<int>(std::max<int64_t>(0, wait.count()));
        if (interactive) {
            struct pollfd p {
                STDIN_FILENO, POLLIN, 0
            };
            if (::poll(&p, 1, waitMs) > 0) {
                char keys[16];
                ssize_t n = ::read(STDIN_FILENO, keys, sizeof(keys));
                for (ssize_t i = 0; i < n && !quit; ++i)
                    quit = HandleKey(keys[i], controller, stepVolume);
            }
        } else if (waitMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        }
        if (quit) break;
        if (Clock::now() < nextTick) continue;
        nextTick += std::chrono::milliseconds(PlayerController::kTickMs);
        if (nextTick < Clock::now()) nextTick = Clock::now();

        controller.OnTick();
        display.Advance(PlayerController::kTickMs);
        if (controller.ReachedEnd()) break;
        if (!interactive && controller.State() == Stopped) {
            // An item that did not open: go on with the next one.
            controller.Next();
            if (controller.ReachedEnd()) break;
            controller.Play();
        }

        if (drawScreen) {
            if (display.TakeChanged()) screen.Draw(ScreenLines(display, volume.IsOpen()));
        } else if (display.TrackNumber() != shownTrack || Clock::now() >= nextStatus) {
            shownTrack = display.TrackNumber();
            nextStatus = Clock::now() + std::chrono::seconds(5);
            std::printf("%s\n", StatusLine(display).c_str());
            std::fflush(stdout);
        }
    }

    controller.Shutdown();
    notify = nullptr;
    raw.reset();
    playlist.Clear();
    if (media) media::StopMediaServices();
    SetUserInteraction(nullptr);
    return 0;
}

Registration reg({"play", "play [FILE...|LIST.pls|LIST.m3u]", &Play});

}  // namespace

}  // namespace tunara::cli
