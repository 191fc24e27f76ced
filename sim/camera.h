// The simulated camera: the firmware of one geometry variant in front of a
// card image. It is the device side of every bulk transfer (a
// platform::Peripheral), served over a socket by camsim or attached in
// process to the "mem:" backend:
//
//   auto card = sim::CardImage::Open(path, sim::GeometryOf(v).card_bytes, &error);
//   auto camera = std::make_shared<sim::Camera>(v, std::move(card));
//   backend.Attach("cam", camera);          // now "mem:cam" is a camera
//
// Protocol, as the firmware sees it:
// - An OUT transfer of exactly 16 bytes starting with 0x85 is a command
//   block; it is decoded strictly for the variant (known opcode, address where
//   the variant expects it, every other byte 0). A block that fails decoding
//   fails the transfer, is logged and leaves no command open.
// - 0x71 read: every later IN transfer of n bytes returns the next n bytes of
//   the card, until the next command.
// - 0x72 write: every later OUT data transfer is programmed at the next
//   position (new = old AND data), until 0x74 end of write (which must carry
//   the write's address) or the next command.
// - 0x73 erase: the whole erase block holding the address becomes 0xFF.
// - Data with no matching command open fails and is logged; the state is
//   unchanged. IN on the write pipe and OUT on the read pipe fail likewise.
// - Addresses wrap modulo the card size.
// Every acknowledged change is in the card file before the transfer returns.
// All members are safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/peripheral.h"
#include "sim/card_image.h"
#include "sim/geometry.h"

namespace sim {

inline constexpr uint16_t kDefaultVendorId = 0x5A17;
inline constexpr uint16_t kDefaultProductId = 0xC3E2;

// Receives one line (without newline) for every refused transfer.
using LogFn = std::function<void(std::string_view line)>;
// The default: "camsim: <line>" on stderr.
void LogToStderr(std::string_view line);

platform::DeviceAttributes DefaultAttributes();

class Camera final : public platform::Peripheral {
  public:
    Camera(Variant variant, std::unique_ptr<CardImage> card,
           platform::DeviceAttributes attributes = DefaultAttributes(), LogFn log = LogToStderr);

    platform::IoResult HandleOut(platform::Endpoint endpoint,
                                 std::span<const uint8_t> data) override;
    platform::IoResult HandleIn(platform::Endpoint endpoint, std::span<uint8_t> buffer) override;
    platform::DeviceAttributes Attributes() const override;

    const Geometry& geometry() const { return geometry_; }

    void SetAttributes(platform::DeviceAttributes attributes);
    void SetLog(LogFn log);

    // Reads card bytes directly (tests), under the camera's lock; wraps like
    // a read command. Empty on a file error.
    std::vector<uint8_t> Peek(uint64_t address, size_t length) const;
    // Writes card bytes directly (tests putting a card back as it was),
    // under the camera's lock; wraps like Peek. Not something the flash can
    // do: no command reaches the firmware. False on a file error.
    bool Poke(uint64_t address, std::span<const uint8_t> data);

    struct Stats {
        uint64_t commands = 0;          // accepted command blocks
        uint64_t refused = 0;           // failed transfers
        uint64_t bytes_read = 0;        // IN data
        uint64_t bytes_programmed = 0;  // OUT data
        uint64_t erases = 0;
    };
    Stats stats() const;

  private:
    enum class Mode { Idle, Reading, Writing };

    platform::IoResult Refuse(std::string line);
    platform::IoResult HandleCommand(std::span<const uint8_t> block);

    const Geometry& geometry_;
    mutable std::mutex mutex_;
    std::unique_ptr<CardImage> card_;
    platform::DeviceAttributes attributes_;
    LogFn log_;
    Mode mode_ = Mode::Idle;
    uint64_t position_ = 0;       // next byte of the open read or write
    uint64_t write_address_ = 0;  // the open write's command address
    Stats stats_;
};

}  // namespace sim
