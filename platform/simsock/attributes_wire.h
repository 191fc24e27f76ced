// The payload of a kOpAttributes reply (see wire.h).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/device.h"

namespace platform::simwire {

// Strings longer than 65535 bytes are cut to fit their length field.
std::vector<uint8_t> EncodeAttributes(const DeviceAttributes& attributes);
// nullopt unless the payload is exactly one well-formed record.
std::optional<DeviceAttributes> DecodeAttributes(std::span<const uint8_t> payload);

}  // namespace platform::simwire
