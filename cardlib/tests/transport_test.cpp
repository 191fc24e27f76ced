// Command blocks, page transfers and pauses of the transfer primitives,
// byte for byte, against a scripted device.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "cardlib/geometry.h"
#include "cardlib/tests/test_support.h"
#include "cardlib/transport.h"
#include "testsupport/captured_reports.h"

namespace quorbit::testing {
namespace {

using platform::IoError;
using Bytes = std::vector<uint8_t>;

class TransportTest : public ::testing::Test {
  protected:
    std::unique_ptr<FlashGeometry> Make(GeometryKind kind) { return MakeGeometry(kind, &device_); }

    TransferLog log_;
    LoggingClock clock_{&log_};
    platform::ScopedClock scoped_clock_{&clock_};
    testsupport::CapturedReports reports_;
    ScriptedDevice device_{&log_};
};

Bytes Block(std::initializer_list<uint8_t> head) {
    Bytes b(16, 0);
    size_t i = 0;
    for (uint8_t v : head)
        b[i++] = v;
    return b;
}

Bytes Encoded(FlashGeometry& g, uint32_t address) {
    CommandBlock c = MakeCommand(kOpRead);
    g.EncodeAddress(c, address);
    return {c.bytes.begin(), c.bytes.end()};
}

TEST_F(TransportTest, EncodesAddressesPerVariant) {
    EXPECT_EQ(Encoded(*Make(GeometryKind::k64Mb), 0x1FFE0),
              Block({0x85, 0x71, 0, 0x01, 0xFF, 0xE0}));
    EXPECT_EQ(Encoded(*Make(GeometryKind::k32Mb), 0xFFE0),
              Block({0x85, 0x71, 0, 0x00, 0xFF, 0xE0}));
    EXPECT_EQ(Encoded(*Make(GeometryKind::k8Mb), 0x3FF0), Block({0x85, 0x71, 0, 0x00, 0x3F, 0xF0}));
    EXPECT_EQ(Encoded(*Make(GeometryKind::k128Mb), 0xFFC0),
              Block({0x85, 0x71, 0, 0xFF, 0xC0, 0x00}));
    EXPECT_EQ(Encoded(*Make(GeometryKind::k16MbLe), 0xFFE0),
              Block({0x85, 0x71, 0, 0xE0, 0xFF, 0x00}));
    EXPECT_EQ(Encoded(*Make(GeometryKind::k8MbLe), 0x12345),
              Block({0x85, 0x71, 0, 0x45, 0x23, 0x00}));
    // A 16-bit field takes the low 16 bits.
    EXPECT_EQ(Encoded(*Make(GeometryKind::k32Mb), 0x1ABCD),
              Block({0x85, 0x71, 0, 0x00, 0xAB, 0xCD}));
}

TEST_F(TransportTest, EraseCommandsUseTheVariantsField) {
    ASSERT_EQ(Make(GeometryKind::k128Mb)->EraseBlock(0xFFC0), 1);
    ASSERT_EQ(Make(GeometryKind::k64Mb)->EraseBlock(0x1FFE0), 1);
    ASSERT_EQ(Make(GeometryKind::k16MbLe)->EraseBlock(0x7FF0), 1);
    const auto& e = log_.events();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].data, Block({0x85, 0x73, 0, 0x00, 0xFF, 0xC0}));
    EXPECT_EQ(e[1].data, Block({0x85, 0x73, 0, 0x01, 0xFF, 0xE0}));
    EXPECT_EQ(e[2].data, Block({0x85, 0x73, 0, 0xF0, 0x7F, 0x00}));
    EXPECT_EQ(log_.TotalPause().count(), 0);
}

TEST_F(TransportTest, BigEndianWriteEndsWithEndOfWriteBlock) {
    auto g = Make(GeometryKind::k32Mb);
    const Bytes page(512, 0x3C);
    EXPECT_NE(g->WritePages(0x1234, page.data(), 512), 0);
    const auto& e = log_.events();
    ASSERT_EQ(log_.Trace(), "C72 O512 C74");
    EXPECT_EQ(e[0].data, Block({0x85, 0x72, 0, 0, 0x12, 0x34}));
    EXPECT_EQ(e[1].data, page);
    Bytes end = e[0].data;
    end[1] = 0x74;
    EXPECT_EQ(e[2].data, end);
}

TEST_F(TransportTest, LittleEndianWriteHasNoEndOfWriteAndEmptyWritesStillClose) {
    const Bytes page(1024, 1);
    EXPECT_EQ(Make(GeometryKind::k8MbLe)->WritePages(0x3FF0, page.data(), 1024), 1);
    EXPECT_EQ(log_.Trace(), "C72 O512 O512");
    log_.Clear();
    // No whole page: the big-endian write still sends its end-of-write block.
    EXPECT_NE(Make(GeometryKind::k16Mb)->WritePages(7, page.data(), 100), 0);
    EXPECT_EQ(log_.Trace(), "C72 C74");
}

TEST_F(TransportTest, BigEndianReadPacesEveryPage) {
    auto g = Make(GeometryKind::k16Mb);
    Bytes buf(2048);
    EXPECT_EQ(g->ReadPages(0x100, buf.data(), 2048), 1);
    EXPECT_EQ(
        log_.Trace(),
        "P1000 C71 P1000 I512 P1000 C71 P1000 I512 P1000 C71 P1000 I512 P1000 C71 P1000 I512");
    const auto commands = log_.Commands(kOpRead);
    for (size_t i = 0; i < commands.size(); ++i)
        EXPECT_EQ(commands[i].data, Block({0x85, 0x71, 0, 0, 0x01, uint8_t(i)}));
    EXPECT_EQ(buf, Bytes(2048, 0x5A));
}

TEST_F(TransportTest, LittleEndianReadIsOneCommandAndTenMilliseconds) {
    auto g = Make(GeometryKind::k16MbLe);
    Bytes buf(16384);
    EXPECT_EQ(g->ReadPages(0xFFE0, buf.data(), 16384), 1);
    std::string expected = "C71 P10000";
    for (int i = 0; i < 32; ++i)
        expected += " I512";
    EXPECT_EQ(log_.Trace(), expected);
}

TEST_F(TransportTest, ShortReads) {
    Bytes buf(512, 0);
    EXPECT_EQ(Make(GeometryKind::k32Mb)->ReadPages(0, buf.data(), 511), 1);
    EXPECT_EQ(log_.Trace(), "");
    EXPECT_EQ(Make(GeometryKind::k8MbLe)->ReadPages(0, buf.data(), 100), 1);
    EXPECT_EQ(log_.Trace(), "C71 P10000");
    EXPECT_EQ(buf, Bytes(512, 0));
}

TEST_F(TransportTest, DeviceGoneOnReadKillsTheGeometryObjectOnly) {
    for (GeometryKind kind : {GeometryKind::k32Mb, GeometryKind::k8MbLe}) {
        SCOPED_TRACE(GeometryName(kind));
        log_.Clear();
        device_.SetFault(FailNth(Event::Kind::In, 0, IoError::DeviceGone));
        auto g = Make(kind);
        Bytes buf(1024);
        EXPECT_EQ(g->ReadPages(0, buf.data(), 1024), 0);
        EXPECT_TRUE(g->invalidated());
        EXPECT_TRUE(reports_.reports().empty());
        const size_t before = log_.events().size();
        device_.SetFault({});
        EXPECT_EQ(g->ReadPages(0, buf.data(), 1024), 0);
        EXPECT_EQ(g->WritePages(0, buf.data(), 512), 0);
        EXPECT_EQ(g->EraseBlock(0), 0);
        EXPECT_EQ(log_.events().size(), before) << "no traffic once invalidated";
        // A new object on the same handle works again.
        EXPECT_EQ(Make(kind)->ReadPages(0, buf.data(), 512), 1);
    }
}

TEST_F(TransportTest, BigEndianRetriesAbortedTransfers) {
    // Command aborted once, then the page read aborted twice: the command is
    // sent again each time, with both pauses.
    device_.SetFault([](Event::Kind k, size_t seq, std::span<const uint8_t>) {
        if (k == Event::Kind::Out && seq == 0)
            return IoError::Aborted;
        if (k == Event::Kind::In && seq < 2)
            return IoError::Aborted;
        return IoError::None;
    });
    Bytes buf(512);
    EXPECT_EQ(Make(GeometryKind::k64Mb)->ReadPages(5, buf.data(), 512), 1);
    EXPECT_EQ(log_.Trace(),
              "P1000 C71 P1000 C71 P1000 I512 P1000 C71 P1000 I512 P1000 C71 P1000 I512");
    EXPECT_TRUE(reports_.reports().empty());
    for (const Event& c : log_.Commands())
        EXPECT_EQ(c.data, Block({0x85, 0x71, 0, 0, 0, 5}));
}

TEST_F(TransportTest, EndlessAbortsAreBoundedAndReported) {
    device_.SetFault([](Event::Kind k, size_t, std::span<const uint8_t>) {
        return k == Event::Kind::In ? IoError::Aborted : IoError::None;
    });
    Bytes buf(512);
    EXPECT_EQ(Make(GeometryKind::k32Mb)->ReadPages(0, buf.data(), 512), 0);
    EXPECT_EQ(log_.Count(Event::Kind::In), size_t(kMaxAbortedRetries));
    EXPECT_GE(log_.TotalPause(), std::chrono::seconds(1));
    ASSERT_EQ(reports_.reports().size(), 1u);
    EXPECT_EQ(reports_.reports()[0].caption, "Orvanta");
    EXPECT_EQ(reports_.reports()[0].text, "read card error,work incomplete");
}

TEST_F(TransportTest, FailureMessages) {
    Bytes buf(1024);
    struct Case {
        GeometryKind kind;
        bool read;
        Event::Kind fault_kind;
        size_t seq;
        int expected_reports;
        const char* trace;
    };
    const Case cases[] = {
        // Read command refused: big-endian reports, little-endian does not.
        {GeometryKind::k32Mb, true, Event::Kind::Out, 0, 1, "P1000 C71"},
        {GeometryKind::k8MbLe, true, Event::Kind::Out, 0, 0, "C71"},
        // Page read failed otherwise: both report text 13.
        {GeometryKind::k32Mb, true, Event::Kind::In, 1, 1,
         "P1000 C71 P1000 I512 P1000 C71 P1000 I512"},
        {GeometryKind::k16MbLe, true, Event::Kind::In, 0, 1, "C71 P10000 I512"},
        // Write command refused: silent; page write refused: text 14.
        {GeometryKind::k16Mb, false, Event::Kind::Out, 0, 0, "C72"},
        {GeometryKind::k16Mb, false, Event::Kind::Out, 1, 1, "C72 O512"},
        // End-of-write refused: 0, silent.
        {GeometryKind::k16Mb, false, Event::Kind::Out, 3, 0, "C72 O512 O512 C74"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace);
        log_.Clear();
        reports_.clear();
        device_.SetFault(FailNth(c.fault_kind, c.seq, IoError::Failed));
        auto g = Make(c.kind);
        const int result =
            c.read ? g->ReadPages(0, buf.data(), 1024) : g->WritePages(0, buf.data(), 1024);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(log_.Trace(), c.trace);
        ASSERT_EQ(int(reports_.reports().size()), c.expected_reports);
        if (c.expected_reports == 1) {
            EXPECT_EQ(reports_.reports()[0].text, c.read ? "read card error,work incomplete"
                                                         : "write card error,work incomplete");
        }
        EXPECT_FALSE(g->invalidated());
    }
}

TEST_F(TransportTest, NoHandleMeansNoTraffic) {
    auto g = MakeGeometry(GeometryKind::k32Mb, nullptr);
    Bytes buf(512);
    EXPECT_EQ(g->ReadPages(0, buf.data(), 512), 0);
    EXPECT_EQ(g->WritePages(0, buf.data(), 512), 0);
    EXPECT_EQ(g->EraseBlock(0), 0);
    EXPECT_TRUE(log_.events().empty());
}

TEST_F(TransportTest, ReportsInTheLocalesLanguage) {
    const char* saved = std::getenv("LC_ALL");
    const std::string previous = saved ? saved : "";
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    ReportCardError(13);
    ::setenv("LC_ALL", "zh_CN.GB18030", 1);
    ReportCardError(14);
    if (saved)
        ::setenv("LC_ALL", previous.c_str(), 1);
    else
        ::unsetenv("LC_ALL");
    ASSERT_EQ(reports_.reports().size(), 2u);
    EXPECT_EQ(reports_.reports()[0].caption, "Orvanta");
    EXPECT_EQ(reports_.reports()[0].text, "読み取りカードエラー\xE3\x80\x81不完全に働いてます");
    EXPECT_EQ(reports_.reports()[1].caption, "Orvanta");
    EXPECT_EQ(reports_.reports()[1].text.substr(0, 4), "\xD0\xB4\xBF\xA8");  // 写卡 in GB18030
}

TEST_F(TransportTest, ReportCardErrorShowsOnlyKnownTexts) {
    ReportCardError(14);
    ReportCardError(0);
    ReportCardError(15);
    ASSERT_EQ(reports_.reports().size(), 1u);
    EXPECT_EQ(reports_.reports()[0].caption, "Orvanta");
    EXPECT_EQ(reports_.reports()[0].text, "write card error,work incomplete");
}

}  // namespace
}  // namespace quorbit::testing
