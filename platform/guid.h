// Device interface classes. The camera's driver presents the camera as a
// member of one interface class; both the card library and the desktop
// program look it up by this value.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

// {6F3A2C91-4B7D-4E25-A1C8-93D04E7B2F56}
inline constexpr Guid CardInterfaceGuid{
    0x6F3A2C91, 0x4B7D, 0x4E25, {0xA1, 0xC8, 0x93, 0xD0, 0x4E, 0x7B, 0x2F, 0x56}};

// "{6F3A2C91-4B7D-4E25-A1C8-93D04E7B2F56}"
std::string ToString(const Guid& guid);

}  // namespace platform
