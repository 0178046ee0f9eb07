#include "port.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cm11a {

namespace {

constexpr int kWriteBudgetMs = 1000; // for a write the terminal cannot take at once
// While another program holds the lock, how often a hold tries to take it.
constexpr int kLockRetryMs = 10;

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void setRaw(int fd, bool lineSettings) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    if (lineSettings) {
        cfsetispeed(&t, B4800);
        cfsetospeed(&t, B4800);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

std::string readLink(const std::string& link) {
    char buf[PATH_MAX];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

// Replaces path with a file holding text, through a temporary file beside it,
// so that a reader sees the old contents or the new ones, never a part.
bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    std::string temp = path + ".cm11a-sim-" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errnoText("cannot write " + temp);
        return false;
    }
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) error = errnoText("cannot write " + temp);
    ::close(fd);
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        error = errnoText("cannot replace " + path);
        ok = false;
    }
    if (!ok) unlink(temp.c_str());
    return ok;
}

std::string firstLineOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    char buf[PATH_MAX];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    std::string text = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    return text.substr(0, text.find('\n'));
}

} // namespace

Port::Port(std::string link, std::string busyFile, EventLog& log)
    : link_(std::move(link)), busyFile_(std::move(busyFile)), log_(log) {}

bool Port::open(std::string& error) {
    return openTerminal(error) && pointLink(error);
}

void Port::announce() {
    log_.note("device", "device " + path_, {{"path", path_}});
}

bool Port::openTerminal(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = errnoText("cannot open a pseudo-terminal");
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = errnoText("cannot unlock the pseudo-terminal");
        ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        error = errnoText(std::string("cannot open ") + name);
        ::close(master);
        return false;
    }
    setRaw(slave, true);
    setRaw(master, false);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    slave_ = slave;
    path_ = name;
    return true;
}

void Port::closeTerminal() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

// A symbolic link under a temporary name, renamed over the link path: a
// program that opens the path finds the old target or the new one.
bool Port::pointLink(std::string& error) {
    if (link_.empty()) return true;
    struct stat st {};
    if (lstat(link_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = "refusing to replace " + link_ + ": not a symbolic link";
        return false;
    }
    std::string temp = link_ + ".cm11a-sim-" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(path_.c_str(), temp.c_str()) != 0) {
        error = errnoText("cannot create the link " + temp);
        return false;
    }
    if (rename(temp.c_str(), link_.c_str()) != 0) {
        error = errnoText("cannot create the link " + link_);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// Only our own link: the path may have been taken over meanwhile.
void Port::removeLink() {
    if (!link_.empty() && !path_.empty() && readLink(link_) == path_) unlink(link_.c_str());
}

bool Port::write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    long long deadline = monotonicMs() + kWriteBudgetMs;
    while (master_ >= 0 && done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        long long left = deadline - monotonicMs();
        if (left <= 0) return false;
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    return master_ >= 0;
}

std::string Port::refusal(const std::string& command) const {
    if (hungUp_) return command + ": the line is closed";
    if (command == "unplug" && !isPlugged())
        return "unplug: the device is unplugged already (plug brings it back)";
    if (command == "plug" && isPlugged()) return "plug: the device is plugged in already";
    if (command == "hold" && !isPlugged()) return "hold: the device is unplugged";
    if (command == "hold" && held_) return "hold: the port is held already (release ends it)";
    if (command == "release" && !held_) return "release: the port is not held";
    return "";
}

void Port::unplug(long long ms, long long now) {
    if (!refusal("unplug").empty()) return;
    endHold("unplugged");
    std::string gone = path_;
    removeLink(); // first, so that nobody reopens the old terminal through it
    closeTerminal();
    path_.clear();
    plugAt_ = ms > 0 ? now + ms : -1;
    log_.note("unplugged",
              "unplugged " + gone +
                  (ms > 0 ? " (back in " + std::to_string(ms) + " ms)" : " (until plug)"),
              {{"path", gone}, {"backInMs", std::to_string(ms), true}});
    if (listener_) listener_(false, now);
}

bool Port::plug(long long now, std::string& error) {
    error = refusal("plug");
    if (!error.empty()) return false;
    plugAt_ = -1;
    if (!openTerminal(error)) {
        error = "plug: " + error;
        return false;
    }
    std::string linkError;
    if (!pointLink(linkError)) log_.note("error", linkError);
    announce();
    if (listener_) listener_(true, now);
    return true;
}

void Port::hold(long long ms, long long now) {
    if (!refusal("hold").empty()) return;
    held_ = true;
    releaseAt_ = ms > 0 ? now + ms : -1;
    bool locked = tryLock();
    markBusy(true);
    std::string until = ms > 0 ? " (for " + std::to_string(ms) + " ms)" : " (until release)";
    std::vector<Field> fields{{"path", path_}, {"locked", locked ? "true" : "false", true}};
    if (locked) {
        log_.note("held", "held " + path_ + until, fields);
    } else {
        // Whoever has it open keeps it; when they let go, tick takes the lock.
        nextLockTry_ = now + kLockRetryMs;
        log_.note("held", "hold: the port is open elsewhere; new opens are refused from now on",
                  fields);
    }
}

// An exclusive flock, as the plug-in's own open takes it, and the terminal's
// exclusive mode, as it sets it: the plug-in's next open fails on either.
bool Port::tryLock() {
    if (holdFd_ < 0) holdFd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (holdFd_ < 0 || flock(holdFd_, LOCK_EX | LOCK_NB) != 0) return false;
    locked_ = true;
    exclusive_ = ioctl(holdFd_, TIOCEXCL) == 0;
    return true;
}

void Port::endHold(const char* why) {
    if (!held_) return;
    if (holdFd_ >= 0) {
        if (exclusive_) ioctl(holdFd_, TIOCNXCL);
        if (locked_) flock(holdFd_, LOCK_UN);
        ::close(holdFd_);
    }
    holdFd_ = -1;
    held_ = locked_ = exclusive_ = false;
    releaseAt_ = nextLockTry_ = -1;
    markBusy(false);
    log_.note("released", "released " + path_ + " (" + why + ")", {{"path", path_}});
}

// Under Wine the device is opened by Wine's server, which no flock of ours
// stops; the modem-line preload in it refuses the device that this file names.
void Port::markBusy(bool busy) {
    if (busyFile_.empty()) return;
    if (!busy && firstLineOf(busyFile_) != path_) return; // someone else's by now
    std::string error;
    if (!replaceFile(busyFile_, busy ? path_ + "\n" : "", error)) log_.note("error", error);
}

void Port::hangUp() {
    endHold("line closed");
    closeTerminal();
    plugAt_ = -1;
    hungUp_ = true;
}

void Port::tick(long long now) {
    if (plugAt_ >= 0 && now >= plugAt_) {
        std::string error;
        if (!plug(now, error)) log_.note("error", error);
    }
    if (!held_) return;
    if (releaseAt_ >= 0 && now >= releaseAt_) {
        endHold("time up");
    } else if (!locked_ && now >= nextLockTry_) {
        if (tryLock())
            log_.note("hold", "hold: the port was closed elsewhere; locked now", {{"path", path_}});
        else
            nextLockTry_ = now + kLockRetryMs;
    }
}

long long Port::nextDeadline() const {
    long long next = plugAt_;
    auto earlier = [&next](long long t) {
        if (t >= 0 && (next < 0 || t < next)) next = t;
    };
    if (held_) earlier(releaseAt_);
    if (held_ && !locked_) earlier(nextLockTry_);
    return next;
}

void Port::close() {
    endHold("exit");
    closeTerminal();
    removeLink();
}

} // namespace cm11a
