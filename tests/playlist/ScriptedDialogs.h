#pragma once
// File dialogs answered from a script, installed for a scope.
#include <deque>
#include <optional>

#include "playlist/FileDialogs.h"

namespace tunara::testing {

class ScriptedDialogs : public FileDialogs {
public:
    ScriptedDialogs() { SetFileDialogs(this); }
    ~ScriptedDialogs() override { SetFileDialogs(nullptr); }

    std::vector<std::string> ChooseOpen(const std::vector<FileFilter>& filters, int selected,
                                        bool multiple) override {
        ++opens;
        lastFilters = filters;
        lastSelected = selected;
        lastMultiple = multiple;
        if (openAnswers.empty()) return {};
        auto a = openAnswers.front();
        openAnswers.pop_front();
        return a;
    }
    std::optional<SaveChoice> ChooseSave(const std::vector<FileFilter>& filters, int selected,
                                         bool promptOverwrite) override {
        ++saves;
        lastFilters = filters;
        lastSelected = selected;
        lastOverwrite = promptOverwrite;
        if (saveAnswers.empty()) return std::nullopt;
        auto a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }

    std::deque<std::vector<std::string>> openAnswers;
    std::deque<std::optional<SaveChoice>> saveAnswers;
    int opens = 0, saves = 0;
    std::vector<FileFilter> lastFilters;
    int lastSelected = -1;
    bool lastMultiple = false, lastOverwrite = false;
};

}  // namespace tunara::testing
