// The Web movie: a few seconds of the logo, the product's name and its home
// page in motion, with a soft chord. Frames and sound are written here; the
// build encodes them into a QuickTime movie with ffmpeg.
#pragma once

#include <QString>

namespace tunara::skin {

inline constexpr int kMovieWidth = 320;
inline constexpr int kMovieHeight = 180;
inline constexpr int kMovieFps = 25;
inline constexpr int kMovieFrames = 125;  // 5 s
inline constexpr int kMovieSampleRate = 44100;

// Writes DIR/frame_000.png ... and DIR/sound.wav (16-bit stereo).
bool WriteMovieSources(const QString& dir);

}  // namespace tunara::skin
