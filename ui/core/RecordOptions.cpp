#include "ui/core/RecordOptions.h"

#include <algorithm>
#include <array>

#include "ui/core/RecordName.h"

namespace tunara {

std::vector<int> RecordBitRates(int encoder) {
    if (encoder == int(RecordEncoder::Kvmc)) return {24, 48, 64, 128};
    return {64, 80, 128, 192};
}

int RecordBitRateKbps(int encoder, int index) {
    auto list = RecordBitRates(encoder);
    return list[size_t(std::clamp(index, 0, int(list.size()) - 1))];
}

std::function<std::string(const RecordTrack&)> RecordNameRule(const SettingsStore& settings,
                                                              int bitRateKbps) {
    std::array<int, 4> parts = {
        int(settings.Number(settings::kRecordName1)), int(settings.Number(settings::kRecordName2)),
        int(settings.Number(settings::kRecordName3)), int(settings.Number(settings::kRecordName4))};
    return [parts, bitRateKbps](const RecordTrack& t) {
        return BuildRecordName(t.album, t.artist, t.title, t.number, bitRateKbps, parts);
    };
}

RecordJobConfig RecordConfigFromSettings(const SettingsStore& settings) {
    RecordJobConfig config;
    int encoder = int(settings.Number(settings::kEncoder));
    if (encoder < 0 || encoder > 2) encoder = 0;
    config.encoder = RecordEncoder(encoder);
    config.bitRateKbps = RecordBitRateKbps(encoder, int(settings.Number(settings::kBitRate)));
    const int vbr = int(settings.Number(settings::kVbrQuality));
    config.vbrQuality =
        config.encoder == RecordEncoder::HqMp3 && vbr >= 1 && vbr <= 10 ? vbr - 1 : -1;
    config.askFolder = settings.Flag(settings::kAskFilePath);
    config.folder = settings.Text(settings::kRecordFilePath);
    config.recordName = RecordNameRule(settings, config.bitRateKbps);
    return config;
}

}  // namespace tunara
