// The error reports of platform::ReportError, collected instead of printed
// for the lifetime of the object.
#pragma once

#include <string>
#include <vector>

#include "platform/report.h"

namespace testsupport {

class CapturedReports {
  public:
    struct Report {
        std::string caption;
        std::string text;
    };
    CapturedReports();
    ~CapturedReports();
    CapturedReports(const CapturedReports&) = delete;
    CapturedReports& operator=(const CapturedReports&) = delete;
    const std::vector<Report>& reports() const { return reports_; }
    void clear() { reports_.clear(); }

  private:
    std::vector<Report> reports_;
    platform::ErrorReporter previous_;
};

}  // namespace testsupport
