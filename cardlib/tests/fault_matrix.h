// Rig of the fault matrix: an operation of the library runs against the
// in-process camera with a fault at one of its transfers (once, or from then
// on), and afterwards the card is read directly from the camera, not through
// the library, and put back as it was for the next case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "cardlib/session.h"
#include "cardlib/tests/test_support.h"
#include "sim/geometry.h"

namespace quorbit::testing {

enum class FaultKind {
    Aborted,  // the transfer was cut short
    Gone,     // the device cannot serve the handle
    Failed,   // any other error
    Unplug,   // the camera leaves the bus: this and every later transfer fail as gone
    BadPage,  // the page this data transfer carries fails each time it is sent;
              // everything else goes through (a page the card cannot take)
};

struct Fault {
    FaultKind kind = FaultKind::Failed;
    bool from_then_on = false;  // every transfer from `at` on (an unplug always is)
    size_t at = 0;              // transfer number from 0, both directions counted
};

// The faults put at one transfer: three kinds once and from then on, an
// unplug, and for a transfer of page data a bad page.
std::vector<Fault> FaultsAt(size_t at, bool page_data);
// Whether the camera still answers the library after the fault: only then
// can the library read back what a failed write left on the card.
bool StillAnswers(const Fault& fault);
// "failed once at 12", "aborted from 7 on", "unplug at 3".
std::string Describe(const Fault& fault);

// What a system block lists: whether it is recognised (magic and the
// geometry's capacity), and the slot of each directory entry in use.
struct Listing {
    bool recognised = false;
    std::vector<uint16_t> slots;
    bool operator==(const Listing&) const = default;
};
std::string Describe(const Listing& listing);

// The card's system block as the library reads it: the bytes the session
// keeps, from where the library reads them (wrapping like a read command).
std::vector<uint8_t> CardSystemBlock(const sim::Camera& camera);
Listing DecodeListing(std::span<const uint8_t> block, const sim::Geometry& geometry);
Listing CardListing(const sim::Camera& camera);
// What the session's copy lists through its geometry; unrecognised without one.
Listing SessionListing(const CardSession& session);

// Stands between the library and the camera: numbers every transfer, makes
// the armed fault happen, and follows the firmware's erase and write position
// so that every erase block is saved before its first change and can be put
// back.
class TransferGate {
  public:
    explicit TransferGate(CameraRig& rig);
    ~TransferGate();
    TransferGate(const TransferGate&) = delete;
    TransferGate& operator=(const TransferGate&) = delete;

    // Numbering starts again from 0; no fault with nullopt.
    void Arm(std::optional<Fault> fault);
    size_t transfers() const { return count_; }
    // While on, keeps what each transfer was: "C72" a command with its
    // opcode, "O512" data out, "I512" data in.
    void Record(bool on);
    const std::vector<std::string>& labels() const { return labels_; }
    bool unplugged() const { return unplugged_; }

    // Whether a byte in [address, address + length) may have changed since
    // the last Restore.
    bool Touched(uint64_t address, uint64_t length) const;
    bool changed() const { return !dirty_.empty(); }
    // Puts back every erase block changed since the last Restore and plugs
    // the camera in again when a fault unplugged it.
    void Restore();

  private:
    platform::IoError Admit(Event::Kind kind, std::span<const uint8_t> out);
    // Mirrors the firmware's state for a transfer that reaches the camera.
    void Follow(std::span<const uint8_t> out);
    void Mark(uint64_t address, uint64_t length);

    CameraRig& rig_;
    const sim::Geometry& geometry_;
    std::optional<Fault> fault_;
    size_t count_ = 0;
    bool recording_ = false;
    std::vector<std::string> labels_;
    bool unplugged_ = false;
    std::optional<uint64_t> bad_page_;  // where a BadPage fault hit
    bool writing_ = false;
    uint64_t position_ = 0;
    std::map<uint64_t, std::vector<uint8_t>> pristine_;  // erase blocks by start
    std::set<uint64_t> dirty_;
    static constexpr uint64_t kNoBlock = ~uint64_t{0};
    uint64_t last_marked_ = kNoBlock;  // already in dirty_
};

}  // namespace quorbit::testing
