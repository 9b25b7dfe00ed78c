#pragma once
// Conversions between the 8- and 16-bit encodings found in tag files and the
// UTF-8 used everywhere inside the program.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tunara::text {

// ISO-8859-1 bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

// UTF-16 code units to UTF-8. Unpaired surrogates become U+FFFD; an odd last
// byte is dropped.
std::string Utf16ToUtf8(const uint8_t* data, size_t bytes, bool bigEndian);

// Keeps valid UTF-8 sequences and replaces every invalid byte with U+FFFD, so
// text from a file can be handed on as UTF-8.
std::string SanitizeUtf8(std::string_view bytes);

// True when every byte belongs to a valid UTF-8 sequence.
bool IsValidUtf8(std::string_view bytes);

// Text of unknown 8-bit encoding: kept when it is valid UTF-8, else read as
// ISO-8859-1 (valid UTF-8 is rarely also meaningful Latin-1).
std::string Utf8OrLatin1(std::string_view bytes);

// UTF-8 to ISO-8859-1; characters outside it (and invalid bytes) become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// Valid UTF-8 without control characters (C0, DEL and C1): line breaks and
// tabs become spaces, the others go. For text from outside (servers, discs)
// that ends up on a terminal, in a settings file or in a file name.
std::string DropControls(std::string_view utf8);

// The first `maxChars` characters (code points) of a UTF-8 text.
std::string Utf8Prefix(std::string_view utf8, size_t maxChars);

// Equal but for the case of ASCII letters, as tag and field names are compared.
bool SameLetters(std::string_view a, std::string_view b);

}  // namespace tunara::text
