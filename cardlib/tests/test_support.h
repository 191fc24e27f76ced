// Test rig of the card library: a transfer log shared by a recording
// peripheral (or a scripted device handle) and a logging clock, so a test can
// check command blocks, page transfers and pauses in their order; fault
// injection per transfer; simulated cameras attached in process.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cardlib/card_layout.h"
#include "cardlib/geometry.h"
#include "cardlib/quorbit.h"
#include "picture/raw_photo.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/inprocess/inprocess_backend.h"
#include "platform/peripheral.h"
#include "platform/report.h"
#include "sim/camera.h"
#include "sim/geometry.h"
#include "testsupport/captured_reports.h"
#include "testsupport/temp_dir.h"

namespace quorbit::testing {

struct Event {
    enum class Kind { Out, In, Pause } kind;
    std::vector<uint8_t> data;  // Out: the bytes sent
    size_t size = 0;            // Out/In: bytes
    std::chrono::microseconds pause{0};

    bool IsCommand() const { return kind == Kind::Out && size == 16 && data[0] == 0x85; }
    uint8_t opcode() const { return IsCommand() ? data[1] : 0; }
};

class TransferLog {
  public:
    void Add(Event e) {
        if (enabled)
            events_.push_back(std::move(e));
    }
    // Large transfers (whole-card copies) can switch the log off.
    bool enabled = true;
    const std::vector<Event>& events() const { return events_; }
    void Clear() { events_.clear(); }
    std::vector<Event> Commands(uint8_t opcode = 0) const;
    size_t Count(Event::Kind kind) const;
    size_t CountCommands(uint8_t opcode) const { return Commands(opcode).size(); }
    std::chrono::microseconds TotalPause() const;
    // "C71 P1000 I512 ..." one token per event: C<opcode> command, O<n> data
    // out, I<n> data in, P<us> pause.
    std::string Trace() const;

  private:
    std::vector<Event> events_;
};

// Decides the outcome of a transfer before it reaches the device: None lets
// it through. seq counts the transfers of that kind (Out or In) from 0.
using FaultFn = std::function<platform::IoError(Event::Kind kind, size_t seq,
                                                std::span<const uint8_t> out_data)>;

class LoggingClock final : public platform::Clock {
  public:
    explicit LoggingClock(TransferLog* log) : log_(log) {}
    void Sleep(Duration d) override;
    std::chrono::steady_clock::time_point Now() override { return now_; }

  private:
    TransferLog* log_;
    std::chrono::steady_clock::time_point now_{};
};

// Wraps a peripheral (the simulated camera), logging every transfer.
class RecordingPeripheral final : public platform::Peripheral {
  public:
    RecordingPeripheral(std::shared_ptr<platform::Peripheral> inner, TransferLog* log)
        : inner_(std::move(inner)), log_(log) {}
    platform::IoResult HandleOut(platform::Endpoint endpoint,
                                 std::span<const uint8_t> data) override;
    platform::IoResult HandleIn(platform::Endpoint endpoint, std::span<uint8_t> buffer) override;
    platform::DeviceAttributes Attributes() const override { return inner_->Attributes(); }
    // Installs a fault plan; transfer numbering starts again from 0.
    void SetFault(FaultFn fault) {
        fault_ = std::move(fault);
        outs_ = ins_ = 0;
    }
    size_t outs() const { return outs_; }
    size_t ins() const { return ins_; }

  private:
    std::shared_ptr<platform::Peripheral> inner_;
    TransferLog* log_;
    FaultFn fault_;
    size_t outs_ = 0;
    size_t ins_ = 0;
};

// A device handle with no device behind it: reads return a fixed byte
// pattern (byte i of a read = fill), writes succeed; faults as above.
class ScriptedDevice final : public platform::DeviceHandle {
  public:
    explicit ScriptedDevice(TransferLog* log) : log_(log) {}
    platform::IoResult Write(std::span<const uint8_t> data) override;
    platform::IoResult Read(std::span<uint8_t> buffer) override;
    std::optional<platform::DeviceAttributes> Attributes() override { return std::nullopt; }
    void SetFault(FaultFn fault) {
        fault_ = std::move(fault);
        outs_ = ins_ = 0;
    }
    uint8_t fill = 0x5A;

  private:
    TransferLog* log_;
    FaultFn fault_;
    size_t outs_ = 0;
    size_t ins_ = 0;
};

// Fault helpers.
FaultFn FailNth(Event::Kind kind, size_t nth, platform::IoError error);
FaultFn FailRange(Event::Kind kind, size_t first, size_t count, platform::IoError error);

sim::Variant ToVariant(GeometryKind kind);

// A recognisable picture for photo i.
picture::Picture TestPicture(int seed);

// A simulated camera in process with its log and clock: "mem:cam".
class CameraRig {
  public:
    CameraRig();
    ~CameraRig();

    // Attaches a camera with a formatted card holding `photos` pictures.
    std::shared_ptr<sim::Camera> Attach(sim::Variant variant, int photos);
    // Attaches a camera in front of a given card image.
    std::shared_ptr<sim::Camera> AttachCard(sim::Variant variant,
                                            std::unique_ptr<sim::CardImage> card);
    // Unplugs the camera: open handles fail as gone from then on.
    void Detach();
    // Plugs the same camera (and its card) in again after Detach.
    void Replug();

    RecordingPeripheral& recorder() { return *recorder_; }
    sim::Camera& camera() { return *camera_; }
    TransferLog& log() { return log_; }
    const std::vector<testsupport::CapturedReports::Report>& reports() const {
        return reports_.reports();
    }
    void ClearReports() { reports_.clear(); }
    std::vector<uint8_t> CardBytes() const;

  private:
    platform::ScopedInProcessBackend backend_;
    TransferLog log_;
    LoggingClock clock_{&log_};
    platform::ScopedClock scoped_clock_{&clock_};
    testsupport::CapturedReports reports_;
    std::shared_ptr<sim::Camera> camera_;
    std::shared_ptr<RecordingPeripheral> recorder_;
    bool attached_ = false;
};

// A temporary folder removed with everything in it.
using TempDir = testsupport::TempDir;

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, std::span<const uint8_t> data);

// The bitmap file of TestPicture(seed), and the slot bytes (0x4C000) an
// upload of it must leave on the card: blue, 0, green, red per pixel.
std::vector<uint8_t> TestBitmap(int seed);
std::vector<uint8_t> UploadedSlot(int seed);
bool FileExists(const std::string& path);

}  // namespace quorbit::testing

namespace quorbit::testing {

// Counts the progress calls the library makes (plain functions, as a host
// registers them).
struct ProgressCounts {
    int begins = 0;
    int32_t announced = 0;  // argument of the last begin
    int steps = 0;
};
ProgressCounts& Progress();
void ResetProgress();
void CountingStep();
void CountingBegin(int32_t steps);

// A test that talks to the library's one session with the counting progress
// functions registered, and leaves the session closed behind it.
class CountingSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetProgress();
        SetProcessFunc(CountingStep, CountingBegin);
    }
    void TearDown() override {
        CloseDevice();
        SetProcessFunc(nullptr, nullptr);
    }
};

}  // namespace quorbit::testing
