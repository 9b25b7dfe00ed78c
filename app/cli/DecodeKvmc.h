#pragma once
#include <string>

namespace tunara::cli {

// Decodes the KVMC sound track of a movie into a 16-bit WAV file (or raw samples); 0 on
// success, 1 with a message on stderr otherwise.
int DecodeKvmcMovie(const std::string& in, const std::string& out);

}  // namespace tunara::cli
