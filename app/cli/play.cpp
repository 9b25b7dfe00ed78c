// tunara-cli play: the player controller in a terminal.
//
// On a terminal the screen is redrawn in place (only when its text changed)
// and single keys drive the commands. With standard input not a terminal
// every item plays to the end, a plain status line is printed now and then,
// and the program exits 0 when the list is done.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/Cli.h"
#include "app/cli/ListBuilder.h"
#include "app/cli/Screen.h"
#include "app/cli/Terminal.h"
#include "app/cli/TerminalInteraction.h"
#include "app/services/AppServices.h"
#include "app/services/Player.h"
#include "platform/ui/UserInteraction.h"
#include "playlist/Playlist.h"
#include "ui/core/DisplayState.h"
#include "ui/core/MixerVolume.h"
#include "ui/core/PlayerController.h"
#include "ui/core/SettingsStore.h"
#include "ui/core/SoundOptions.h"

namespace tunara::cli {

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

int RunPlayer(const PlayerSession& session) {
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    const bool drawScreen = interactive && ::isatty(STDOUT_FILENO) != 0;
    Screen screen;
    TerminalInteraction interaction(interactive, drawScreen ? &screen : nullptr);
    app::AppServices services(&interaction);
    DisplayState display;  // outlives the player, which shows its end on it
    app::Player player(services, ProgramFolder());
    Playlist& playlist = player.List();
    if (session.prepare && !session.prepare(playlist, services)) return 1;

    PlayerController& controller = player.Controller();
    controller.SetDisplay(&display);
    if (session.beforeStart) session.beforeStart(controller);
    controller.Start();
    if (session.afterStart && !session.afterStart(controller)) return 1;
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
        // Keys until the tick is due. Rounded up: a wait rounded down to 0 ms
        // would spin on the clock through the last fraction of a millisecond.
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now());
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
        } else {
            std::this_thread::sleep_until(nextTick);
        }
        if (quit) break;
        if (Clock::now() < nextTick) continue;
        nextTick += std::chrono::milliseconds(PlayerController::kTickMs);
        if (nextTick < Clock::now()) nextTick = Clock::now();

        controller.OnTick();
        display.Advance(PlayerController::kTickMs);
        // The last screen or status line still shows when the list ends
        // within the first tick (a short item played fast).
        const bool ended = controller.ReachedEnd();
        if (!ended && !interactive && controller.State() == Stopped) {
            // An item that did not open: go on with the next one.
            controller.Next();
            if (controller.ReachedEnd()) break;
            controller.Play();
        }

        if (drawScreen) {
            if (display.TakeChanged()) screen.Draw(ScreenLines(display, player.HasVolume()));
        } else if (display.TrackNumber() != shownTrack || Clock::now() >= nextStatus) {
            shownTrack = display.TrackNumber();
            nextStatus = Clock::now() + std::chrono::seconds(5);
            std::printf("%s\n", StatusLine(display).c_str());
            std::fflush(stdout);
        }
        if (ended) break;
    }

    raw.reset();
    return 0;
}

namespace {

// The sound options of the command line over the stored settings; false
// (after a message) for a bad one.
bool TakeSoundOptions(std::vector<std::string>& args, std::optional<SoundSettings>& sound) {
    std::vector<std::string> rest;
    SettingsStore store;
    SoundSettings s = LoadSoundSettings(store);
    bool any = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool known =
            a == "--replaygain" || a == "--preamp" || a == "--eq" || a == "--balance";
        if (!known) {
            rest.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tunara-cli: %s needs a value\n", a.c_str());
            return false;
        }
        const std::string& v = args[++i];
        char* end = nullptr;
        const double number = std::strtod(v.c_str(), &end);
        const bool isNumber = !v.empty() && end && *end == '\0';
        bool ok = true;
        if (a == "--replaygain") {
            const auto mode = ParseReplayGainMode(v);
            ok = mode.has_value();
            if (ok) s.mode = *mode;
        } else if (a == "--preamp") {
            ok = isNumber && number >= -15 && number <= 15;
            if (ok) s.preampDb = static_cast<float>(number);
        } else if (a == "--balance") {
            ok = isNumber && number >= -100 && number <= 100;
            if (ok) s.balance = static_cast<int>(std::lround(number));
        } else {
            const auto gains = EqualiserPreset(v, &store);
            ok = gains.has_value();
            if (ok) s.eqDb = *gains, s.eqOn = true;
        }
        if (!ok) {
            std::fprintf(stderr, "tunara-cli: bad value for %s: %s\n", a.c_str(), v.c_str());
            return false;
        }
        any = true;
    }
    args = std::move(rest);
    if (any) sound = s;
    return true;
}

int Play(const std::vector<std::string>& args) {
    std::vector<std::string> names = args;
    std::optional<SoundSettings> sound;
    if (!TakeSoundOptions(names, sound)) return 2;
    if (names.empty()) names.push_back(ProgramFolder() + "/default.wav");
    PlayerSession session;
    session.prepare = [&](Playlist& playlist, app::AppServices& services) {
        if (NeedsMediaToolbox(names)) services.StartMedia();
        BuildList(playlist, names);
        if (playlist.Count() > 0) return true;
        std::fprintf(stderr, "tunara-cli: nothing to play\n");
        return false;
    };
    session.afterStart = [&sound](PlayerController& c) {
        // Over what the settings say, for this run only.
        if (sound) c.ApplySoundSettings(*sound);
        c.Play();
        return true;
    };
    return RunPlayer(session);
}

Registration reg(
    {"play",
     "play [--replaygain off|track|album|auto] [--preamp DB] [--eq PRESET|G1,...,G10]\n"
     "     [--balance -100..100] [FILE...|LIST.pls|LIST.m3u|LIST.m3u8]",
     &Play,
     "Plays the files and lists given (the built-in chord when none).\n"
     "The sound options hold for this run; without them the settings do.\n"
     "Presets: flat, rock, pop, classical, dance, bass, treble, voice, and saved ones.\n"
     "On a terminal: space play, s stop, n/p next/previous, f/b forward/back,\n"
     "1-4 normal/intro/shuffle/repeat, +/- volume, q quit.\n"
     "Otherwise every item plays to the end with a status line now and then.\n"
     "TUNARA_AUDIO=null plays to no device; TUNARA_AUDIO=file:PATH records.\n"});

}  // namespace

}  // namespace tunara::cli
