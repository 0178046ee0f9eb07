// The controller's end of the serial line and what a test does to the device
// itself: the pseudo-terminal (its master, and a slave descriptor of our own so
// that the line stays up while the plug-in reopens it), the --link path to it,
// taking the device away and bringing it back on a new terminal (unplug, plug),
// keeping other openers out of it (hold, release) and closing it for good
// (hangup). The controller's state machine is told when the device goes and
// comes back; it never sees a descriptor.
#pragma once

#include "eventLog.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cm11a {

class Port {
public:
    // Told when the device goes away (false) and when it is back (true).
    using PlugListener = std::function<void(bool plugged, long long now)>;

    // link: a symbolic link kept pointing at the terminal, or empty.
    // busyFile: the file that tells the modem-line preload which device to
    // refuse (KVQ_MODEMLINES_BUSY_FILE), or empty.
    Port(std::string link, std::string busyFile, EventLog& log);
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // The first terminal and the link to it; false with a message when either
    // cannot be made (a link path that is not a symbolic link is not replaced).
    bool open(std::string& error);
    // Logs the device line: "device /dev/pts/N", event "device" with "path".
    void announce();
    void setListener(PlugListener listener) { listener_ = std::move(listener); }

    // The master descriptor, -1 while unplugged or hung up.
    int master() const { return master_; }
    const std::string& path() const { return path_; }
    bool isPlugged() const { return master_ >= 0; }
    bool isHungUp() const { return hungUp_; }

    // Writes all bytes to the master within a bounded time.
    bool write(const std::vector<uint8_t>& bytes);

    // Why the command "unplug", "plug", "hold" or "release" cannot be carried
    // out now, or "" when it can.
    std::string refusal(const std::string& command) const;
    // Closes the terminal (a program on the slave sees a hang-up) and removes
    // the link; a new terminal comes back after ms, or only at plug when ms is 0.
    void unplug(long long ms, long long now);
    // A new terminal and the link to it; false when no terminal could be opened.
    bool plug(long long now, std::string& error);
    // Keeps new opens of the slave out: an exclusive flock on a descriptor of
    // our own, and the device path in the busy file; for ms, or until release
    // when ms is 0.
    void hold(long long ms, long long now);
    void release() { endHold("release"); }
    // Closes the terminal for good; the link stays until close.
    void hangUp();

    // Runs what is due: a timed plug, the end of a timed hold, a lock that
    // another program held when the hold began.
    void tick(long long now);
    // The next time tick has work, or -1.
    long long nextDeadline() const;

    // At exit: ends a hold, closes the terminal, removes the link if it is ours.
    void close();

private:
    bool openTerminal(std::string& error);
    void closeTerminal();
    bool pointLink(std::string& error);
    void removeLink();
    bool tryLock();
    void endHold(const char* why);
    void markBusy(bool busy);

    std::string link_;
    std::string busyFile_;
    EventLog& log_;
    PlugListener listener_;

    int master_ = -1;
    int slave_ = -1;
    std::string path_; // the current terminal's slave, empty while unplugged
    bool hungUp_ = false;
    long long plugAt_ = -1; // a timed unplug ends then

    bool held_ = false;
    int holdFd_ = -1;
    bool locked_ = false;    // holdFd_ has the flock; else another program has it
    bool exclusive_ = false; // we set the terminal's exclusive mode
    long long releaseAt_ = -1;
    long long nextLockTry_ = -1;
};

} // namespace cm11a
