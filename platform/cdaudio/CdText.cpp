#include <cdio/cdio.h>
#include <cdio/cdtext.h>

#include "platform/cdaudio/CdAudio.h"
#include "platform/cdaudio/Toc.h"

namespace tunara::cdaudio {

namespace {

// libcdio takes a cue sheet's bytes for Latin-1, so a sheet written in UTF-8
// comes back encoded twice. When every character fits in a byte and those
// bytes are UTF-8 with at least one non-ASCII sequence, they were the text.
std::string Undouble(const std::string& utf8) {
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            bytes += char(b);
        } else if ((b == 0xC2 || b == 0xC3) && i + 1 < utf8.size()) {
            bytes += char(((b & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            return utf8;  // a character beyond Latin-1: libcdio decoded it properly
        }
    }
    bool wide = false;
    for (size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > bytes.size()) return utf8;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return utf8;
        if (n > 1) wide = true;
        i += n;
    }
    return wide ? bytes : utf8;
}

std::string Field(cdtext_t* text, cdtext_field_t field, track_t track) {
    const char* value = cdtext_get_const(text, field, track);
    return value ? Undouble(value) : std::string();
}

}  // namespace

CdText ReadCdText(CdIo_t* cdio, const Toc& toc) {
    CdText out;
    cdtext_t* text = cdio ? cdio_get_cdtext(cdio) : nullptr;
    if (!text) return out;
    out.title = Field(text, CDTEXT_FIELD_TITLE, 0);
    out.performer = Field(text, CDTEXT_FIELD_PERFORMER, 0);
    out.genre = Field(text, CDTEXT_FIELD_GENRE, 0);
    const track_t first = cdio_get_first_track_num(cdio);
    for (int t = 0; t < toc.Count(); ++t) {
        const auto track = static_cast<track_t>(first + t);
        out.trackTitles.push_back(Field(text, CDTEXT_FIELD_TITLE, track));
        out.trackPerformers.push_back(Field(text, CDTEXT_FIELD_PERFORMER, track));
    }
    return out;
}

}  // namespace tunara::cdaudio
