#pragma once
// Where the user's and the program's files live, decided in one place so that
// every store of one user lands in the same tree.
#include <filesystem>
#include <string>

namespace tunara::io {

// $HOME, else the password database's home folder, else "/".
std::filesystem::path HomeFolder();
// $XDG_CONFIG_HOME and $XDG_DATA_HOME, read on every call; unset or relative
// values mean HomeFolder()/.config and HomeFolder()/.local/share.
std::filesystem::path ConfigHome();
std::filesystem::path DataHome();
// ConfigHome()/Korvan: the folder our settings and the CD player's ini share.
std::filesystem::path VendorConfigFolder();

// The folder of the running executable ("." when it cannot be read).
std::string ProgramFolder();

// A file's name without its folder and its last extension ("a/b.c.mp3" ->
// "b.c"); a leading dot is part of the name.
std::string FileTitle(const std::string& path);

}  // namespace tunara::io
