#pragma once
// The one reading of TUNARA_AUDIO, shared by the device factory and the media
// module (header-only: the module links none of our libraries).
#include <cstdlib>
#include <string>
#include <string_view>

namespace tunara::audio {

enum class OutputKind {
    Default,       // unset or empty: the system's output, silent when it cannot open
    Alsa,          // `name` is the ALSA PCM
    Pulse,         // `name` is the sound server's sink (empty: its default)
    NullRealTime,  // "null"
    NullFast,      // "null:fast"
    NullStep,      // "null:step": consumes only when a test says so
    File,          // `name` is the WAV file to write
    Unknown,       // anything else: said once, then the default is used
};

struct OutputChoice {
    OutputKind kind = OutputKind::Default;
    std::string name;  // ALSA PCM, sink or file path
    std::string text;  // as given
};

inline OutputChoice ParseOutputChoice(std::string_view text) {
    OutputChoice c;
    c.text = std::string(text);
    if (text.empty()) return c;
    if (text == "alsa" || text == "alsa:") {
        c.kind = OutputKind::Alsa;
        c.name = "default";
    } else if (text.substr(0, 5) == "alsa:") {
        c.kind = OutputKind::Alsa;
        c.name = std::string(text.substr(5));
    } else if (text == "pulse" || text.substr(0, 6) == "pulse:") {
        c.kind = OutputKind::Pulse;
        c.name = std::string(text.substr(text.size() > 6 ? 6 : text.size()));
    } else if (text == "null") {
        c.kind = OutputKind::NullRealTime;
    } else if (text == "null:fast") {
        c.kind = OutputKind::NullFast;
    } else if (text == "null:step") {
        c.kind = OutputKind::NullStep;
    } else if (text.substr(0, 5) == "file:" && text.size() > 5) {
        c.kind = OutputKind::File;
        c.name = std::string(text.substr(5));
    } else {
        c.kind = OutputKind::Unknown;
    }
    return c;
}

inline OutputChoice OutputChoiceFromEnvironment() {
    const char* env = std::getenv("TUNARA_AUDIO");
    return ParseOutputChoice(env ? env : "");
}

// The line said once per process for an unknown choice.
inline constexpr const char* kUnknownOutputFormat =
    "tunara: TUNARA_AUDIO=%s is not a known output; using the default\n";

}  // namespace tunara::audio
