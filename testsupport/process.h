// Runs a program to its end.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Runs argv[0] (looked up on PATH) with the rest as its arguments; its exit
// status, or -1 when it could not run or did not exit normally.
int RunProcess(const std::vector<std::string>& argv);

}  // namespace testsupport
