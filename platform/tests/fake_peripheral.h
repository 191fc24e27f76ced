// A small camera stand-in for the device-layer tests: it records OUT
// transfers, answers IN transfers with a pattern that tells transfers apart,
// and fails the next transfer on request.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "platform/peripheral.h"

namespace platform::testing {

class FakePeripheral : public Peripheral {
  public:
    struct Out {
        Endpoint endpoint;
        std::vector<uint8_t> data;
    };

    explicit FakePeripheral(DeviceAttributes attributes = DefaultAttributes())
        : attributes_(std::move(attributes)) {}

    static DeviceAttributes DefaultAttributes() {
        DeviceAttributes a;
        a.vendor_id = 0x5A17;
        a.product_id = 0xC3E2;
        a.version = 0x0100;
        a.manufacturer = "Test maker";
        a.product = "Test camera";
        a.serial_number = "SN-0001";
        return a;
    }

    // Byte i of the n-th IN transfer (counting from 0).
    static uint8_t PatternByte(uint32_t n, size_t i) { return static_cast<uint8_t>(n * 7 + i); }

    IoResult HandleOut(Endpoint endpoint, std::span<const uint8_t> data) override {
        std::lock_guard lock(mutex_);
        if (fail_next_out_ != IoError::None) {
            IoError e = fail_next_out_;
            fail_next_out_ = IoError::None;
            return IoResult::Failure(e);
        }
        outs_.push_back({endpoint, std::vector<uint8_t>(data.begin(), data.end())});
        return IoResult::Success(short_transfers_ ? data.size() / 2 : data.size());
    }

    IoResult HandleIn(Endpoint endpoint, std::span<uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        in_endpoints_.push_back(endpoint);
        if (fail_next_in_ != IoError::None) {
            IoError e = fail_next_in_;
            fail_next_in_ = IoError::None;
            return IoResult::Failure(e);
        }
        for (size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = PatternByte(ins_, i);
        ++ins_;
        return IoResult::Success(short_transfers_ ? buffer.size() / 2 : buffer.size());
    }

    DeviceAttributes Attributes() const override {
        std::lock_guard lock(mutex_);
        return attributes_;
    }

    void FailNextOut(IoError e) {
        std::lock_guard lock(mutex_);
        fail_next_out_ = e;
    }
    void FailNextIn(IoError e) {
        std::lock_guard lock(mutex_);
        fail_next_in_ = e;
    }
    // Claims success but moves only half of every transfer.
    void SetShortTransfers(bool on) {
        std::lock_guard lock(mutex_);
        short_transfers_ = on;
    }
    std::vector<Out> Outs() const {
        std::lock_guard lock(mutex_);
        return outs_;
    }
    std::vector<Endpoint> InEndpoints() const {
        std::lock_guard lock(mutex_);
        return in_endpoints_;
    }

  private:
    mutable std::mutex mutex_;
    DeviceAttributes attributes_;
    std::vector<Out> outs_;
    std::vector<Endpoint> in_endpoints_;
    uint32_t ins_ = 0;
    IoError fail_next_out_ = IoError::None;
    IoError fail_next_in_ = IoError::None;
    bool short_transfers_ = false;
};

}  // namespace platform::testing
