// Command line of camsim, parsed without side effects so it can be tested.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/device.h"
#include "sim/fault_plan.h"
#include "sim/geometry.h"

namespace sim {

struct ServeOptions {
    std::string card;
    Variant variant = Variant::k8MbLe;
    std::string name = "camera";
    platform::DeviceAttributes attributes;
    FaultSettings faults;
};

struct MakeCardOptions {
    std::string card;
    Variant variant = Variant::k8MbLe;
    bool blank = false;
    std::vector<std::string> photos;
};

struct CamsimCommand {
    enum class Kind { Help, Serve, MakeCard } kind = Kind::Help;
    ServeOptions serve;
    MakeCardOptions make_card;
};

// argv without the program name. Empty with a sentence in *error when the
// line is not valid.
std::optional<CamsimCommand> ParseCamsimArgs(const std::vector<std::string>& args,
                                             std::string* error);

std::string CamsimUsage();

// A camera name is a socket file name: letters, digits, '-', '_' and '.',
// not starting with '.', at most 64 characters.
bool ValidCameraName(const std::string& name);

}  // namespace sim
