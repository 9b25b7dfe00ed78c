#include "app/cli/Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace tunara::cli {

namespace {

// Saved settings for the signal handlers: restoring them is all a handler
// does before the signal takes its usual course.
struct termios g_savedTermios;
volatile sig_atomic_t g_rawActive = 0;
constexpr char kShowCursor[] = "\x1b[?25h";
constexpr char kHideCursor[] = "\x1b[?25l";

void RestoreTerminal() {
    if (!g_rawActive) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTermios);
    ssize_t ignored = ::write(STDOUT_FILENO, kShowCursor, sizeof(kShowCursor) - 1);
    (void)ignored;
    g_rawActive = 0;
}

void EnterRaw() {
    struct termios raw = g_savedTermios;
    // Keys arrive one by one without echo; Ctrl-C still raises SIGINT.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    ssize_t ignored = ::write(STDOUT_FILENO, kHideCursor, sizeof(kHideCursor) - 1);
    (void)ignored;
    g_rawActive = 1;
}

void OnFatalSignal(int sig) {
    RestoreTerminal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void OnStopSignal(int) {
    bool wasRaw = g_rawActive;
    RestoreTerminal();
    std::signal(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    // Continued: take the terminal back.
    std::signal(SIGTSTP, OnStopSignal);
    if (wasRaw) EnterRaw();
}

}  // namespace

RawTerminal::RawTerminal() {
    if (::tcgetattr(STDIN_FILENO, &g_savedTermios) != 0) return;
    EnterRaw();
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(sig, OnFatalSignal);
    std::signal(SIGTSTP, OnStopSignal);
}

RawTerminal::~RawTerminal() {
    RestoreTerminal();
}

}  // namespace tunara::cli
