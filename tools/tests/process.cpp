#include "tools/tests/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace testproc {
namespace {

using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env, const std::string& cwd) {
    for (const std::string& e : env) {
        if (!e.empty() && e[0] == '-') {
            unsetenv(e.c_str() + 1);
        } else if (const auto eq = e.find('='); eq != std::string::npos) {
            setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Its own process group, so that a timeout can stop what it started too.
    setpgid(0, 0);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

Result Run(const std::vector<std::string>& argv, double timeout_s,
           const std::vector<std::string>& env, const std::string& cwd) {
    Result r;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        return r;
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(devnull, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        ExecChild(argv, env, cwd);
    }
    close(devnull);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return r;
    }
    setpgid(pid, pid);
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            r.timed_out = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0)
            close(f.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = DecodeStatus(status);
    return r;
}

bool Background::Start(const std::vector<std::string>& argv, const std::string& log_path) {
    Stop();
    const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(log, 1);
        dup2(log, 2);
        ExecChild(argv, {}, "");
    }
    close(log);
    if (pid < 0)
        return false;
    pid_ = pid;
    status_ = -1;
    return true;
}

bool Background::Running() {
    if (pid_ < 0)
        return false;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = DecodeStatus(status);
        pid_ = -1;
        return false;
    }
    return true;
}

int Background::Stop() {
    if (!Running())
        return status_;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Running()) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = DecodeStatus(status);
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

bool WaitForPath(const std::string& path, double timeout_s) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
    struct stat st {};
    while (stat(path.c_str(), &st) != 0) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace testproc
