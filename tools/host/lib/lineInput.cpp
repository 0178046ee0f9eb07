// Standard input read line by line on a thread of its own.
#include "lineInput.h"

#include "platform/host.h"
#include "platform/threads.h"
#include "platform/windows.h"

namespace kvqhost {
namespace {

constexpr uint32_t kStackSize = 64 * 1024;
constexpr size_t kLongestLine = 64 * 1024; // a longer line is cut there, not kept growing

} // namespace

LineInput& LineInput::instance() {
    // Never destroyed: the reader may still be blocked in a read while the
    // process ends, and must find it all there if a line comes in then.
    static LineInput* input = new LineInput();
    return *input;
}

LineInput::LineInput() : lock_(plat::createMutex()) {
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
        int n = plat::readInput(buffer, sizeof buffer);
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
    plat::MutexGuard hold(lock_);
    if (end)
        ended_ = true;
    else
        lines_.push_back(std::move(line));
    if (wake_) plat::postMessage(wake_, plat::kWmUser, 0, 0);
}

bool LineInput::next(std::string& line) {
    plat::MutexGuard hold(lock_);
    if (lines_.empty()) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    return true;
}

bool LineInput::ended() {
    plat::MutexGuard hold(lock_);
    return ended_ && lines_.empty();
}

void LineInput::wake(plat::Window window) {
    plat::MutexGuard hold(lock_);
    wake_ = window;
    if (wake_ && (ended_ || !lines_.empty())) plat::postMessage(wake_, plat::kWmUser, 0, 0);
}

} // namespace kvqhost
