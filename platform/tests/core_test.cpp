// The portable core: path parsing, scheme dispatch, pipe directions, the
// interface class, node numbers and hardware keys, reports and clocks.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>

#include "platform/clock.h"
#include "platform/device.h"
#include "platform/events.h"
#include "platform/guid.h"
#include "platform/inprocess/inprocess_backend.h"
#include "platform/report.h"
#include "platform/tests/fake_peripheral.h"
#include "testsupport/captured_reports.h"
#include "testsupport/recording_clock.h"

namespace platform {
namespace {

using testing::FakePeripheral;
using testsupport::CapturedReports;
using testsupport::RecordingClock;

TEST(Guid, FormatsTheCardInterfaceClass) {
    EXPECT_EQ(ToString(CardInterfaceGuid), "{6F3A2C91-4B7D-4E25-A1C8-93D04E7B2F56}");
    EXPECT_EQ(ToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(ParsePath, SplitsPipesFromTheDevicePath) {
    ParsedPath p = ParsePath("sim:kitchen/PIPE00");
    EXPECT_EQ(p.device_path, "sim:kitchen");
    EXPECT_EQ(p.endpoint, Endpoint::ReadPipe);
    p = ParsePath("sim:kitchen/PIPE01");
    EXPECT_EQ(p.device_path, "sim:kitchen");
    EXPECT_EQ(p.endpoint, Endpoint::WritePipe);
    p = ParsePath("sim:kitchen");
    EXPECT_EQ(p.device_path, "sim:kitchen");
    EXPECT_EQ(p.endpoint, Endpoint::Interface);
    // Only an exact suffix names a pipe.
    EXPECT_EQ(ParsePath("sim:kitchen/PIPE02").endpoint, Endpoint::Interface);
    EXPECT_EQ(ParsePath("sim:kitchen/pipe00").endpoint, Endpoint::Interface);
    EXPECT_EQ(ParsePath("sim:kitchenPIPE00").endpoint, Endpoint::Interface);
    p = ParsePath("/PIPE00");
    EXPECT_EQ(p.device_path, "");
    EXPECT_EQ(p.endpoint, Endpoint::ReadPipe);
}

class InProcess : public ::testing::Test {
  protected:
    ScopedInProcessBackend scoped;
    std::shared_ptr<FakePeripheral> camera = std::make_shared<FakePeripheral>();
};

TEST_F(InProcess, EnumeratesOnlyTheCardInterfaceClassSorted) {
    scoped.backend().Attach("b", camera);
    scoped.backend().Attach("a", std::make_shared<FakePeripheral>());
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), (std::vector<std::string>{"mem:a", "mem:b"}));
    Guid other = CardInterfaceGuid;
    other.data4[7] ^= 1;
    EXPECT_TRUE(EnumerateInterfaces(other).empty());
}

TEST_F(InProcess, UnknownSchemesAndNamesAreNotFound) {
    scoped.backend().Attach("cam", camera);
    for (const char* path : {"usb:cam", "cam", "", "mem:other", "mem:", "sim:cam/PIPE00"}) {
        OpenResult r = OpenPath(path);
        EXPECT_EQ(r.handle, nullptr) << path;
        EXPECT_EQ(r.error, OpenError::NotFound) << path;
        EXPECT_FALSE(r.message.empty()) << path;
    }
}

TEST_F(InProcess, InterfaceCarriesBothDirectionsToThePeripheral) {
    scoped.backend().Attach("cam", camera);
    OpenResult r = OpenPath("mem:cam");
    ASSERT_NE(r.handle, nullptr);
    const std::vector<uint8_t> command = {0x85, 0x71, 0, 0xE0, 0xFF, 0, 0, 0,
                                          0,    0,    0, 0,    0,    0, 0, 0};
    IoResult w = r.handle->Write(command);
    EXPECT_TRUE(w.ok());
    EXPECT_EQ(w.transferred, 16u);
    std::vector<uint8_t> page(512);
    IoResult rd = r.handle->Read(page);
    ASSERT_TRUE(rd.ok());
    EXPECT_EQ(rd.transferred, 512u);
    EXPECT_EQ(page[0], FakePeripheral::PatternByte(0, 0));
    EXPECT_EQ(page[511], FakePeripheral::PatternByte(0, 511));

    auto outs = camera->Outs();
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0].endpoint, Endpoint::Interface);
    EXPECT_EQ(outs[0].data, command);
    EXPECT_EQ(camera->InEndpoints(), std::vector<Endpoint>{Endpoint::Interface});

    auto a = r.handle->Attributes();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->vendor_id, 0x5A17);
    EXPECT_EQ(a->serial_number, "SN-0001");
    EXPECT_FALSE(r.handle->PhysicalDescriptor().has_value());
    EXPECT_FALSE(r.handle->FeatureReport().has_value());
}

TEST_F(InProcess, PipesRefuseTheWrongDirectionWithoutReachingTheCamera) {
    scoped.backend().Attach("cam", camera);
    OpenResult in = OpenPath("mem:cam/PIPE00");
    OpenResult out = OpenPath("mem:cam/PIPE01");
    ASSERT_NE(in.handle, nullptr);
    ASSERT_NE(out.handle, nullptr);
    std::vector<uint8_t> buf(16);
    EXPECT_EQ(in.handle->Write(buf).error, IoError::Failed);
    EXPECT_EQ(out.handle->Read(buf).error, IoError::Failed);
    EXPECT_TRUE(camera->Outs().empty());
    EXPECT_TRUE(camera->InEndpoints().empty());

    EXPECT_TRUE(out.handle->Write(buf).ok());
    EXPECT_TRUE(in.handle->Read(buf).ok());
    ASSERT_EQ(camera->Outs().size(), 1u);
    EXPECT_EQ(camera->Outs()[0].endpoint, Endpoint::WritePipe);
    EXPECT_EQ(camera->InEndpoints(), std::vector<Endpoint>{Endpoint::ReadPipe});
    EXPECT_TRUE(in.handle->Attributes().has_value());
}

TEST_F(InProcess, ErrorsOfThePeripheralReachTheCaller) {
    scoped.backend().Attach("cam", camera);
    auto h = OpenPath("mem:cam").handle;
    ASSERT_NE(h, nullptr);
    std::vector<uint8_t> buf(512);
    for (IoError e : {IoError::Aborted, IoError::DeviceGone, IoError::Failed}) {
        camera->FailNextIn(e);
        IoResult r = h->Read(buf);
        EXPECT_EQ(r.error, e) << ToString(e);
        EXPECT_EQ(r.transferred, 0u);
        camera->FailNextOut(e);
        EXPECT_EQ(h->Write(buf).error, e) << ToString(e);
    }
    // Claiming success for half a transfer is a failed transfer.
    camera->SetShortTransfers(true);
    EXPECT_EQ(h->Read(buf).error, IoError::Failed);
    EXPECT_EQ(h->Write(buf).error, IoError::Failed);
}

TEST_F(InProcess, DetachMakesOpenHandlesGoneEvenWhenTheNameReturns) {
    scoped.backend().Attach("cam", camera);
    auto h = OpenPath("mem:cam/PIPE00").handle;
    ASSERT_NE(h, nullptr);
    scoped.backend().Detach("cam");
    std::vector<uint8_t> buf(8);
    EXPECT_EQ(h->Read(buf).error, IoError::DeviceGone);
    EXPECT_FALSE(h->Attributes().has_value());
    EXPECT_EQ(OpenPath("mem:cam").error, OpenError::NotFound);

    scoped.backend().Attach("cam", std::make_shared<FakePeripheral>());
    EXPECT_EQ(h->Read(buf).error, IoError::DeviceGone);
    EXPECT_TRUE(OpenPath("mem:cam/PIPE00").handle->Read(buf).ok());
}

TEST_F(InProcess, AttachAndDetachRaiseEventsWithNodesAndKeys) {
    DeviceMonitor monitor;
    EXPECT_FALSE(monitor.WaitForEvents(0));
    DeviceAttributes other = FakePeripheral::DefaultAttributes();
    other.vendor_id = 0x00AB;
    other.product_id = 0x0c01;
    scoped.backend().Attach("evt-one", camera);
    scoped.backend().Attach("evt-two", std::make_shared<FakePeripheral>(other));
    ASSERT_TRUE(monitor.WaitForEvents(1000));
    std::vector<DeviceEvent> events = monitor.TakeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, DeviceEvent::Kind::Arrival);
    EXPECT_EQ(events[0].device_path, "mem:evt-one");
    EXPECT_EQ(events[1].device_path, "mem:evt-two");
    ASSERT_TRUE(events[0].attributes);
    ASSERT_TRUE(events[1].attributes);
    EXPECT_EQ(events[0].attributes->vendor_id, 0x5A17);
    EXPECT_EQ(events[0].attributes->product_id, 0xC3E2);
    EXPECT_EQ(events[1].attributes->vendor_id, 0x00AB);
    EXPECT_EQ(events[1].attributes->product_id, 0x0C01);
    // Drained: the descriptor is quiet again.
    EXPECT_FALSE(monitor.WaitForEvents(0));
    EXPECT_TRUE(monitor.TakeEvents().empty());

    scoped.backend().Detach("evt-one");
    scoped.backend().Detach("never-attached");
    ASSERT_TRUE(monitor.WaitForEvents(1000));
    events = monitor.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(events[0].device_path, "mem:evt-one");
    // The removal carries what the device said it was at its arrival.
    ASSERT_TRUE(events[0].attributes);
    EXPECT_EQ(events[0].attributes->product_id, 0xC3E2);
}

TEST(Reports, AreCapturedAndRestored) {
    {
        CapturedReports captured;
        ReportError("Orvanta", "read card error,work incomplete");
        {
            CapturedReports inner;
            ReportError("c", "t");
            ASSERT_EQ(inner.reports().size(), 1u);
        }
        ReportError("Orvanta", "second");
        ASSERT_EQ(captured.reports().size(), 2u);
        EXPECT_EQ(captured.reports()[0].caption, "Orvanta");
        EXPECT_EQ(captured.reports()[0].text, "read card error,work incomplete");
        EXPECT_EQ(captured.reports()[1].text, "second");
    }
    std::vector<std::string> seen;
    ErrorReporter previous = SetErrorReporter([&](std::string_view c, std::string_view t) {
        seen.push_back(std::string(c) + "|" + std::string(t));
    });
    EXPECT_FALSE(previous);
    ReportError("a", "b");
    SetErrorReporter({});
    EXPECT_EQ(seen, std::vector<std::string>{"a|b"});
}

TEST(Reports, GoToStderrAsOneLineByDefault) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(pipe_fds[1], STDERR_FILENO);
    ReportError("Orvanta", "write card error,\nwork incomplete");
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(pipe_fds[1]);
    char buffer[256];
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    ::close(pipe_fds[0]);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)),
              "Orvanta: write card error, work incomplete\n");
}

TEST(Clocks, RecordingClockRecordsAndAdvancesWithoutSleeping) {
    RecordingClock clock;
    {
        ScopedClock scoped(&clock);
        EXPECT_EQ(&CurrentClock(), &clock);
        const auto before = std::chrono::steady_clock::now();
        const auto t0 = CurrentClock().Now();
        Pause(std::chrono::milliseconds(10));
        Pause(std::chrono::milliseconds(1));
        CurrentClock().Sleep(std::chrono::seconds(30));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
        EXPECT_EQ(CurrentClock().Now() - t0, std::chrono::microseconds(30011000));
    }
    EXPECT_NE(&CurrentClock(), &clock);
    EXPECT_EQ(clock.Pauses(), (std::vector<Clock::Duration>{std::chrono::milliseconds(10),
                                                            std::chrono::milliseconds(1),
                                                            std::chrono::seconds(30)}));
    EXPECT_EQ(clock.Total(), std::chrono::microseconds(30011000));
    clock.Clear();
    EXPECT_TRUE(clock.Pauses().empty());
}

TEST(Clocks, SetClockReturnsThePreviousOne) {
    RecordingClock a, b;
    EXPECT_EQ(SetClock(&a), nullptr);
    EXPECT_EQ(SetClock(&b), &a);
    EXPECT_EQ(SetClock(nullptr), &b);
}

// Timing lower bounds only: a sleep may be late on a loaded machine, never early.
TEST(Clocks, SystemClockNeverSleepsLessThanAsked) {
    SystemClock clock;
    for (auto d : {std::chrono::microseconds(1), std::chrono::microseconds(250),
                   std::chrono::microseconds(1000), std::chrono::microseconds(1000),
                   std::chrono::microseconds(3000)}) {
        const auto t0 = std::chrono::steady_clock::now();
        clock.Sleep(d);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, d);
    }
    const auto t0 = clock.Now();
    clock.Sleep(std::chrono::microseconds(0));
    clock.Sleep(std::chrono::microseconds(-5));
    EXPECT_GE(clock.Now(), t0);
}

}  // namespace
TEST(Clocks, SystemClockPutsTheThreadsTimerSlackBack) {
    // The pause lowers the calling thread's timer slack while it sleeps;
    // the thread is the host's, and gets its own setting back.
    const int original = ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    ASSERT_EQ(::prctl(PR_SET_TIMERSLACK, 123456UL, 0UL, 0UL, 0UL), 0);
    platform::SystemClock clock;
    clock.Sleep(std::chrono::microseconds(100));
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 123456);
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(original), 0UL, 0UL, 0UL);
}

// Held around an exported call, a guard lowers the slack once; guards inside
// it (and the pauses) leave it low, and the outermost puts the host's back.
TEST(Clocks, TimerSlackGuardsNestAndTheOutermostPutsTheSettingBack) {
    const int original = ::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    ASSERT_EQ(::prctl(PR_SET_TIMERSLACK, 123456UL, 0UL, 0UL, 0UL), 0);
    {
        const LowTimerSlack call;
        EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 1);
        {
            const LowTimerSlack operation;
            SystemClock().Sleep(std::chrono::microseconds(50));
        }
        EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 1)
            << "an inner guard or a pause gave the setting back early";
    }
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL), 123456);
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(original), 0UL, 0UL, 0UL);
}

}  // namespace platform
