#include "testsupport/captured_reports.h"

#include <mutex>
#include <string_view>

namespace testsupport {

CapturedReports::CapturedReports() {
    previous_ = platform::SetErrorReporter([this](std::string_view caption, std::string_view text) {
        static std::mutex append_mutex;
        std::lock_guard lock(append_mutex);
        reports_.push_back(Report{std::string(caption), std::string(text)});
    });
}

CapturedReports::~CapturedReports() {
    platform::SetErrorReporter(std::move(previous_));
}

}  // namespace testsupport
