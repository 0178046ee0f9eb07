// Standard input line by line, read on a thread of its own so that the host's
// thread never waits for it: `watch --commands` takes the lines between two
// turns of the message loop. The thread is the platform's (the Windows tool
// chain has no std::thread); it may stay blocked in a read until the process
// ends, so what it touches is never freed, and it reads through the platform
// (plat::readInput, unbuffered) rather than through stdio, whose stream locks
// exit takes.
#pragma once

#include "platform/windows.h"

#include <deque>
#include <string>

namespace kvqhost {

class LineInput {
public:
    // The one reader of standard input, started on first use; it lives as long
    // as the process.
    static LineInput& instance();

    // Takes the next complete line (without its end of line); false when none
    // has come yet.
    bool next(std::string& line);
    // True once input has reached its end and every line before it was taken.
    bool ended();
    // The reader posts kWmUser to this window whenever a line or the end
    // arrives, so that a message loop waiting for something to do turns at
    // once; null for none. Set and cleared on the window's own thread.
    void wake(plat::Window window);

private:
    LineInput();
    static uint32_t KVQ_CALLBACK readAll(void* self);
    void push(std::string line, bool end);

    plat::Handle lock_;
    std::deque<std::string> lines_;
    bool ended_ = false;
    plat::Window wake_ = nullptr;
};

} // namespace kvqhost
