#include "platform/cdaudio/ImageCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "platform/io/OpenRegular.h"

namespace tunara::cdaudio {

namespace {

// A sheet for a full disc with titles for every track is a few kilobytes.
constexpr size_t kMaxSheetBytes = 256 * 1024;
constexpr size_t kMaxLineBytes = 1024;
constexpr int kMaxFiles = 99;
constexpr int kMaxIndices = 99;  // per track
constexpr int kMaxTracks = 99;
// 100 minutes: more than any disc holds.
constexpr long kMaxFrames = 100L * 60 * 75;

std::string Lower(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return u;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Reads a sheet whole when it is a regular file of sensible size and plain text.
bool ReadSheet(const std::string& path, std::string& text, std::string& why) {
    const int fd = io::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        why = errno == EINVAL ? "it is not a regular file" : "it cannot be read";
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && size_t(st.st_size) <= kMaxSheetBytes;
    if (ok) {
        // One byte more than the cap tells a file that grew since the look.
        text.resize(kMaxSheetBytes + 1);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += size_t(n);
        }
        text.resize(done);
        ok = done <= kMaxSheetBytes;
    }
    if (!ok) why = "the sheet is larger than 256 KB";
    ::close(fd);
    if (!ok) return false;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        why = "the sheet starts with a byte-order mark";
        return false;
    }
    for (unsigned char c : text) {
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') {
            why = "the sheet holds bytes that are not text";
            return false;
        }
    }
    return true;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// Words of a line; a quoted word keeps its blanks. False on an unclosed quote.
bool Words(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) return false;
            words.emplace_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
            words.emplace_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

bool Digits(std::string_view s, size_t most) {
    return !s.empty() && s.size() <= most &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view s) {
    int n = 0;
    for (char c : s) n = n * 10 + (c - '0');
    return n;
}

// "mm:ss:ff" as frames; -1 when it is not one or lies beyond a disc.
long Msf(std::string_view s) {
    const size_t a = s.find(':'), b = a == std::string_view::npos ? a : s.find(':', a + 1);
    if (b == std::string_view::npos) return -1;
    const std::string_view m = s.substr(0, a), sec = s.substr(a + 1, b - a - 1),
                           f = s.substr(b + 1);
    if (!Digits(m, 3) || !Digits(sec, 2) || !Digits(f, 2)) return -1;
    const long frames = Number(m) * 4500L + Number(sec) * 75L + Number(f);
    if (Number(sec) >= 60 || Number(f) >= 75 || frames > kMaxFrames) return -1;
    return frames;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Named(const std::string& folder, const std::string& name) {
    return !name.empty() && name[0] == '/' ? name : folder + "/" + name;
}

std::string CheckCueText(const std::string& path, std::string_view text) {
    static const char* const kFileTypes[] = {"BINARY", "MOTOROLA", "WAVE", "AIFF", "MP3"};
    static const char* const kModes[] = {"AUDIO",      "CDG",        "MODE1/2048", "MODE1/2352",
                                         "MODE2/2048", "MODE2/2324", "MODE2/2336", "MODE2/2352",
                                         "CDI/2336",   "CDI/2352"};
    const std::string folder = FolderOf(path);
    int files = 0, tracks = 0, indices = 0, lastIndex = -1;
    long lastPosition = -1;  // within the current file
    bool sawIndex1 = false;
    int lineNo = 0;
    std::vector<std::string> w;
    auto at = [&](const std::string& what) {
        return "line " + std::to_string(lineNo) + ": " + what;
    };
    auto endTrack = [&]() -> std::string {
        if (tracks > 0 && !sawIndex1) return "track " + std::to_string(tracks) + " has no INDEX 01";
        return {};
    };
    for (std::string_view line : Lines(text)) {
        ++lineNo;
        if (line.size() > kMaxLineBytes) return at("the line is too long");
        if (!Words(line, w)) return at("a quote is not closed");
        if (w.empty()) continue;
        const std::string& command = w[0];
        const size_t args = w.size() - 1;
        if (command == "REM") continue;
        if (command == "FILE") {
            if (args != 2) return at("FILE needs a name and a type");
            if (std::find(std::begin(kFileTypes), std::end(kFileTypes), w[2]) ==
                std::end(kFileTypes))
                return at("unknown file type " + w[2]);
            if (++files > kMaxFiles) return at("too many files");
            if (w[1].empty() || !IsRegularFile(Named(folder, w[1])))
                return at("the file \"" + w[1] + "\" is missing or not a regular file");
            lastPosition = -1;
        } else if (command == "TRACK") {
            if (files == 0) return at("TRACK before any FILE");
            if (args != 2 || !Digits(w[1], 3)) return at("TRACK needs a number and a mode");
            if (std::string e = endTrack(); !e.empty()) return at(e);
            if (Number(w[1]) != tracks + 1)
                return at("track " + w[1] + " where track " + std::to_string(tracks + 1) +
                          " should come");
            if (++tracks > kMaxTracks) return at("more than 99 tracks");
            if (std::find(std::begin(kModes), std::end(kModes), w[2]) == std::end(kModes))
                return at("unknown track mode " + w[2]);
            indices = 0;
            lastIndex = -1;
            sawIndex1 = false;
        } else if (command == "INDEX") {
            if (tracks == 0) return at("INDEX before any TRACK");
            if (args != 2 || !Digits(w[1], 2)) return at("INDEX needs a number and a time");
            const int number = Number(w[1]);
            const long position = Msf(w[2]);
            if (position < 0) return at("bad time " + w[2]);
            if (number <= lastIndex || (lastIndex < 0 && number > 1) ||
                (lastIndex >= 0 && number != lastIndex + 1))
                return at("index " + w[1] + " out of order");
            if (++indices > kMaxIndices) return at("too many indices");
            // The first index of a file may start anywhere, the rest must follow.
            // The first index of a file may start anywhere; the rest must follow it.
            if (position <= lastPosition)
                return at("index " + w[1] + " does not come after the one before");
            lastIndex = number;
            lastPosition = position;
            if (number == 1) sawIndex1 = true;
        } else if (command == "PREGAP" || command == "POSTGAP") {
            if (tracks == 0) return at(command + " before any TRACK");
            if (args != 1 || Msf(w[1]) < 0) return at(command + " needs a time");
        } else if (command == "CATALOG") {
            if (args != 1 || !Digits(w[1], 13) || w[1].size() != 13)
                return at("CATALOG needs 13 digits");
        } else if (command == "ISRC") {
            if (args != 1 || w[1].size() != 12) return at("ISRC needs 12 characters");
        } else if (command == "FLAGS") {
            if (tracks == 0) return at("FLAGS before any TRACK");
            for (size_t i = 1; i < w.size(); ++i) {
                const std::string& f = w[i];
                if (f != "DCP" && f != "4CH" && f != "PRE" && f != "SCMS")
                    return at("unknown flag " + w[i]);
            }
        } else if (command == "TITLE" || command == "PERFORMER" || command == "SONGWRITER" ||
                   command == "CDTEXTFILE") {
            if (args < 1) return at(command + " needs a text");
        } else {
            return at("unknown command " + w[0]);
        }
    }
    if (tracks == 0) return "there are no tracks";
    if (std::string e = endTrack(); !e.empty()) return e;
    return {};
}

// The cdrdao table-of-contents format: words, numbers, "strings", { } blocks,
// "//" comments and a few separators.
struct Token {
    enum Kind { Word, Number, String, Open, Close, Colon, Comma, End } kind = End;
    std::string text;
    int line = 0;
};

bool Tokenise(std::string_view text, std::vector<Token>& out, std::string& why) {
    int line = 1;
    size_t i = 0;
    auto word = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '#';
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '"') {
            std::string s;
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\n') break;
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                s += text[i++];
            }
            if (i >= text.size() || text[i] != '"') {
                why = "line " + std::to_string(line) + ": a quote is not closed";
                return false;
            }
            ++i;
            if (s.size() > kMaxLineBytes) {
                why = "line " + std::to_string(line) + ": the text is too long";
                return false;
            }
            out.push_back({Token::String, s, line});
        } else if (c == '{' || c == '}' || c == ':' || c == ',') {
            out.push_back({c == '{'   ? Token::Open
                           : c == '}' ? Token::Close
                           : c == ':' ? Token::Colon
                                      : Token::Comma,
                           std::string(1, c), line});
            ++i;
        } else if (word(c)) {
            size_t end = i;
            while (end < text.size() && word(text[end])) ++end;
            std::string s(text.substr(i, end - i));
            if (s.size() > 64) {
                why = "line " + std::to_string(line) + ": a word is too long";
                return false;
            }
            const bool number =
                std::all_of(s.begin(), s.end(), [](char d) { return d >= '0' && d <= '9'; });
            out.push_back({number ? Token::Number : Token::Word, s, line});
            i = end;
        } else {
            why = "line " + std::to_string(line) + ": unexpected character";
            return false;
        }
    }
    out.push_back({Token::End, {}, line});
    return true;
}

class TocParser {
public:
    explicit TocParser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    std::string Run() {
        Header();
        while (ok() && Is(Token::Word, "TRACK")) Track();
        if (ok() && t_[i_].kind != Token::End) Fail("unexpected " + t_[i_].text);
        if (ok() && tracks_ == 0) why_ = "there are no tracks";
        return why_;
    }

private:
    bool ok() const { return why_.empty(); }
    void Fail(const std::string& what) {
        if (ok()) why_ = "line " + std::to_string(t_[i_].line) + ": " + what;
    }
    bool Is(Token::Kind k, const char* text = nullptr) const {
        return t_[i_].kind == k && (!text || t_[i_].text == text);
    }
    bool Take(Token::Kind k, const char* text = nullptr) {
        if (!Is(k, text)) return false;
        ++i_;
        return true;
    }
    bool Need(Token::Kind k, const char* what) {
        if (Take(k)) return true;
        Fail(std::string("expected ") + what);
        return false;
    }
    const std::string& Previous() const { return t_[i_ - 1].text; }

    // A time: "mm:ss:ff" or a count of samples; -1 after a failure.
    long Time() {
        if (!Is(Token::Number)) {
            Fail("expected a time");
            return -1;
        }
        const std::string first = t_[i_++].text;
        if (!Is(Token::Colon)) {
            if (!Digits(first, 9) || std::stol(first) / 588 > kMaxFrames) {
                --i_;  // the message names the number's line
                Fail("a time beyond a disc");
                return -1;
            }
            return std::stol(first) / 588;
        }
        std::string msf = first;
        for (int part = 0; part < 2; ++part) {
            if (!Take(Token::Colon) || !Is(Token::Number)) {
                Fail("a bad time");
                return -1;
            }
            msf += ":" + t_[i_++].text;
        }
        const long frames = Msf(msf);
        if (frames < 0) Fail("a bad time " + msf);
        return frames;
    }
    bool OptionalTime() { return Is(Token::Number) ? Time() >= 0 : true; }

    void Header() {
        while (ok()) {
            if (Take(Token::Word, "CD_DA") || Take(Token::Word, "CD_ROM") ||
                Take(Token::Word, "CD_ROM_XA") || Take(Token::Word, "CD_I")) {
            } else if (Take(Token::Word, "CATALOG")) {
                if (!Need(Token::String, "a catalogue number")) return;
                if (Previous().size() != 13 || !Digits(Previous(), 13))
                    Fail("CATALOG needs 13 digits");
            } else if (Take(Token::Word, "CD_TEXT")) {
                CdText(true);
            } else {
                return;
            }
        }
    }

    // CD_TEXT { LANGUAGE_MAP { n : code ... } LANGUAGE n { ITEM "text" | ITEM { bytes } ... } }
    void CdText(bool disc) {
        if (!Need(Token::Open, "{")) return;
        int languages = 0;
        while (ok() && !Take(Token::Close)) {
            if (disc && Take(Token::Word, "LANGUAGE_MAP")) {
                if (!Need(Token::Open, "{")) return;
                for (int n = 0; ok() && !Take(Token::Close); ++n) {
                    if (n >= 8 || !Take(Token::Number) || Number(Previous()) > 7 ||
                        Previous().size() > 1 || !Take(Token::Colon) ||
                        !(Take(Token::Word) || Take(Token::Number)))
                        Fail("a bad language map");
                    Take(Token::Comma);
                }
            } else if (Take(Token::Word, "LANGUAGE")) {
                if (++languages > 8 || !Take(Token::Number) || Previous().size() > 1 ||
                    Number(Previous()) > 7) {
                    Fail("a bad language");
                    return;
                }
                if (!Need(Token::Open, "{")) return;
                for (int items = 0; ok() && !Take(Token::Close); ++items) {
                    if (items > 32 || !Take(Token::Word)) {
                        Fail("a bad CD-TEXT item");
                        return;
                    }
                    if (Take(Token::String)) continue;
                    if (!Need(Token::Open, "{")) return;
                    for (int bytes = 0; ok() && !Take(Token::Close); ++bytes) {
                        if (bytes >= 256 || !Take(Token::Number) || Previous().size() > 3 ||
                            Number(Previous()) > 255) {
                            Fail("a bad CD-TEXT value");
                            return;
                        }
                        Take(Token::Comma);
                    }
                }
            } else {
                Fail("a bad CD-TEXT block");
            }
        }
    }

    void Track() {
        ++i_;  // TRACK
        if (++tracks_ > kMaxTracks) return Fail("more than 99 tracks");
        static const char* const kModes[] = {"AUDIO",       "MODE0",          "MODE1",
                                             "MODE1_RAW",   "MODE2",          "MODE2_FORM1",
                                             "MODE2_FORM2", "MODE2_FORM_MIX", "MODE2_RAW"};
        if (!Is(Token::Word) ||
            std::find(std::begin(kModes), std::end(kModes), t_[i_].text) == std::end(kModes))
            return Fail("unknown track mode");
        ++i_;
        if (Take(Token::Word, "RW") || Take(Token::Word, "RW_RAW")) {
        }
        bool data = false, start = false;
        long length = 0;  // of the track so far, frames
        int indices = 0;
        long lastIndex = 0;
        while (ok() && !Is(Token::End) && !Is(Token::Word, "TRACK")) {
            if (Take(Token::Word, "NO")) {
                if (!Take(Token::Word, "COPY") && !Take(Token::Word, "PRE_EMPHASIS"))
                    Fail("NO needs COPY or PRE_EMPHASIS");
            } else if (Take(Token::Word, "COPY") || Take(Token::Word, "PRE_EMPHASIS") ||
                       Take(Token::Word, "TWO_CHANNEL_AUDIO") ||
                       Take(Token::Word, "FOUR_CHANNEL_AUDIO")) {
            } else if (Take(Token::Word, "ISRC")) {
                if (Need(Token::String, "an ISRC") && Previous().size() != 12)
                    Fail("ISRC needs 12 characters");
            } else if (Take(Token::Word, "CD_TEXT")) {
                CdText(false);
            } else if (Take(Token::Word, "SILENCE") || Take(Token::Word, "ZERO") ||
                       Take(Token::Word, "PREGAP")) {
                if (Previous() == "ZERO" && Is(Token::Word)) ++i_;  // a data mode
                const long t = Time();
                if (t >= 0) length += t;
                data = true;
            } else if (Take(Token::Word, "FILE") || Take(Token::Word, "AUDIOFILE") ||
                       Take(Token::Word, "DATAFILE")) {
                const bool audioFile = Previous() != "DATAFILE";
                if (!Need(Token::String, "a file name")) return;
                const std::string name = Previous();
                // libcdio opens these names from the current folder, not the sheet's.
                if (name.empty() || !IsRegularFile(name))
                    return Fail("the file \"" + name + "\" is missing or not a regular file");
                if (++files_ > kMaxFiles * 4) return Fail("too many files");
                if (audioFile && Is(Token::Word, "SWAP")) ++i_;
                // A byte offset in the file: "#123".
                if (Is(Token::Word) && t_[i_].text[0] == '#') {
                    if (!Digits(std::string_view(t_[i_].text).substr(1), 10))
                        return Fail("a bad file offset");
                    ++i_;
                }
                if (audioFile && Time() < 0) return;  // where in the file the track starts
                if (Is(Token::Number)) {
                    const long t = Time();
                    if (t < 0) return;
                    length += t;
                }
                data = true;
            } else if (Take(Token::Word, "START")) {
                if (start) return Fail("a second START");
                start = true;
                if (!OptionalTime()) return;
            } else if (Take(Token::Word, "INDEX")) {
                const long t = Time();
                if (t < 0) return;
                if (++indices > kMaxIndices) return Fail("too many indices");
                if (t <= lastIndex) return Fail("indices do not rise");
                lastIndex = t;
            } else {
                return Fail("unexpected " + t_[i_].text);
            }
        }
        if (ok() && !data) Fail("track " + std::to_string(tracks_) + " has no data");
        if (ok() && (total_ += length) > kMaxFrames) Fail("the tracks are longer than a disc");
    }

    std::vector<Token> t_;
    size_t i_ = 0;
    int tracks_ = 0, files_ = 0;
    long total_ = 0;
    std::string why_;
};

std::string Extension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return {};
    return Lower(path.substr(dot + 1));
}

}  // namespace

std::string CueSheetOf(const std::string& element) {
    const std::string ext = Extension(element);
    if (ext == "cue") return element;
    if (ext != "bin") return {};
    const std::string stem = element.substr(0, element.size() - 3);
    for (const char* e : {"cue", "CUE"})
        if (IsRegularFile(stem + e)) return stem + e;
    return stem + "cue";
}

std::string CheckImage(const std::string& element) {
    const std::string ext = Extension(element);
    std::string why;
    if (ext == "nrg") {
        // libcdio's reader of these runs outside its buffers on crafted files.
        return "The disc image " + element + " cannot be opened: .nrg images are not supported.";
    } else if (ext == "cue" || ext == "bin" || ext == "toc") {
        const std::string sheet = ext == "toc" ? element : CueSheetOf(element);
        std::string text;
        if (ReadSheet(sheet, text, why)) {
            if (ext == "toc") {
                std::vector<Token> tokens;
                if (Tokenise(text, tokens, why)) why = TocParser(std::move(tokens)).Run();
            } else {
                why = CheckCueText(sheet, text);
            }
        }
        if (ext == "bin" && !why.empty()) why = "its cue sheet " + sheet + ": " + why;
    } else {
        why = "it is not a disc image";
    }
    if (why.empty()) return {};
    return "The disc image " + element + " is damaged: " + why + ".";
}

}  // namespace tunara::cdaudio
