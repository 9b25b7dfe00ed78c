#pragma once
// The terminal in raw mode for the life of an object: keys arrive one by one
// without echo and the cursor is hidden. Fatal signals and Ctrl-Z give the
// terminal back first.

namespace tunara::cli {

class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
};

}  // namespace tunara::cli
