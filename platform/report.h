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

}  // namespace platform
