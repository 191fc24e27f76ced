// Runs camsim as a child process with its own camera directory.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace sim::testing {

// A temporary directory that becomes $CAMSIM_DIR for this process and its
// children while the object lives.
class CamsimDir {
  public:
    CamsimDir() {
        root_ = std::filesystem::temp_directory_path() /
                ("sim-proc-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(root_);
        dir_ = root_ / "cams";
        ::setenv("CAMSIM_DIR", dir_.c_str(), 1);
    }
    ~CamsimDir() {
        ::unsetenv("CAMSIM_DIR");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::string file(const std::string& name) const { return (root_ / name).string(); }
    std::string socket(const std::string& name) const { return (dir_ / (name + ".sock")).string(); }

  private:
    static inline int counter_ = 0;
    std::filesystem::path root_;
    std::filesystem::path dir_;
};

class CamsimProcess {
  public:
    // Starts camsim with the arguments and waits (up to 10 s) for its first
    // line on stdout; ready() tells whether it came.
    explicit CamsimProcess(const std::vector<std::string>& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> all = {CAMSIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, CAMSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
        if (pid_ > 0)
            ready_ = ReadLine(std::chrono::seconds(10));
    }
    ~CamsimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
    }

    bool ready() const { return ready_; }
    const std::string& first_line() const { return line_; }

    // Sends a signal and waits for the exit; the exit status (or 128 + the
    // signal that ended it).
    int SignalAndWait(int sig) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, sig);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    bool ReadLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char c;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            if (::read(out_, &c, 1) != 1)
                return false;
            if (c == '\n')
                return true;
            line_ += c;
        }
        return false;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    std::string line_;
};

// Runs camsim to completion; its exit status.
inline int RunCamsim(const std::vector<std::string>& args) {
    std::vector<std::string> all = {CAMSIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid, CAMSIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace sim::testing
