// A program run the way a user or a script runs it: its own process, standard output and
// standard error read through pipes, signals sent from outside.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

class Subprocess {
public:
    using Clock = std::chrono::steady_clock;

    explicit Subprocess(const std::vector<std::string>& arguments)
    {
        int outPipe[2];
        int errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(outPipe[1], STDOUT_FILENO);
            ::dup2(errPipe[1], STDERR_FILENO);
            // The test runner may block signals; the program must start as a shell starts it.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }

    ~Subprocess()
    {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool Started() const { return pid_ > 0; }

    // Reads until text shows on standard output or standard error, or the time-out passed.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout)
    {
        return ReadUntil(Clock::now() + timeout, [&] { return out.find(text) != std::string::npos; });
    }
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout)
    {
        return ReadUntil(Clock::now() + timeout, [&] { return err.find(text) != std::string::npos; });
    }

    void Signal(int number) { ::kill(pid_, number); }

    // The exit status as a shell shows it (128 + signal for a signal's death); -1 after the
    // time-out, when the program is killed.
    int Wait(std::chrono::milliseconds timeout)
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        ReadUntil(deadline, [] { return false; });
        int status = 0;
        // The pipes close as the program ends; its exit status follows a moment later.
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                ended_ = true;
                return -1;
            }
            ::usleep(1000);
        }
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out;
    std::string err;

private:
    // Until done() or both pipes closed (the program ended) or the deadline.
    template <typename Done>
    bool ReadUntil(Clock::time_point deadline, Done done)
    {
        while (!done()) {
            pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || (out_ < 0 && err_ < 0)) {
                return done();
            }
            if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            Drain(out_, fds[0].revents, out);
            Drain(err_, fds[1].revents, err);
        }
        return true;
    }

    static void Drain(int& fd, short events, std::string& into)
    {
        if (fd < 0 || events == 0) {
            return;
        }
        char buffer[4096];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            into.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool ended_ = false;
};

}  // namespace testsupport
