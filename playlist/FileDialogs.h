#pragma once
// "Choose file(s) to open / a name to save" as the core asks for it. The GUI
// answers with its file dialogs, tunara-cli and tests with their own.
#include <optional>
#include <string>
#include <vector>

namespace tunara {

struct FileFilter {
    std::string description;  // "Playlist (*.pls)"
    std::string pattern;      // "*.pls"
};

struct SaveChoice {
    std::string path;
    int filter = 0;  // index of the filter chosen
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen files in the order the dialog gives them; empty on Cancel.
    // `selected` is the filter shown first.
    virtual std::vector<std::string> ChooseOpen(const std::vector<FileFilter>& filters,
                                                int selected, bool multiple) = 0;
    // Nothing on Cancel.
    virtual std::optional<SaveChoice> ChooseSave(const std::vector<FileFilter>& filters,
                                                 int selected, bool promptOverwrite) = 0;
};

// Process-wide wiring; until a front end installs its own every dialog is
// cancelled.
void SetFileDialogs(FileDialogs* dialogs);
FileDialogs& CurrentFileDialogs();

}  // namespace tunara
