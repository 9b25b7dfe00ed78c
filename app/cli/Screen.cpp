#include "app/cli/Screen.h"

#include <cstdio>

#include "ui/core/DisplayText.h"
#include "ui/core/PlayerController.h"

namespace tunara::cli {

namespace {

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

}  // namespace

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

std::string StatusLine(const DisplayState& d) {
    std::string line = d.TrackText();
    std::string time = d.TimeText();
    if (!time.empty()) line += (line.empty() ? "" : "  ") + time;
    if (!d.Title().empty()) line += (line.empty() ? "" : "  ") + d.Title();
    return line;
}

}  // namespace tunara::cli
