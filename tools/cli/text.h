// Small pieces of text handling of the host program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

// Fills the library's status template (text 2: "%d is used up %d is
// available") with the two numbers. Only "%d" and "%%" are expanded; any
// other '%' is kept as it is, so a template from the library can never make
// us read arguments that are not there.
std::string FillStatusTemplate(std::string_view templ, long photos, long free_slots);

// A positive decimal number without sign, spaces or trailing characters that
// fits an int; nothing otherwise.
std::optional<int> ParsePositive(std::string_view text);

// The card sizes a format can create, in MB.
bool IsCardSize(int megabytes);

}  // namespace cli
