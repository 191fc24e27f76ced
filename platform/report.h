// Error reports in place of a modal message box: by default one line on
// stderr ("caption: text"); a host or a test can take them instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using ErrorReporter = std::function<void(std::string_view caption, std::string_view text)>;

void ReportError(std::string_view caption, std::string_view text);

// Installs a reporter, or restores the default with an empty function.
// Returns the previous reporter (empty when it was the default).
ErrorReporter SetErrorReporter(ErrorReporter reporter);

// Collects reports for the lifetime of the object (tests).
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
    ErrorReporter previous_;
};

}  // namespace platform
