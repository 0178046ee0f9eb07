// A child process for the tools' tests: started with pipes on its standard
// input, output and error, read line by line with deadlines, and always
// reaped (killed if it outlives the test).
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

class ChildProcess {
public:
    using Env = std::vector<std::pair<std::string, std::string>>;

    // Starts argv[0] (searched in PATH when it has no slash) with the environment
    // of this process plus env. Leak detection in a sanitizer build follows the
    // environment: where 32-bit programs run under user-mode emulation, which
    // LeakSanitizer cannot work in, the launcher switches it off.
    explicit ChildProcess(const std::vector<std::string>& argv, const Env& env = {}) {
        int in[2], out[2], err[2];
        // Close-on-exec, so that a child started later does not hold this one's
        // pipes open (the dup2 onto 0, 1 and 2 below clears the flag for this child).
        if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            posix_spawn_file_actions_addclose(&actions, fd);

        std::vector<std::string> vars;
        for (char** e = environ; *e; ++e)
            vars.emplace_back(*e);
        for (const auto& [name, value] : env) {
            std::string prefix = name + "=";
            for (size_t i = 0; i < vars.size();)
                if (vars[i].rfind(prefix, 0) == 0)
                    vars.erase(vars.begin() + i);
                else
                    ++i;
            vars.push_back(prefix + value);
        }
        std::vector<char*> envp, args;
        for (auto& v : vars)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        std::vector<std::string> argCopy = argv;
        for (auto& a : argCopy)
            args.push_back(a.data());
        args.push_back(nullptr);

        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        input_ = in[1];
        output_ = out[0];
        error_ = err[0];
        fcntl(output_, F_SETFL, O_NONBLOCK);
        fcntl(error_, F_SETFL, O_NONBLOCK);
        signal(SIGPIPE, SIG_IGN);
    }

    ~ChildProcess() {
        closeInput();
        if (pid_ > 0 && exitStatus_ == kRunning) {
            if (wait(3000) == kRunning) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        for (int fd : {output_, error_})
            if (fd >= 0) close(fd);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    bool write(const std::string& text) {
        return input_ >= 0 &&
               ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

    // The next line of standard output; false when none came before the deadline
    // or the output ended.
    bool readLine(std::string& line, int timeoutMs) {
        return nextLine(output_, outBuffer_, line, timeoutMs);
    }

    // Reads output lines until one contains needle; returns it, or "" when the
    // deadline passed first. Every line read is kept in lines().
    std::string waitFor(const std::string& needle, int timeoutMs = 5000) {
        auto end = now() + timeoutMs;
        std::string line;
        for (long long left = timeoutMs; left >= 0; left = end - now()) {
            if (!readLine(line, static_cast<int>(left))) return "";
            if (line.find(needle) != std::string::npos) return line;
        }
        return "";
    }

    const std::vector<std::string>& lines() const { return lines_; }

    // Standard error up to its end or the deadline.
    std::string errorText(int timeoutMs = 3000) {
        std::string all;
        auto end = now() + timeoutMs;
        for (;;) {
            char buf[512];
            ssize_t n = read(error_, buf, sizeof buf);
            if (n > 0) {
                all.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
            long long left = end - now();
            if (left <= 0) break;
            pollfd p{error_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
        return all;
    }

    static constexpr int kRunning = -1000;

    // The exit code (or -signal) once the child has ended, kRunning if it has not
    // ended within the deadline.
    int wait(int timeoutMs) {
        if (exitStatus_ != kRunning || pid_ <= 0) return exitStatus_;
        auto end = now() + timeoutMs;
        for (;;) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                return exitStatus_;
            }
            if (now() >= end) return kRunning;
            usleep(5000); // polling a child's end; bounded by the deadline
        }
    }

    static long long now() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }

private:
    bool nextLine(int fd, std::string& buffer, std::string& line, int timeoutMs) {
        auto end = now() + timeoutMs;
        for (;;) {
            size_t nl = buffer.find('\n');
            if (nl != std::string::npos) {
                line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                lines_.push_back(line);
                return true;
            }
            char buf[512];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                buffer.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
            long long left = end - now();
            if (left <= 0) return false;
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
    }

    pid_t pid_ = -1;
    int input_ = -1, output_ = -1, error_ = -1;
    int exitStatus_ = kRunning;
    std::string outBuffer_;
    std::vector<std::string> lines_;
};
