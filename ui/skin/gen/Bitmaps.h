// Every bitmap of the skin, drawn in code at its exact pixel size.
#pragma once

#include <QImage>
#include <map>

namespace tunara::skin {

// Identifier -> image. Masks are 1-bit images, black inside, white outside.
std::map<int, QImage> DrawAllBitmaps();

// The round logo (a domed play button) at any diameter; used by the about
// box and the movie.
QImage DrawLogo(int diameter, double glow);

}  // namespace tunara::skin
