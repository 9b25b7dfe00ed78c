#pragma once
// The user-interaction channel of the terminal: messages on stderr, questions
// answered by a key (Cancel when standard input is not a terminal).
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/cli/Screen.h"
#include "platform/ui/UserInteraction.h"

namespace tunara::cli {

class TerminalInteraction : public UserInteraction {
public:
    TerminalInteraction(bool interactive, Screen* screen)
        : interactive_(interactive), screen_(screen) {}

    void ShowError(const UserMessage& message) override {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", message.Formatted().c_str());
        if (screen_) screen_->Detach();
    }

    Answer Ask(const std::string& question, bool withCancel) override {
        if (!interactive_) return Answer::Cancel;
        std::printf("%s [y/n%s] ", question.c_str(), withCancel ? "/c" : "");
        std::fflush(stdout);
        Answer answer = withCancel ? Answer::Cancel : Answer::No;
        for (;;) {
            struct pollfd p {
                STDIN_FILENO, POLLIN, 0
            };
            if (::poll(&p, 1, -1) < 0) break;
            char c = 0;
            if (::read(STDIN_FILENO, &c, 1) != 1) break;
            if (c == 'y' || c == 'Y') {
                answer = Answer::Yes;
                break;
            }
            if (c == 'n' || c == 'N') {
                answer = Answer::No;
                break;
            }
            if (withCancel && (c == 'c' || c == 'C' || c == 27)) {
                answer = Answer::Cancel;
                break;
            }
        }
        std::printf("\n");
        if (screen_) screen_->Detach();
        return answer;
    }

private:
    bool interactive_;
    Screen* screen_;
};

}  // namespace tunara::cli
