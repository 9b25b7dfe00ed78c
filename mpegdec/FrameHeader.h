#pragma once
// Private: the shared header tables under the names the decoder uses.
#include "mpeg/Header.h"

namespace mpegdec {

using mpeg::Bitrate;
using mpeg::FrameLengthNoPadding;
using mpeg::PackHeaderWord;
using mpeg::SampleRate;

}  // namespace mpegdec
