#include "ui/core/Session.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/io/AtomicFile.h"
#include "platform/registry/Registry.h"
#include "playlist/Playlist.h"

namespace tunara {

namespace {

bool ReadAll(const std::filesystem::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

bool ToInt(std::string_view s, int& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

bool OneLine(const std::string& s) {
    return s.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string SerializeSession(const SessionState& st) {
    std::string out;
    auto put = [&out](std::string_view key, const std::string& value) {
        out.append(key).append("=").append(value).append("\n");
    };
    auto num = [&](std::string_view key, int v) { put(key, std::to_string(v)); };
    put("active", st.cdActive ? "cd" : "list");
    num("current", st.current);
    num("position", st.positionMs);
    num("volume", st.volume);
    num("intro", st.intro);
    num("shuffle", st.shuffle);
    num("repeat", st.repeat);
    num("playlistOpen", st.playlistOpen);
    num("cdOpen", st.cdOpen);
    num("equaliserOpen", st.equaliserOpen);
    for (const auto& [name, at] : st.places)
        if (OneLine(name) && name.find('=') == std::string::npos)
            put("place." + name, std::to_string(at.first) + "," + std::to_string(at.second));
    if (OneLine(st.listPath)) put("listPath", st.listPath);
    num("listModified", st.listModified);
    num("listM3u", st.listM3u);
    return out;
}

SessionState ParseSession(std::string_view text) {
    SessionState st;
    st.found = true;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        int n = 0;
        const bool isNum = ToInt(value, n);
        if (key == "active")
            st.cdActive = value == "cd";
        else if (key == "listPath")
            st.listPath = std::string(value);
        else if (key.substr(0, 6) == "place.") {
            const size_t comma = value.find(',');
            int x = 0, y = 0;
            if (comma != std::string_view::npos && ToInt(value.substr(0, comma), x) &&
                ToInt(value.substr(comma + 1), y))
                st.places[std::string(key.substr(6))] = {x, y};
        } else if (!isNum)
            continue;
        else if (key == "current")
            st.current = n;
        else if (key == "position")
            st.positionMs = n < 0 ? 0 : n;
        else if (key == "volume")
            st.volume = n < 0 || n > 100 ? -1 : n;
        else if (key == "intro")
            st.intro = n != 0;
        else if (key == "shuffle")
            st.shuffle = n != 0;
        else if (key == "repeat")
            st.repeat = n != 0;
        else if (key == "playlistOpen")
            st.playlistOpen = n != 0;
        else if (key == "cdOpen")
            st.cdOpen = n != 0;
        else if (key == "equaliserOpen")
            st.equaliserOpen = n != 0;
        else if (key == "listModified")
            st.listModified = n != 0;
        else if (key == "listM3u")
            st.listM3u = n != 0;
    }
    return st;
}

SessionStore::SessionStore() : folder_(registry::UserStoreFolder()) {}
SessionStore::SessionStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

SessionState SessionStore::Load() const {
    std::string text;
    if (!ReadAll(StateFile(), text)) return {};
    return ParseSession(text);
}

bool SessionStore::Save(const SessionState& state) const {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    return io::WriteFileAtomically(StateFile(), SerializeSession(state));
}

bool SessionStore::SaveList(const Playlist& list) const {
    std::string out = "#EXTM3U\n";
    out.reserve(64 * static_cast<size_t>(list.Count()) + 8);
    for (int i = 0; i < list.Count(); ++i) {
        const std::string& name = list.ItemAt(i)->GetLocation();
        // A name that would not read back as one line cannot be kept here.
        if (name.empty() || !OneLine(name)) continue;
        const EntryNote& note = list.NoteAt(i);
        if (!note.title.empty() || note.lengthMs >= 0) {
            const int seconds = note.lengthMs < 0 ? -1 : (note.lengthMs + 500) / 1000;
            out += "#EXTINF:" + std::to_string(seconds) + "," +
                   (OneLine(note.title) ? note.title : std::string()) + "\n";
        }
        out += name + "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    return io::WriteFileAtomically(ListFile(), out);
}

bool SessionStore::RestoreList(Playlist& list, const SessionState& state) const {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ListFile(), ec)) return false;
    if (!list.AddList(ListFile())) return false;
    list.SetOrigin(state.listPath, state.listM3u, state.listModified);
    return true;
}

}  // namespace tunara
