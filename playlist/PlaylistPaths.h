#pragma once
// How entries of playlist files map to file names and back.
#include <string>
#include <string_view>

namespace tunara {

// The folder of a path: everything up to and including its last "/" (empty
// when there is none).
std::string FolderOf(const std::string& path);

// True for names that stand on their own: beginning with "/", carrying a URI
// scheme ("file:", "http:"), a drive letter ("C:") or a network prefix ("\\")
// from a list made on Windows.
bool IsAbsoluteEntry(const std::string& entry);

// Turns one entry line into a file name: "file://" URIs are decoded, relative
// entries are read with "/" for "\" and put below the list's folder, other
// absolute entries stay as they are.
std::string ResolveEntry(const std::string& entry, const std::string& listFolder);

// The name stored for an item: relative when it lies below the list's folder
// (byte for byte), else the full name. A name that would not read back as
// itself (blanks at its ends, line breaks, bytes that are not UTF-8) is
// stored as a file:// URI.
std::string StoredEntry(const std::string& fileName, const std::string& listFolder);

bool IsValidUtf8(std::string_view text);
std::string Latin1ToUtf8(std::string_view text);
// The text itself when it is valid UTF-8, else read as Latin-1.
std::string AsUtf8(std::string_view text);

}  // namespace tunara
