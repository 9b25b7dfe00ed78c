#pragma once
// The player's screen in a terminal: the display state drawn as lines of
// text with colours, redrawn in place.
#include <string>
#include <vector>

#include "ui/core/DisplayState.h"

namespace tunara::cli {

// The lines of the screen for a display state.
std::vector<std::string> ScreenLines(const DisplayState& d, bool haveVolume);
// One plain line (track, time, title) for output that is not a terminal.
std::string StatusLine(const DisplayState& d);

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

}  // namespace tunara::cli
