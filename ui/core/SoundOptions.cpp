#include "ui/core/SoundOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "engine/PcmStream.h"
#include "metadata/ReplayGain.h"
#include "ui/core/SettingsStore.h"

namespace tunara {
namespace {

using Gains = std::array<float, 10>;

const std::vector<std::pair<std::string, Gains>>& BuiltIn() {
    static const std::vector<std::pair<std::string, Gains>> presets = {
        {"flat", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"rock", {5, 4, 3, 1, -1, -1, 1, 3, 4, 5}},
        {"pop", {-1, 1, 3, 4, 4, 2, 0, -1, -1, -1}},
        {"classical", {0, 0, 0, 0, 0, 0, -3, -3, -3, -5}},
        {"dance", {6, 5, 2, 0, 0, -2, -2, -2, 0, 0}},
        {"bass", {7, 6, 5, 3, 1, 0, 0, 0, 0, 0}},
        {"treble", {0, 0, 0, 0, 0, 1, 3, 5, 7, 8}},
        {"voice", {-3, -2, -1, 1, 3, 4, 3, 2, 0, -2}},
    };
    return presets;
}

std::optional<float> Number(std::string_view t) {
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    float v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

float NumberOr(std::string_view t, float fallback, float lo, float hi) {
    const auto v = Number(t);
    return v ? std::clamp(*v, lo, hi) : fallback;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string DbText(float v) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", static_cast<double>(v));
    return b;
}

}  // namespace

std::optional<ReplayGainMode> ParseReplayGainMode(std::string_view text) {
    for (ReplayGainMode m :
         {ReplayGainMode::Off, ReplayGainMode::Track, ReplayGainMode::Album, ReplayGainMode::Auto})
        if (SameLetters(text, ReplayGainModeName(m))) return m;
    return std::nullopt;
}

const char* ReplayGainModeName(ReplayGainMode mode) {
    switch (mode) {
        case ReplayGainMode::Track:
            return "track";
        case ReplayGainMode::Album:
            return "album";
        case ReplayGainMode::Auto:
            return "auto";
        case ReplayGainMode::Off:
            break;
    }
    return "off";
}

std::optional<Gains> ParseEqualiserGains(std::string_view text) {
    Gains g{};
    size_t i = 0;
    while (true) {
        const size_t comma = text.find(',');
        const auto v = Number(text.substr(0, comma));
        if (!v || i >= g.size() || *v < -12 || *v > 12) return std::nullopt;
        g[i++] = *v;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (i != g.size()) return std::nullopt;
    return g;
}

std::string EqualiserGainsText(const Gains& gains) {
    std::string t;
    for (float g : gains) t += (t.empty() ? "" : ",") + DbText(g);
    return t;
}

SoundSettings LoadSoundSettings(const SettingsStore& store) {
    SoundSettings s;
    const uint32_t mode = store.Number(settings::kReplayGainMode);
    s.mode = mode <= 3 ? static_cast<ReplayGainMode>(mode) : ReplayGainMode::Off;
    s.preampDb = NumberOr(store.Text(settings::kReplayGainPreamp), 0, -15, 15);
    s.defaultGainDb = NumberOr(store.Text(settings::kReplayGainDefault), 0, -30, 15);
    s.preventClipping = store.Flag(settings::kPreventClipping);
    s.eqOn = store.Flag(settings::kEqualiserOn);
    // Ten gains and the preamp; a damaged text leaves the equaliser flat.
    std::string eq = store.Text(settings::kEqualiser);
    const size_t last = eq.rfind(',');
    if (last != std::string::npos) {
        if (auto g = ParseEqualiserGains(std::string_view(eq).substr(0, last))) {
            s.eqDb = *g;
            s.eqPreampDb = NumberOr(std::string_view(eq).substr(last + 1), 0, -12, 12);
        }
    }
    s.balance = static_cast<int>(NumberOr(store.Text(settings::kBalance), 0, -100, 100));
    return s;
}

void StoreSoundSettings(SettingsStore& store, const SoundSettings& s) {
    store.SetNumber(settings::kReplayGainMode, static_cast<uint32_t>(s.mode));
    store.SetText(settings::kReplayGainPreamp, DbText(s.preampDb));
    store.SetText(settings::kReplayGainDefault, DbText(s.defaultGainDb));
    store.SetNumber(settings::kPreventClipping, s.preventClipping ? 1 : 0);
    store.SetNumber(settings::kEqualiserOn, s.eqOn ? 1 : 0);
    store.SetText(settings::kEqualiser, EqualiserGainsText(s.eqDb) + "," + DbText(s.eqPreampDb));
    store.SetText(settings::kBalance, std::to_string(s.balance));
}

std::vector<std::pair<std::string, Gains>> EqualiserPresets(const SettingsStore* store) {
    auto all = BuiltIn();
    if (!store) return all;
    std::string_view t = "";
    const std::string text = store->Text(settings::kEqualiserPresets);
    t = text;
    while (!t.empty()) {
        const size_t semi = t.find(';');
        const std::string_view entry = t.substr(0, semi);
        const size_t eq = entry.find('=');
        if (eq != std::string_view::npos && eq > 0)
            if (auto g = ParseEqualiserGains(entry.substr(eq + 1)))
                all.emplace_back(std::string(entry.substr(0, eq)), *g);
        if (semi == std::string_view::npos) break;
        t.remove_prefix(semi + 1);
    }
    return all;
}

std::optional<Gains> EqualiserPreset(std::string_view nameOrGains, const SettingsStore* store) {
    // The user's own presets come last and win over a built-in one of the same name.
    std::optional<Gains> found;
    for (const auto& [name, gains] : EqualiserPresets(store))
        if (SameLetters(name, nameOrGains)) found = gains;
    return found ? found : ParseEqualiserGains(nameOrGains);
}

namespace {

// The stored user presets other than `name`, as they are stored, each
// followed by ';'; `found` tells whether `name` was among them.
std::string OtherPresets(const SettingsStore& store, std::string_view name, bool& found) {
    std::string out;
    found = false;
    const std::string text = store.Text(settings::kEqualiserPresets);
    std::string_view t = text;
    while (!t.empty()) {
        const size_t semi = t.find(';');
        const std::string_view entry = t.substr(0, semi);
        const size_t eq = entry.find('=');
        const bool named = eq != std::string_view::npos && SameLetters(entry.substr(0, eq), name);
        found = found || named;
        if (!entry.empty() && !named) out += std::string(entry) + ";";
        if (semi == std::string_view::npos) break;
        t.remove_prefix(semi + 1);
    }
    return out;
}

}  // namespace

bool SaveEqualiserPreset(SettingsStore& store, const std::string& name, const Gains& gains) {
    if (name.empty() || name.find_first_of(";=") != std::string::npos) return false;
    bool found = false;
    return store.SetText(settings::kEqualiserPresets,
                         OtherPresets(store, name, found) + name + "=" + EqualiserGainsText(gains));
}

bool DeleteEqualiserPreset(SettingsStore& store, const std::string& name) {
    bool found = false;
    std::string rest = OtherPresets(store, name, found);
    if (!rest.empty()) rest.pop_back();  // the last ';'
    return found && store.SetText(settings::kEqualiserPresets, rest);
}

void StampItemGain(const SoundSettings& s, MediaSource* item, bool inAlbumRun) {
    PcmStream* stream = item ? item->Pcm() : nullptr;
    if (!stream) return;
    const ReplayGainValues v =
        s.mode == ReplayGainMode::Off ? ReplayGainValues{} : ReadReplayGain(item->GetLocation());
    stream->SetGain(ItemGain(v, s, inAlbumRun));
}

}  // namespace tunara
