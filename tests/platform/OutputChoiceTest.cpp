#include "platform/audio/OutputChoice.h"

#include <gtest/gtest.h>

#include "platform/audio/AudioDevice.h"

namespace {

using tunara::audio::OutputKind;
using tunara::audio::ParseOutputChoice;

TEST(OutputChoice, EveryFormTheDeviceAndTheModuleShare) {
    EXPECT_EQ(ParseOutputChoice("").kind, OutputKind::Default);
    EXPECT_EQ(ParseOutputChoice("alsa").name, "default");
    EXPECT_EQ(ParseOutputChoice("alsa:hw:1").name, "hw:1");
    EXPECT_EQ(ParseOutputChoice("null").kind, OutputKind::NullRealTime);
    EXPECT_EQ(ParseOutputChoice("null:fast").kind, OutputKind::NullFast);
    EXPECT_EQ(ParseOutputChoice("null:step").kind, OutputKind::NullStep);
    const auto file = ParseOutputChoice("file:/tmp/x.wav");
    EXPECT_EQ(file.kind, OutputKind::File);
    EXPECT_EQ(file.name, "/tmp/x.wav");
    EXPECT_EQ(ParseOutputChoice("pulse").kind, OutputKind::Pulse);
    EXPECT_EQ(ParseOutputChoice("pulse").name, "");
    EXPECT_EQ(ParseOutputChoice("pulse:null").name, "null");
    // A file without a name, a misspelt pace and other text are unknown, for both readers.
    for (const char* bad : {"file:", "null:slow", "pulsar", "NULL"}) {
        EXPECT_EQ(ParseOutputChoice(bad).kind, OutputKind::Unknown) << bad;
        EXPECT_EQ(tunara::audio::CreateDevice(std::string_view(bad)), nullptr) << bad;
    }
}

}  // namespace
