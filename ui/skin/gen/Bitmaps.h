// Every bitmap of the skin, drawn in code at its exact pixel size.
#pragma once

#include <QImage>
#include <map>

namespace tunara::skin {

// Identifier -> image, drawn at `scale` (1 or 2; the images carry it as their
// device pixel ratio). Masks are 1-bit images at 1x, black inside, white
// outside, whatever the scale.
std::map<int, QImage> DrawAllBitmaps(int scale = 1);

// The round logo (a domed play button) at any diameter; used by the about
// box and the movie.
QImage DrawLogo(int diameter, double glow);

}  // namespace tunara::skin
