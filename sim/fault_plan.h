// Fault injection in front of a camera: a Peripheral that passes transfers on
// to another and makes chosen ones fail, as a flaky cable or a camera pulled
// out mid-transfer would.
//
//   sim::FaultSettings f;
//   f.fail_in = sim::FaultRule{3, false, platform::IoError::Aborted};  // 3rd IN
//   f.drop_after = 100;            // gone after 100 transfers
//   auto plan = std::make_shared<sim::FaultPlan>(camera, f, [&] { server.Unplug(); });
//
// IN and OUT transfers are counted separately from 1 for fail_in / fail_out;
// drop_after counts every transfer. A failed transfer never reaches the
// camera. Latency is spent through platform::CurrentClock(), so a test with a
// RecordingClock does not wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/peripheral.h"

namespace sim {

struct FaultRule {
    uint64_t k = 1;          // the k-th transfer of its direction, from 1
    bool from_k_on = false;  // every transfer from the k-th on
    platform::IoError error = platform::IoError::Failed;

    bool Matches(uint64_t n) const { return from_k_on ? n >= k : n == k; }
};

// "K", "K+", "K:aborted", "K+:gone", "K:failed"; K >= 1.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string* error);

struct FaultSettings {
    std::optional<FaultRule> fail_in;
    std::optional<FaultRule> fail_out;
    // After this many transfers the camera leaves the bus: on_unplug runs
    // once and every later transfer fails with DeviceGone. 0 = at once.
    std::optional<uint64_t> drop_after;
    std::chrono::microseconds latency{0};

    bool any() const { return fail_in || fail_out || drop_after || latency.count() > 0; }
};

class FaultPlan final : public platform::Peripheral {
  public:
    FaultPlan(std::shared_ptr<platform::Peripheral> device, FaultSettings settings,
              std::function<void()> on_unplug = {});

    platform::IoResult HandleOut(platform::Endpoint endpoint,
                                 std::span<const uint8_t> data) override;
    platform::IoResult HandleIn(platform::Endpoint endpoint, std::span<uint8_t> buffer) override;
    platform::DeviceAttributes Attributes() const override { return device_->Attributes(); }

    bool unplugged() const;
    uint64_t transfers() const;

  private:
    enum class Verdict { Pass, Fail, Gone };
    // Counts the transfer and decides its fate; fills *error on Fail.
    Verdict Admit(bool in, platform::IoError* error, bool* unplug_now);
    // Called after a transfer that passed; true when it was the last one.
    bool AfterTransfer();
    void Unplug();

    std::shared_ptr<platform::Peripheral> device_;
    const FaultSettings settings_;
    std::function<void()> on_unplug_;
    mutable std::mutex mutex_;
    uint64_t ins_ = 0;
    uint64_t outs_ = 0;
    uint64_t transfers_ = 0;
    bool gone_ = false;
    bool unplug_called_ = false;
};

}  // namespace sim
