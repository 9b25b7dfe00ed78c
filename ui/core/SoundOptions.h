#pragma once
// The sound settings (ReplayGain, equaliser, balance) as the settings store
// keeps them, the equaliser presets, and the gain each list item gets.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/GainStage.h"

namespace tunara {

class SettingsStore;
class MediaSource;

SoundSettings LoadSoundSettings(const SettingsStore& store);
void StoreSoundSettings(SettingsStore& store, const SoundSettings& settings);

// "off", "track", "album", "auto"; nullopt for anything else.
std::optional<ReplayGainMode> ParseReplayGainMode(std::string_view text);
const char* ReplayGainModeName(ReplayGainMode mode);

// Ten gains in dB, 31 Hz first, from "G1,...,G10" (each -12..12); nullopt
// when the text is not ten such numbers.
std::optional<std::array<float, 10>> ParseEqualiserGains(std::string_view text);
std::string EqualiserGainsText(const std::array<float, 10>& gains);

// The built-in presets, then the user's saved ones.
std::vector<std::pair<std::string, std::array<float, 10>>> EqualiserPresets(
    const SettingsStore* store);
// A preset's gains by name (letter case ignored), or a "G1,...,G10" text.
std::optional<std::array<float, 10>> EqualiserPreset(std::string_view nameOrGains,
                                                     const SettingsStore* store);
// Saves (or replaces) a user preset; false for an empty name or one with ';' or '='.
bool SaveEqualiserPreset(SettingsStore& store, const std::string& name,
                         const std::array<float, 10>& gains);
// Removes a user preset (letter case ignored); false when there is none of that name.
bool DeleteEqualiserPreset(SettingsStore& store, const std::string& name);

// Reads the item's ReplayGain values (from its file) and gives it its gain
// under `settings`; `inAlbumRun`: a neighbour in the list is of the same album.
void StampItemGain(const SoundSettings& settings, MediaSource* item, bool inAlbumRun);

}  // namespace tunara
