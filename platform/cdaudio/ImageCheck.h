#pragma once
// Disc images are files users download. libcdio's image readers trust their
// sheets, so a sheet reaches libcdio only after our own strict reading of it,
// and each kind of image is opened with its own driver alone.
#include <string>

typedef struct _CdIo CdIo_t;

namespace tunara::cdaudio {

// Empty when `element` (.cue, .bin or .toc) may be handed to libcdio;
// otherwise a sentence for the user, "The disc image X is damaged: why."
// .nrg images are always refused.
// A sheet is refused unless it is a regular text file of at most 256 KB with
// lines of at most 1024 bytes, 1 to 99 tracks numbered 1, 2, 3..., each with
// an index 1, indices and times that rise, and data files that exist as
// regular files. A sheet that claims more sectors than its data file holds is
// accepted: the missing sectors read as errors.
std::string CheckImage(const std::string& element);
// The cue sheet libcdio reads for a .cue or .bin element (a .bin's is the
// same name with .cue); empty for other names.
std::string CueSheetOf(const std::string& element);

// Sets libcdio up once per process (its driver table, a silent log).
void InitCdio();
// Opens a drive path, or an image that CheckImage accepts, with the one
// libcdio driver for its kind; null when it cannot or may not be opened.
CdIo_t* OpenCdio(const std::string& element);
void CloseCdio(CdIo_t* cdio);

}  // namespace tunara::cdaudio
