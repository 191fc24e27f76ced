// The "sim:" backend against a Server serving a FakePeripheral in a thread,
// each case in its own camera directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/backend.h"
#include "platform/device.h"
#include "platform/events.h"
#include "platform/inprocess/inprocess_backend.h"
#include "platform/simsock/server.h"
#include "platform/simsock/sim_backend.h"
#include "platform/simsock/socket_util.h"
#include "platform/simsock/wire.h"
#include "platform/tests/fake_peripheral.h"
#include "testsupport/captured_reports.h"

namespace platform {
namespace {

using simsock::Server;
using testing::FakePeripheral;
namespace wire = simwire;

class RunningServer {
  public:
    RunningServer(std::string name, std::shared_ptr<Peripheral> device)
        : server(std::move(name), std::move(device)) {}
    ~RunningServer() { Stop(); }

    bool Start() {
        std::string error;
        if (!server.Start(&error)) {
            ADD_FAILURE() << error;
            return false;
        }
        thread_ = std::thread([this] { server.Run(); });
        return true;
    }
    void Stop() {
        server.Stop();
        if (thread_.joinable())
            thread_.join();
    }

    Server server;

  private:
    std::thread thread_;
};

class SimSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[] = "/tmp/platsock-XXXXXX";
        ASSERT_NE(::mkdtemp(base), nullptr);
        base_ = base;
        dir_ = base_ + "/cams";  // made by whoever needs it first
        ASSERT_EQ(::setenv("CAMSIM_DIR", dir_.c_str(), 1), 0);
        SetBackends({&SimBackend()});
    }
    void TearDown() override {
        SetBackends({});
        ::unsetenv("CAMSIM_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }

    // Collects events until one of the kind for the path arrives or 200 ms pass.
    static std::optional<DeviceEvent> AwaitEvent(DeviceMonitor& monitor, DeviceEvent::Kind kind,
                                                 const std::string& path) {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + milliseconds(200);
        for (;;) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            if (left < 0)
                return std::nullopt;
            monitor.WaitForEvents(static_cast<int>(left));
            for (const DeviceEvent& e : monitor.TakeEvents()) {
                if (e.kind == kind && e.device_path == path)
                    return e;
            }
        }
    }

    // A raw connection to a camera socket, for what the backend would never send.
    int RawConnect(const std::string& name) {
        int fd = wire::ConnectSeqpacket(dir_ + "/" + name + ".sock");
        EXPECT_GE(fd, 0);
        return fd;
    }
    static std::vector<uint8_t> Exchange(int fd, const std::vector<uint8_t>& request) {
        EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
        std::vector<uint8_t> reply(wire::kHeaderSize + wire::kMaxTransfer);
        ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
        reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return reply;
    }
    static std::vector<uint8_t> Request(uint8_t op, uint8_t endpoint, uint32_t length,
                                        size_t data_bytes = 0, uint16_t reserved = 0) {
        std::vector<uint8_t> r(wire::kHeaderSize + data_bytes, 0x85);
        wire::EncodeRequest({op, endpoint, reserved, length}, r.data());
        return r;
    }

    // A stale socket: bound and listening once, then closed without unlinking,
    // as a server killed with SIGKILL leaves it.
    void MakeStaleSocket(const std::string& name) {
        ASSERT_TRUE(wire::EnsurePrivateDirectory(dir_, nullptr));
        sockaddr_un address;
        socklen_t length;
        ASSERT_TRUE(wire::MakeAddress(dir_ + "/" + name + ".sock", &address, &length));
        int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        ::close(fd);
    }

    std::string base_;
    std::string dir_;
    std::shared_ptr<FakePeripheral> camera = std::make_shared<FakePeripheral>();
};

TEST_F(SimSocket, RoundTripsOnTheInterfaceAndBothPipes) {
    RunningServer running("kitchen", camera);
    ASSERT_TRUE(running.Start());
    EXPECT_EQ(running.server.socket_path(), dir_ + "/kitchen.sock");
    struct stat st {};
    ASSERT_EQ(::stat(dir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:kitchen"});

    auto device = OpenPath("sim:kitchen").handle;
    auto in = OpenPath("sim:kitchen/PIPE00").handle;
    auto out = OpenPath("sim:kitchen/PIPE01").handle;
    ASSERT_TRUE(device && in && out);

    std::vector<uint8_t> command(16, 0);
    command[0] = 0x85;
    command[1] = 0x71;
    EXPECT_TRUE(out->Write(command).ok());
    std::vector<uint8_t> page(1536);
    IoResult r = in->Read(page);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.transferred, 1536u);
    EXPECT_EQ(page[1535], FakePeripheral::PatternByte(0, 1535));

    std::vector<uint8_t> big(wire::kMaxTransfer);
    ASSERT_TRUE(device->Read(big).ok());
    EXPECT_EQ(big.back(), FakePeripheral::PatternByte(1, big.size() - 1));
    std::vector<uint8_t> data(wire::kMaxTransfer, 0x5A);
    EXPECT_TRUE(device->Write(data).ok());
    std::vector<uint8_t> empty;
    EXPECT_TRUE(device->Read(empty).ok());

    auto outs = camera->Outs();
    ASSERT_EQ(outs.size(), 2u);
    EXPECT_EQ(outs[0].endpoint, Endpoint::WritePipe);
    EXPECT_EQ(outs[0].data, command);
    EXPECT_EQ(outs[1].endpoint, Endpoint::Interface);
    EXPECT_EQ(outs[1].data, data);
    EXPECT_EQ(camera->InEndpoints(), (std::vector<Endpoint>{Endpoint::ReadPipe, Endpoint::Interface,
                                                            Endpoint::Interface}));

    auto a = in->Attributes();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->vendor_id, 0x5A17);
    EXPECT_EQ(a->product_id, 0xC3E2);
    EXPECT_EQ(a->version, 0x0100);
    EXPECT_EQ(a->manufacturer, "Test maker");
    EXPECT_EQ(a->product, "Test camera");
    EXPECT_EQ(a->serial_number, "SN-0001");
}

TEST_F(SimSocket, OversizedAndWrongDirectionTransfersFailWithoutReachingTheCamera) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    auto device = OpenPath("sim:cam").handle;
    auto in = OpenPath("sim:cam/PIPE00").handle;
    ASSERT_TRUE(device && in);
    std::vector<uint8_t> too_big(wire::kMaxTransfer + 1);
    EXPECT_EQ(device->Read(too_big).error, IoError::Failed);
    EXPECT_EQ(device->Write(too_big).error, IoError::Failed);
    EXPECT_EQ(in->Write(std::vector<uint8_t>(16)).error, IoError::Failed);
    EXPECT_TRUE(camera->Outs().empty());
    EXPECT_TRUE(camera->InEndpoints().empty());
    // The connection is still in step.
    std::vector<uint8_t> page(512);
    EXPECT_TRUE(device->Read(page).ok());
}

TEST_F(SimSocket, CameraErrorsMapToTheirKinds) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    auto h = OpenPath("sim:cam").handle;
    ASSERT_TRUE(h);
    std::vector<uint8_t> buf(512);
    for (IoError e : {IoError::Aborted, IoError::DeviceGone, IoError::Failed}) {
        camera->FailNextIn(e);
        EXPECT_EQ(h->Read(buf).error, e) << ToString(e);
        camera->FailNextOut(e);
        EXPECT_EQ(h->Write(buf).error, e) << ToString(e);
    }
    camera->SetShortTransfers(true);
    EXPECT_EQ(h->Read(buf).error, IoError::Failed);
    EXPECT_EQ(h->Write(buf).error, IoError::Failed);
    camera->SetShortTransfers(false);
    EXPECT_TRUE(h->Read(buf).ok());
}

TEST_F(SimSocket, ArrivalAndRemovalReachTheMonitorWithTheAttributes) {
    DeviceMonitor monitor;  // creates the directory and watches it
    DeviceAttributes other = FakePeripheral::DefaultAttributes();
    other.vendor_id = 0x1234;
    other.product_id = 0x00ef;
    RunningServer running("porch", std::make_shared<FakePeripheral>(other));
    ASSERT_TRUE(running.Start());

    auto arrival = AwaitEvent(monitor, DeviceEvent::Kind::Arrival, "sim:porch");
    ASSERT_TRUE(arrival.has_value());
    ASSERT_TRUE(arrival->attributes);
    EXPECT_EQ(arrival->attributes->vendor_id, 0x1234);
    EXPECT_EQ(arrival->attributes->product_id, 0x00EF);

    running.Stop();
    auto removal = AwaitEvent(monitor, DeviceEvent::Kind::Removal, "sim:porch");
    ASSERT_TRUE(removal.has_value());
    EXPECT_EQ(removal->device_path, arrival->device_path);
    ASSERT_TRUE(removal->attributes);
    EXPECT_EQ(removal->attributes->vendor_id, 0x1234);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/porch.sock"));
    EXPECT_TRUE(EnumerateInterfaces(CardInterfaceGuid).empty());
}

TEST_F(SimSocket, UnplugRemovesTheSocketButServesOpenHandles) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    DeviceMonitor monitor;
    auto h = OpenPath("sim:cam").handle;
    ASSERT_TRUE(h);
    running.server.Unplug();
    ASSERT_TRUE(AwaitEvent(monitor, DeviceEvent::Kind::Removal, "sim:cam").has_value());
    EXPECT_TRUE(EnumerateInterfaces(CardInterfaceGuid).empty());
    EXPECT_EQ(OpenPath("sim:cam").error, OpenError::NotFound);
    std::vector<uint8_t> page(512);
    EXPECT_TRUE(h->Read(page).ok());
}

TEST_F(SimSocket, StaleSocketsAreNeitherListedNorAnnounced) {
    MakeStaleSocket("dead");
    ASSERT_TRUE(std::filesystem::exists(dir_ + "/dead.sock"));
    RunningServer running("live", camera);
    ASSERT_TRUE(running.Start());
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:live"});
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/dead.sock"));

    DeviceMonitor monitor;
    MakeStaleSocket("ghost");
    // The directory event comes, but nothing answers behind the name.
    ASSERT_TRUE(monitor.WaitForEvents(1000));
    EXPECT_TRUE(monitor.TakeEvents().empty());
    EXPECT_EQ(OpenPath("sim:ghost").error, OpenError::NotFound);
    // Hidden names and non-sockets are no cameras.
    std::filesystem::create_directories(dir_);
    {
        std::FILE* f = std::fopen((dir_ + "/plain.sock").c_str(), "w");
        ASSERT_TRUE(f);
        std::fclose(f);
    }
    MakeStaleSocket(".hidden");
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:live"});
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/plain.sock"));
}

TEST_F(SimSocket, StartReplacesAStaleSocketButNotALiveServer) {
    MakeStaleSocket("cam");
    RunningServer first("cam", camera);
    ASSERT_TRUE(first.Start());
    Server second("cam", std::make_shared<FakePeripheral>());
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("already"), std::string::npos) << error;
    // The refused server leaves the live one's socket alone.
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:cam"});
    EXPECT_FALSE(Server(".hidden", camera).Start(&error));
    EXPECT_FALSE(Server("a/b", camera).Start(&error));
}

TEST_F(SimSocket, AnOpenDirectoryIsNarrowedToItsOwner) {
    ASSERT_EQ(::mkdir(dir_.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    struct stat st {};
    ASSERT_EQ(::stat(dir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SimSocket, MalformedMessagesFailAndTheServerStaysUp) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    int fd = RawConnect("cam");
    ASSERT_GE(fd, 0);
    const std::vector<std::vector<uint8_t>> bad = {
        {0x01, 0x00, 0x00},                                       // shorter than a header
        Request(9, wire::kEndpointInterface, 0),                  // unknown operation
        Request(wire::kOpOut, 7, 16, 16),                         // unknown endpoint
        Request(wire::kOpOut, wire::kEndpointInterface, 20, 16),  // length disagrees with data
        Request(wire::kOpOut, wire::kEndpointReadPipe, 16, 16),   // OUT on the read pipe
        Request(wire::kOpIn, wire::kEndpointWritePipe, 16),       // IN on the write pipe
        Request(wire::kOpIn, wire::kEndpointInterface, 16, 4),    // IN carrying data
        Request(wire::kOpIn, wire::kEndpointInterface, wire::kMaxTransfer + 1),
        Request(wire::kOpIn, wire::kEndpointInterface, 16, 0, 1),  // reserved bytes set
        Request(wire::kOpAttributes, wire::kEndpointInterface, 4),
        // Longer than the server's buffer: it arrives cut (MSG_TRUNC).
        Request(wire::kOpOut, wire::kEndpointInterface, wire::kMaxTransfer + 64,
                wire::kMaxTransfer + 64),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        std::vector<uint8_t> reply = Exchange(fd, bad[i]);
        ASSERT_EQ(reply.size(), wire::kHeaderSize) << "case " << i;
        EXPECT_EQ(reply[0], wire::kStatusFailed) << "case " << i;
        EXPECT_EQ(wire::GetU32(reply.data() + 4), 0u) << "case " << i;
    }
    EXPECT_TRUE(camera->Outs().empty());
    EXPECT_TRUE(camera->InEndpoints().empty());

    // The same connection and new ones still work.
    std::vector<uint8_t> reply = Exchange(fd, Request(wire::kOpIn, wire::kEndpointReadPipe, 512));
    ASSERT_EQ(reply.size(), wire::kHeaderSize + 512);
    EXPECT_EQ(reply[0], wire::kStatusOk);
    EXPECT_EQ(reply[8], FakePeripheral::PatternByte(0, 0));
    ::close(fd);
    std::vector<uint8_t> page(512);
    EXPECT_TRUE(OpenPath("sim:cam").handle->Read(page).ok());
}

TEST_F(SimSocket, HandlesSeeTheDeviceGoneWhenTheServerStops) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    auto in = OpenPath("sim:cam/PIPE00").handle;
    auto out = OpenPath("sim:cam/PIPE01").handle;
    ASSERT_TRUE(in && out);
    std::vector<uint8_t> page(512);
    ASSERT_TRUE(in->Read(page).ok());
    running.Stop();
    EXPECT_EQ(in->Read(page).error, IoError::DeviceGone);
    EXPECT_EQ(out->Write(page).error, IoError::DeviceGone);
    EXPECT_EQ(out->Write(page).error, IoError::DeviceGone);
    EXPECT_FALSE(in->Attributes().has_value());
    EXPECT_EQ(OpenPath("sim:cam").error, OpenError::NotFound);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/cam.sock"));
}

TEST_F(SimSocket, ServesManyConnectionsAtOnce) {
    RunningServer running("busy", camera);
    ASSERT_TRUE(running.Start());
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&failures, t] {
            auto out = OpenPath("sim:busy/PIPE01").handle;
            auto in = OpenPath("sim:busy/PIPE00").handle;
            if (!out || !in) {
                ++failures;
                return;
            }
            std::vector<uint8_t> command(16, static_cast<uint8_t>(t));
            std::vector<uint8_t> page(512);
            for (int i = 0; i < 300; ++i) {
                if (!out->Write(command).ok() || !in->Read(page).ok())
                    ++failures;
            }
        });
    }
    for (auto& c : clients)
        c.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(camera->Outs().size(), 1200u);
    EXPECT_EQ(camera->InEndpoints().size(), 1200u);
}

TEST_F(SimSocket, StopBeforeRunEndsAtOnceAndRemovesTheSocket) {
    Server server("early", camera);
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:early"});
    server.Stop();
    server.Run();
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/early.sock"));
}

TEST_F(SimSocket, OneMonitorWatchesEveryBackendInTableOrder) {
    InProcessBackend memory;
    SetBackends({&memory, &SimBackend()});
    DeviceMonitor monitor;
    RunningServer running("both", camera);
    ASSERT_TRUE(running.Start());
    memory.Attach("both", std::make_shared<FakePeripheral>());
    ASSERT_TRUE(AwaitEvent(monitor, DeviceEvent::Kind::Arrival, "sim:both").has_value());
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid),
              (std::vector<std::string>{"mem:both", "sim:both"}));
    EXPECT_TRUE(OpenPath("mem:both").handle != nullptr);
    EXPECT_TRUE(OpenPath("sim:both").handle != nullptr);
    memory.Detach("both");
    ASSERT_TRUE(AwaitEvent(monitor, DeviceEvent::Kind::Removal, "mem:both").has_value());
    SetBackends({&SimBackend()});
}

// A scripted camera that answers every request with the next prepared reply,
// for replies a correct server never sends.
class ScriptedServer {
  public:
    ScriptedServer(const std::string& path, std::vector<std::vector<uint8_t>> replies)
        : replies_(std::move(replies)) {
        sockaddr_un address;
        socklen_t length;
        EXPECT_TRUE(wire::MakeAddress(path, &address, &length));
        listen_fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        EXPECT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(listen_fd_, 4), 0);
        thread_ = std::thread([this] {
            int c = ::accept(listen_fd_, nullptr, nullptr);
            std::vector<uint8_t> buf(wire::kHeaderSize + wire::kMaxTransfer);
            for (const auto& reply : replies_) {
                if (::recv(c, buf.data(), buf.size(), 0) <= 0)
                    break;
                ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            ::close(c);
        });
    }
    ~ScriptedServer() {
        thread_.join();
        ::close(listen_fd_);
    }

  private:
    std::vector<std::vector<uint8_t>> replies_;
    int listen_fd_ = -1;
    std::thread thread_;
};

std::vector<uint8_t> Reply(uint8_t status, uint32_t length, size_t payload) {
    std::vector<uint8_t> r(wire::kHeaderSize + payload, 0xAB);
    wire::EncodeReply({status, {0, 0, 0}, length}, r.data());
    return r;
}

TEST_F(SimSocket, MalformedRepliesFailTheTransfer) {
    ASSERT_TRUE(wire::EnsurePrivateDirectory(dir_, nullptr));
    ScriptedServer scripted(
        dir_ + "/odd.sock",
        {
            Reply(wire::kStatusOk, 0, 0),      // IN reply without data
            Reply(wire::kStatusOk, 600, 512),  // length field disagrees
            {0, 0, 0},                         // shorter than a header
            // Longer than the client's buffer: cut on arrival.
            Reply(wire::kStatusOk, wire::kMaxTransfer + 8, wire::kMaxTransfer + 8),
            Reply(wire::kStatusOk, 4, 4),      // OUT reply carrying data
            Reply(200, 0, 0),                  // unknown status
            Reply(wire::kStatusOk, 512, 512),  // finally a good one
        });
    auto h = OpenPath("sim:odd").handle;
    ASSERT_TRUE(h);
    std::vector<uint8_t> page(512, 0x11);
    EXPECT_EQ(h->Read(page).error, IoError::Failed);
    EXPECT_EQ(h->Read(page).error, IoError::Failed);
    EXPECT_EQ(h->Read(page).error, IoError::Failed);
    EXPECT_EQ(h->Read(page).error, IoError::Failed);
    EXPECT_EQ(page[0], 0x11);  // a failed read leaves the buffer as it was
    EXPECT_EQ(h->Write(page).error, IoError::Failed);
    EXPECT_EQ(h->Write(page).error, IoError::Failed);
    IoResult r = h->Read(page);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(page[0], 0xAB);
    // The scripted camera hangs up after its script.
    EXPECT_EQ(h->Read(page).error, IoError::DeviceGone);
}

// Whose cameras the backend uses: those in a directory of this user that no
// one else may write to.
struct DirectoryCase {
    const char* what;
    mode_t mode;       // 0: no directory made (see kind)
    const char* kind;  // "dir", "file", "link", "none", "foreign"
    wire::DirectoryTrust want;
    const char* why;  // part of the reason given
};

void PrintTo(const DirectoryCase& c, std::ostream* os) {
    *os << c.what;
}

class CameraDirectoryTrust : public SimSocket,
                             public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(CameraDirectoryTrust, OnlyTheUsersOwnPrivateDirectoryIsTrusted) {
    const DirectoryCase& c = GetParam();
    const std::string kind = c.kind;
    if (kind == "foreign" && ::geteuid() != 0)
        GTEST_SKIP() << "giving a directory to another user needs root";
    const std::string real = base_ + "/real";
    if (kind == "file") {
        ASSERT_EQ(::close(::creat(dir_.c_str(), 0600)), 0);
    } else if (kind != "none") {
        ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(real.c_str(), c.mode), 0);
        if (kind == "foreign") {
            ASSERT_EQ(::chown(real.c_str(), 4242, 4242), 0);
        }
        if (kind == "link") {
            ASSERT_EQ(::symlink(real.c_str(), dir_.c_str()), 0);
        } else {
            ASSERT_EQ(::rename(real.c_str(), dir_.c_str()), 0);
        }
    }
    std::string why;
    EXPECT_EQ(wire::CheckCameraDirectory(dir_, &why), c.want);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
}

using wire::DirectoryTrust;
INSTANTIATE_TEST_SUITE_P(
    Cases, CameraDirectoryTrust,
    ::testing::Values(
        DirectoryCase{"missing", 0, "none", DirectoryTrust::Missing, ""},
        DirectoryCase{"private", 0700, "dir", DirectoryTrust::Trusted, ""},
        DirectoryCase{"readable by all", 0755, "dir", DirectoryTrust::Trusted, ""},
        DirectoryCase{"link to a private one", 0700, "link", DirectoryTrust::Trusted, ""},
        DirectoryCase{"group-writable", 0770, "dir", DirectoryTrust::Untrusted,
                      "other users can write to it (mode 0770)"},
        DirectoryCase{"sticky and world-writable", 01777, "dir", DirectoryTrust::Untrusted,
                      "(mode 1777)"},
        DirectoryCase{"writable by others only", 0702, "dir", DirectoryTrust::Untrusted,
                      "(mode 0702)"},
        DirectoryCase{"link to a writable one", 0777, "link", DirectoryTrust::Untrusted,
                      "other users can write"},
        DirectoryCase{"a file", 0, "file", DirectoryTrust::Untrusted, "not a directory"},
        DirectoryCase{"another user's", 0700, "foreign", DirectoryTrust::Untrusted,
                      "it belongs to user 4242"}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(SimSocket, ADirectoryOthersCanWriteToIsSkippedWithOneReport) {
    RunningServer running("cam", camera);
    ASSERT_TRUE(running.Start());
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    testsupport::CapturedReports reports;
    EXPECT_TRUE(EnumerateInterfaces(CardInterfaceGuid).empty());
    EXPECT_TRUE(EnumerateInterfaces(CardInterfaceGuid).empty());
    ASSERT_EQ(reports.reports().size(), 1u) << "one report, however often it is asked";
    EXPECT_EQ(reports.reports()[0].text,
              "not using the cameras in " + dir_ + ": other users can write to it (mode 0777)");
    OpenResult opened = OpenPath("sim:cam");
    EXPECT_FALSE(opened.handle);
    EXPECT_EQ(opened.error, OpenError::AccessDenied);
    EXPECT_NE(opened.message.find("other users can write"), std::string::npos) << opened.message;
    EXPECT_EQ(SimBackend().Watch(), nullptr);
    struct stat st {};
    ASSERT_EQ(::stat(dir_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u) << "a client leaves the directory as it found it";
}

// A listening socket of user 4242 (a child process that gives up root),
// moved into this user's directory as only root could.
class ForeignServer {
  public:
    ForeignServer(const std::string& scratch, const std::string& into) {
        const std::string folder = scratch + "/foreign";
        ::chmod(scratch.c_str(), 0711);  // the other user passes through
        const std::string path = folder + "/cam.sock";
        if (::mkdir(folder.c_str(), 0700) != 0 || ::chown(folder.c_str(), 4242, 4242) != 0)
            return;
        sockaddr_un address;
        socklen_t length;
        int ready[2], hold[2];
        if (!wire::MakeAddress(path, &address, &length) || ::pipe(ready) != 0 || ::pipe(hold) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on.
            ::close(ready[0]);
            ::close(hold[1]);
            if (::setgid(4242) != 0 || ::setuid(4242) != 0)
                ::_exit(1);
            int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
                ::listen(fd, 8) != 0)
                ::_exit(1);
            char byte = 1;
            if (::write(ready[1], &byte, 1) != 1)
                ::_exit(1);
            // Stays listening (connections wait in the backlog) until the
            // test closes its end.
            while (::read(hold[0], &byte, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        hold_ = hold[1];
        char byte = 0;
        const bool listening = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        ok_ = pid_ > 0 && listening && ::rename(path.c_str(), into.c_str()) == 0;
    }
    ~ForeignServer() {
        if (hold_ >= 0)
            ::close(hold_);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    bool ok() const { return ok_; }

  private:
    pid_t pid_ = -1;
    int hold_ = -1;
    bool ok_ = false;
};

TEST_F(SimSocket, AnotherUsersServerIsSkippedAndCamsimReplacesIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a server of another user needs root to start";
    ASSERT_TRUE(wire::EnsurePrivateDirectory(dir_, nullptr));
    ForeignServer foreign(base_, dir_ + "/other.sock");
    ASSERT_TRUE(foreign.ok());
    RunningServer mine("mine", camera);
    ASSERT_TRUE(mine.Start());

    testsupport::CapturedReports reports;
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid), std::vector<std::string>{"sim:mine"});
    ASSERT_EQ(reports.reports().size(), 1u);
    EXPECT_NE(reports.reports()[0].text.find("not using the camera sim:other"), std::string::npos);
    EXPECT_NE(reports.reports()[0].text.find("runs as user 4242 (you are user 0)"),
              std::string::npos)
        << reports.reports()[0].text;
    OpenResult opened = OpenPath("sim:other");
    EXPECT_FALSE(opened.handle);
    EXPECT_EQ(opened.error, OpenError::AccessDenied);
    EXPECT_NE(opened.message.find("runs as user 4242"), std::string::npos) << opened.message;

    // camsim takes the name over: its clients would not use the other one.
    RunningServer replacement("other", std::make_shared<FakePeripheral>());
    ASSERT_TRUE(replacement.Start());
    EXPECT_EQ(EnumerateInterfaces(CardInterfaceGuid),
              (std::vector<std::string>{"sim:mine", "sim:other"}));
}

}  // namespace
}  // namespace platform
