#include "playlist/FileDialogs.h"

#include <atomic>

namespace tunara {

namespace {

class CancellingDialogs : public FileDialogs {
public:
    std::vector<std::string> ChooseOpen(const std::vector<FileFilter>&, int, bool) override {
        return {};
    }
    std::optional<SaveChoice> ChooseSave(const std::vector<FileFilter>&, int, bool) override {
        return std::nullopt;
    }
};

CancellingDialogs g_cancelling;
std::atomic<FileDialogs*> g_dialogs{nullptr};

}  // namespace

void SetFileDialogs(FileDialogs* dialogs) {
    g_dialogs.store(dialogs);
}

FileDialogs& CurrentFileDialogs() {
    FileDialogs* d = g_dialogs.load();
    return d ? *d : g_cancelling;
}

}  // namespace tunara
