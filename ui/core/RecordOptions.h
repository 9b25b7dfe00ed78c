#pragma once
// The record options of the settings store turned into a recording job's
// configuration.
#include <functional>
#include <string>
#include <vector>

#include "record/DiscRecording.h"
#include "record/RecordJob.h"
#include "ui/core/SettingsStore.h"

namespace tunara {

// kbit/s of entry `index` of an encoder's bit-rate list ("24 kbits/s" ... for
// KVMC, "64 kbits/s" ... for MP3); an index past the list takes its last entry.
int RecordBitRateKbps(int encoder, int index);
// The bit-rate list of an encoder, in kbit/s.
std::vector<int> RecordBitRates(int encoder);

// The record-name rule with the settings' four part choices and the given bit rate.
std::function<std::string(const RecordTrack&)> RecordNameRule(const SettingsStore& settings,
                                                              int bitRateKbps);

// Encoder, bit rate, folder, the ask flag and the naming rule from the
// settings; the caller adds the tracks, the drive and what the options leave
// open (a temporary folder, the playlist).
RecordJobConfig RecordConfigFromSettings(const SettingsStore& settings);

}  // namespace tunara
