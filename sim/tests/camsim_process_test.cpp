// camsim as a process: reached through the platform layer's "sim:" backend,
// killed, signalled and fed bad input.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>

#include "camera_rig.h"
#include "camsim_process.h"
#include "platform/backend.h"
#include "platform/device.h"
#include "platform/simsock/sim_backend.h"
#include "platform/simsock/wire.h"
#include "sim/card_maker.h"

namespace sim::testing {
namespace {

namespace fs = std::filesystem;
using platform::IoError;

class CamsimServe : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetBackends({&platform::SimBackend()}); }
    void TearDown() override { platform::SetBackends({}); }

    std::string MakeCardFile(Variant v) {
        const std::string path = dir.file("card.img");
        EXPECT_EQ(RunCamsim({"make-card", path, "--geometry", std::string(VariantName(v))}), 0);
        return path;
    }

    std::unique_ptr<platform::DeviceHandle> Open(const std::string& path) {
        platform::OpenResult r = platform::OpenPath(path);
        EXPECT_TRUE(r.handle) << path << ": " << r.message;
        return std::move(r.handle);
    }

    CamsimDir dir;
};

TEST_F(CamsimServe, AcknowledgedWritesSurviveSigkill) {
    const std::string card = MakeCardFile(Variant::k8Mb);
    CamsimProcess camsim({"serve", "--card", card, "--geometry", "8Mb", "--name", "dur"});
    ASSERT_TRUE(camsim.ready());
    EXPECT_NE(camsim.first_line().find("camsim: serving sim:dur"), std::string::npos);

    auto h = Open("sim:dur");
    ASSERT_TRUE(h);
    const auto page = Pattern(512, 31);
    const Block write = Cmd({0x85, 0x72, 0x00, 0x00, 0x00, 0x02});
    ASSERT_TRUE(h->Write(write).ok());
    ASSERT_TRUE(h->Write(page).ok());
    EXPECT_EQ(camsim.SignalAndWait(SIGKILL), 128 + SIGKILL);

    std::string error;
    auto image = CardImage::Open(card, GeometryOf(Variant::k8Mb).card_bytes, &error);
    ASSERT_TRUE(image) << error;
    std::vector<uint8_t> got(512);
    ASSERT_TRUE(image->Read(1024, got, &error));
    EXPECT_EQ(got, page);
    // The system block a made card has is still there too.
    std::vector<uint8_t> magic(19);
    ASSERT_TRUE(image->Read(0x7FE000, magic, &error));
    EXPECT_EQ(std::string(magic.begin(), magic.end()), "ZPX PHOTO CAM IMAGE");
}

TEST_F(CamsimServe, SigtermUnplugsAndTheCardIsReadableThroughThePipes) {
    const std::string card = dir.file("card.img");
    std::string error;
    ASSERT_TRUE(MakeCardFromImages(card, Variant::k8MbLe, {picture::Picture(322, 242)}, &error))
        << error;
    CamsimProcess camsim({"serve", "--card", card, "--geometry", "8MbLe"});
    ASSERT_TRUE(camsim.ready());
    EXPECT_TRUE(fs::exists(dir.socket("camera")));
    EXPECT_EQ(platform::EnumerateInterfaces(platform::CardInterfaceGuid),
              std::vector<std::string>{"sim:camera"});

    // The program's way: command on PIPE01, 1536 bytes on PIPE00.
    auto write_pipe = Open("sim:camera/PIPE01");
    auto read_pipe = Open("sim:camera/PIPE00");
    ASSERT_TRUE(write_pipe && read_pipe);
    ASSERT_TRUE(write_pipe->Write(Cmd({0x85, 0x71, 0x00, 0xE0, 0xFF})).ok());
    std::vector<uint8_t> info(1536);
    ASSERT_TRUE(read_pipe->Read(info).ok());
    EXPECT_EQ(std::string(info.begin(), info.begin() + 24), "ZPX PHOTO CAM IMAGE V1.0");
    EXPECT_EQ(info[256], 1);

    EXPECT_EQ(camsim.SignalAndWait(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(dir.socket("camera")));
    EXPECT_TRUE(platform::EnumerateInterfaces(platform::CardInterfaceGuid).empty());
}

TEST_F(CamsimServe, BadInputFailsTheTransferAndCamsimStaysUp) {
    const std::string card = MakeCardFile(Variant::k32Mb);
    CamsimProcess camsim({"serve", "--card", card, "--geometry", "32Mb", "--name", "bad"});
    ASSERT_TRUE(camsim.ready());
    auto h = Open("sim:bad");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->Write(Cmd({0x85, 0x99})).error, IoError::Failed);        // unknown opcode
    EXPECT_EQ(h->Write(Cmd({0x85, 0x71, 0x01})).error, IoError::Failed);  // byte 2 set
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(h->Read(buf).error, IoError::Failed);  // no command
    EXPECT_EQ(h->Write(std::vector<uint8_t>(512, 0)).error, IoError::Failed);
    auto read_pipe = Open("sim:bad/PIPE00");
    EXPECT_EQ(read_pipe->Write(Cmd({0x85, 0x71})).error, IoError::Failed);

    // Messages that are not the wire format at all.
    const int s = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock = dir.socket("bad");
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const uint8_t junk[3] = {9, 9, 9};
    uint8_t lying[8 + 10] = {platform::simwire::kOpOut, 0, 0, 0, 100, 0, 0, 0};  // claims 100
    uint8_t reply[64];
    for (std::span<const uint8_t> msg :
         {std::span<const uint8_t>(junk), std::span<const uint8_t>(lying)}) {
        ASSERT_EQ(::send(s, msg.data(), msg.size(), 0), static_cast<ssize_t>(msg.size()));
        ASSERT_GE(::recv(s, reply, sizeof reply, 0), 8);
        EXPECT_EQ(reply[0], platform::simwire::kStatusFailed);
    }
    ::close(s);

    // Still a working camera.
    ASSERT_TRUE(h->Write(Cmd({0x85, 0x71, 0x00, 0x00, 0xFF, 0xE0})).ok());
    ASSERT_TRUE(h->Read(buf).ok());
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 24), "ZPX PHOTO CAM IMAGE V1.5");
    EXPECT_EQ(camsim.SignalAndWait(SIGTERM), 0);
}

TEST_F(CamsimServe, FaultsFromTheCommandLine) {
    const std::string card = MakeCardFile(Variant::k64Mb);
    {
        CamsimProcess camsim({"serve", "--card", card, "--geometry", "64Mb", "--name", "flaky",
                              "--fail-in", "2:aborted", "--fail-out", "3+:gone"});
        ASSERT_TRUE(camsim.ready());
        auto h = Open("sim:flaky");
        ASSERT_TRUE(h);
        std::vector<uint8_t> buf(512);
        ASSERT_TRUE(h->Write(Cmd({0x85, 0x71})).ok());
        EXPECT_TRUE(h->Read(buf).ok());
        EXPECT_EQ(h->Read(buf).error, IoError::Aborted);
        EXPECT_TRUE(h->Read(buf).ok());
        EXPECT_TRUE(h->Write(Cmd({0x85, 0x71})).ok());
        EXPECT_EQ(h->Write(Cmd({0x85, 0x71})).error, IoError::DeviceGone);
        EXPECT_EQ(h->Write(Cmd({0x85, 0x71})).error, IoError::DeviceGone);
        EXPECT_EQ(camsim.SignalAndWait(SIGTERM), 0);
    }
    {
        CamsimProcess camsim({"serve", "--card", card, "--geometry", "64Mb", "--name", "drop",
                              "--drop-after", "2", "--fail-in", "1:failed"});
        ASSERT_TRUE(camsim.ready());
        auto h = Open("sim:drop");
        ASSERT_TRUE(h);
        std::vector<uint8_t> buf(16);
        ASSERT_TRUE(h->Write(Cmd({0x85, 0x71})).ok());
        EXPECT_EQ(h->Read(buf).error, IoError::Failed);
        // Unplugged before the second reply was sent.
        EXPECT_FALSE(fs::exists(dir.socket("drop")));
        EXPECT_EQ(h->Read(buf).error, IoError::DeviceGone);
        EXPECT_EQ(camsim.SignalAndWait(SIGINT), 0);
    }
}

TEST_F(CamsimServe, PresentsTheIdentityItWasGiven) {
    const std::string card = MakeCardFile(Variant::k16MbLe);
    CamsimProcess camsim({"serve", "--card", card, "--geometry", "16MbLe", "--name", "id", "--vid",
                          "1234", "--pid", "0x00AB", "--manufacturer", "Maker", "--product",
                          "Thing", "--serial", "SN-9"});
    ASSERT_TRUE(camsim.ready());
    auto h = Open("sim:id");
    ASSERT_TRUE(h);
    auto a = h->Attributes();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->vendor_id, 0x1234);
    EXPECT_EQ(a->product_id, 0x00AB);
    EXPECT_EQ(a->manufacturer, "Maker");
    EXPECT_EQ(a->product, "Thing");
    EXPECT_EQ(a->serial_number, "SN-9");
}

TEST_F(CamsimServe, RefusesBadCardsAndArguments) {
    const std::string card = MakeCardFile(Variant::k8MbLe);
    EXPECT_EQ(RunCamsim({"serve", "--card", card, "--geometry", "16MbLe"}), 1);  // wrong size
    EXPECT_EQ(RunCamsim({"serve", "--card", dir.file("none.img"), "--geometry", "8MbLe"}), 1);
    EXPECT_EQ(RunCamsim({"serve", "--card", card, "--geometry", "9Mb"}), 2);
    EXPECT_EQ(RunCamsim({"--help"}), 0);
    EXPECT_EQ(
        RunCamsim({"make-card", dir.file("x.img"), "--geometry", "8Mb", dir.file("missing.jpg")}),
        1);
    EXPECT_FALSE(fs::exists(dir.file("x.img")));
    // Two cameras cannot serve one card file.
    CamsimProcess first({"serve", "--card", card, "--geometry", "8MbLe", "--name", "one"});
    ASSERT_TRUE(first.ready());
    EXPECT_EQ(RunCamsim({"serve", "--card", card, "--geometry", "8MbLe", "--name", "two"}), 1);
}

}  // namespace
}  // namespace sim::testing
