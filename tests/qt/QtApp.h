#pragma once
// One QApplication on the offscreen platform for every test of this folder,
// with the skin registered and the settings kept in a temporary folder.
#include <QApplication>
#include <QTest>

namespace tunara::testing {

QApplication& App();
// Runs queued work (posted slider notices, queued frames) until none is left.
void Drain();
// A silent 8 kHz mono WAV file of `seconds`: a real item that plays anywhere.
void WriteSilentWav(const QString& path, int seconds);

}  // namespace tunara::testing
