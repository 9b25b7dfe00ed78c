#pragma once
// Private-profile files: "[section]" headers and "key=value" lines, as the CD
// information cache ("cdplayer.ini") keeps them. Semantics follow the classic
// profile functions other programs use on the same files:
//  - section and key names compare without regard to ASCII case, surrounding
//    blanks ignored; the first of duplicate sections or keys wins;
//  - values lose surrounding blanks, and one pair of matching quotes ('' or "");
//  - a missing key gives the default, with its trailing blanks removed;
//  - a text is cut to the room given (bufferChars, counted in characters
//    with the terminating zero, so at most bufferChars - 1 come back; a UTF-8
//    sequence is never split);
//  - an integer is the leading decimal number of the value (optional sign),
//    0 when there is none, the default when the key is missing or empty;
//  - lines starting with ';' are comments; lines before the first section
//    belong to no section; CR LF and LF line ends both read, a UTF-8 byte
//    order mark is skipped; comments, unknown lines, order and line-end style
//    survive a rewrite.
// A write adds a missing section at the end of the file and a missing key at
// the end of its section. Values are bytes; the caller decides the encoding.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunara::profile {

// $XDG_CONFIG_HOME/Korvan/cdplayer.ini (an unset or relative XDG_CONFIG_HOME
// means ~/.config), read from the environment on every call.
std::filesystem::path CdPlayerIniPath();

// One file held in memory.
class ProfileFile {
public:
    // Text as found in a file; never fails (what cannot be read is kept as is).
    static ProfileFile Parse(std::string_view text);
    std::string Serialize() const;

    // Returns the number of characters stored in `out`.
    size_t GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                     std::string& out, size_t bufferChars) const;
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    bool HasSection(std::string_view section) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // A null value removes the key. False (nothing changes) for a section or
    // key name that a file cannot hold: empty, or with a line break, "]" in a
    // section, "=" in a key, or ";" / "[" starting a key. Line breaks inside
    // values become spaces, so a value can never add lines.
    bool WriteString(std::string_view section, std::string_view key,
                     std::optional<std::string_view> value);
    bool WriteInt(std::string_view section, std::string_view key, int value);
    // Removes a section with all its lines; false when there was none.
    bool DeleteSection(std::string_view section);

    bool Modified() const { return modified_; }

private:
    struct Line {
        enum Kind { Other, Section, Entry } kind = Other;
        std::string raw;    // as read or as last written
        std::string name;   // trimmed section or key name
        std::string value;  // entries: trimmed, unquoted
    };
    // Index of the section's header line; -1 when missing.
    int FindSection(std::string_view section) const;
    // Index of the key's line within the section that starts at `header`; -1 when missing.
    int FindKey(int header, std::string_view key) const;
    int SectionEnd(int header) const;  // index past the section's last line

    std::vector<Line> lines_;
    bool crlf_ = false;
    bool bom_ = false;
    bool finalNewline_ = true;
    bool modified_ = false;
};

// Reads the file; a missing or unreadable file reads as empty (false). Only a
// regular file of at most 16 MB is read; another is told to the user once.
bool Load(const std::filesystem::path& file, ProfileFile& profile);

// Reads the file, lets `edit` change it, and saves it atomically (temporary
// file, fsync, rename) when anything changed, all under a lock shared with
// every other edit of the file in this process and, through an advisory lock
// beside the file, in others. The folder is made when missing. False when
// the save failed (the file keeps its previous contents), or when the file
// exists but could not be read. A FIFO or oversized file in its place is
// renamed to NAME.unreadable first.
bool Edit(const std::filesystem::path& file, const std::function<void(ProfileFile&)>& edit);

// One call each, reading the file anew.
size_t GetString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view defaultValue, std::string& out, size_t bufferChars);
int GetInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
           int defaultValue);
bool WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::optional<std::string_view> value);
bool WriteInt(const std::filesystem::path& file, std::string_view section, std::string_view key,
              int value);

}  // namespace tunara::profile
