#pragma once
// Files of a recording: the temporary WAV, the output folder, and the
// partial file an encoder writes before it takes its final name.
//
// A finished file never replaces another: "Name.mp3" taken gives
// "Name (2).mp3", then "Name (3).mp3", ... An encoder writes to a hidden
// partial file beside the final one, so a failed or cancelled track never
// leaves a half-written file under the name the user looks for.
#include <string>

namespace tunara {

// $TMPDIR when set and not empty, else /tmp.
std::string RecordTempFolder();

// Creates an empty file "<folder>/<name>-XXXXXX.wav" that no one else owns
// and returns its path; empty with `error` set on failure.
std::string CreateTempWav(const std::string& folder, const std::string& name, std::string& error);

// Creates `folder` (and its parents) when missing and checks that files can
// be created in it; false with a message for the user otherwise.
bool PrepareOutputFolder(const std::string& folder, std::string& error);

// "<folder>/<name><ext>", or the first of "<name> (2)<ext>", "<name> (3)<ext>"...
// that does not exist yet.
std::string FreeOutputPath(const std::string& folder, const std::string& name,
                           const std::string& ext);

// Creates the hidden partial file beside `finalPath` (same folder and
// extension) and returns its path; empty with `error` set on failure.
std::string CreatePartialFile(const std::string& finalPath, std::string& error);

// Gives the partial file its final name without replacing anything: when
// `finalPath` was taken meanwhile, the next free " (n)" name. Returns the name
// used; empty with `error` set on failure (the partial file stays).
std::string CommitPartialFile(const std::string& partialPath, const std::string& finalPath,
                              std::string& error);

// Removes `path` when not empty; errors are ignored.
void RemoveFile(const std::string& path);

}  // namespace tunara
