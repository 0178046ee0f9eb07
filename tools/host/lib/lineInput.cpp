// Standard input read line by line on a thread of its own.
#include "lineInput.h"

#include "platform/threads.h"
#include "platform/windows.h"

#include <cerrno>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvqhost {
namespace {

constexpr uint32_t kStackSize = 64 * 1024;
constexpr size_t kLongestLine = 64 * 1024; // a longer line is cut there, not kept growing

// Bytes from standard input; 0 at its end, -1 on failure.
int readInput(char* buffer, unsigned size) {
#if defined(_WIN32)
    return _read(0, buffer, size);
#else
    return static_cast<int>(::read(0, buffer, size));
#endif
}

class Hold {
public:
    explicit Hold(plat::Handle lock) : lock_(lock) { plat::lockMutex(lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() { plat::unlockMutex(lock_); }

private:
    plat::Handle lock_;
};

} // namespace

LineInput& LineInput::instance() {
    // Never destroyed: the reader may still be blocked in a read while the
    // process ends, and must find it all there if a line comes in then.
    static LineInput* input = new LineInput();
    return *input;
}

LineInput::LineInput() : lock_(plat::createMutex()) {
#if defined(_WIN32)
    _setmode(0, _O_BINARY); // lines end with \n or \r\n; a Ctrl+Z byte is no end
#endif
    uint32_t id = 0;
    plat::Handle reader = plat::createThread(kStackSize, &LineInput::readAll, this, &id);
    if (reader)
        plat::closeThread(reader); // it runs on, detached
    else
        push(std::string(), true); // without a reader there is no input
}

uint32_t KVQ_CALLBACK LineInput::readAll(void* self) {
    auto* input = static_cast<LineInput*>(self);
    std::string partial;
    char buffer[512];
    for (;;) {
        int n = readInput(buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (int i = 0; i < n; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                if (!partial.empty() && partial.back() == '\r') partial.pop_back();
                input->push(std::move(partial), false);
                partial.clear();
            } else if (partial.size() < kLongestLine) {
                partial += c;
            }
        }
    }
    if (!partial.empty()) input->push(std::move(partial), false);
    input->push(std::string(), true);
    return 0;
}

void LineInput::push(std::string line, bool end) {
    Hold hold(lock_);
    if (end)
        ended_ = true;
    else
        lines_.push_back(std::move(line));
    if (wake_) plat::postMessage(wake_, plat::kWmUser, 0, 0);
}

bool LineInput::next(std::string& line) {
    Hold hold(lock_);
    if (lines_.empty()) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

bool LineInput::ended() {
    Hold hold(lock_);
    return ended_ && lines_.empty();
}

void LineInput::wake(plat::Window window) {
    Hold hold(lock_);
    wake_ = window;
    if (wake_ && (ended_ || !lines_.empty())) plat::postMessage(wake_, plat::kWmUser, 0, 0);
}

} // namespace kvqhost
