#pragma once
// The core's user channel in the windowed player: message boxes, questions
// and file dialogs through Qt, and work posted from other threads delivered
// on the user-interface thread by queued calls.
#include "platform/ui/UserInteraction.h"
#include "playlist/FileDialogs.h"

#include <QString>
#include <functional>

class QWidget;

namespace tunara::qt {

class QtInteraction : public UserInteraction, public FileDialogs {
public:
    // Installs itself as the process's user interaction and file dialogs.
    QtInteraction();
    ~QtInteraction() override;

    void ShowError(const UserMessage& message) override;
    Answer Ask(const std::string& question, bool withCancel) override;
    std::vector<std::string> ChooseOpen(const std::vector<FileFilter>& filters, int selected,
                                        bool multiple) override;
    std::optional<SaveChoice> ChooseSave(const std::vector<FileFilter>& filters, int selected,
                                         bool promptOverwrite) override;

    // Called before any message box or question appears (the program takes
    // its splash away, so that nothing is shown behind or over it).
    std::function<void()> beforeMessage;
};

// A Qt file-dialog filter for one of ours: "MP3 File (*.mp3)"; "*.*" matches
// every file.
QString QtFilter(const FileFilter& filter);

}  // namespace tunara::qt
