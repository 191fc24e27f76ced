// Starting the programs under test (quorbit-cli, camsim, scripts) from a
// test, with a bounded run time and their output captured.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testproc {

struct Result {
    int status = -1;  // exit status, or 128 + signal number
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up on PATH when it has no slash) to its end or until
// timeout_s has passed (then it is killed). env: "NAME=value" sets, "-NAME"
// removes a variable for the child only. cwd: "" keeps ours.
Result Run(const std::vector<std::string>& argv, double timeout_s,
           const std::vector<std::string>& env = {}, const std::string& cwd = "");

// A program running in the background, its output appended to a log file.
class Background {
  public:
    Background() = default;
    ~Background() { Stop(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    bool Start(const std::vector<std::string>& argv, const std::string& log_path);
    bool Running();
    // SIGTERM, then SIGKILL if it has not ended within a few seconds.
    // Returns the exit status as in Result.
    int Stop();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Polls until the path exists, or timeout_s has passed.
bool WaitForPath(const std::string& path, double timeout_s);

}  // namespace testproc
