#pragma once
// The texts of a movie's user data ("udta": ©nam, ©ART, ©alb, ©day, ©gen, ©swr and trkn).
#include <string>

namespace tunara::movie {

struct MovieTexts {
    std::string title, artist, album, year, genre, encoder;  // UTF-8
    int track = 0, trackTotal = 0;                           // 0: not given
};

}  // namespace tunara::movie
