// The bulk command transport: every transfer is a 16-byte command block,
// followed by page data in one bulk transfer per page.
//
// Pacing: the little-endian cards need 10 ms after a read command before the
// first page can be fetched; the big-endian cards need 1 ms before each read
// command and 1 ms between the command and its page. Writes and erases never
// wait.
#include "cardlib/transport.h"

#include <chrono>
#include <string>
#include <vector>

#include "cardlib/geometry.h"
#include "cardlib/strings.h"
#include "platform/clock.h"
#include "platform/report.h"

namespace quorbit {
namespace {

using namespace std::chrono_literals;

constexpr char kErrorCaption[] = "Orvanta";
int g_quiet = 0;

}  // namespace

std::unique_ptr<platform::DeviceHandle> OpenInterfaceDevice(const platform::Guid& interface_class) {
    const std::vector<std::string> paths = platform::EnumerateInterfaces(interface_class);
    if (paths.empty())
        return nullptr;
    platform::OpenResult opened = platform::OpenPath(paths.front());
    return std::move(opened.handle);
}

void ReportCardError(int id, std::string_view detail) {
    const std::optional<std::string> text = LocalisedText(id);
    if (!text || text->empty() || g_quiet > 0)
        return;
    if (detail.empty())
        platform::ReportError(kErrorCaption, *text);
    else
        platform::ReportError(kErrorCaption, *text + "\n" + std::string(detail));
}

QuietCardErrors::QuietCardErrors() {
    ++g_quiet;
}
QuietCardErrors::~QuietCardErrors() {
    --g_quiet;
}

// --- primitives ----------------------------------------------------------

bool FlashGeometry::SendCommand(const CommandBlock& command) {
    return device_->Write(command.bytes).ok();
}

void FlashGeometry::EncodeAddress(CommandBlock& command, uint32_t address) const {
    command.bytes[4] = static_cast<uint8_t>(address >> 8);
    command.bytes[5] = static_cast<uint8_t>(address);
}

void Geometry64Mb::EncodeAddress(CommandBlock& command, uint32_t address) const {
    command.bytes[3] = static_cast<uint8_t>(address >> 16);
    command.bytes[4] = static_cast<uint8_t>(address >> 8);
    command.bytes[5] = static_cast<uint8_t>(address);
}

void Geometry128Mb::EncodeAddress(CommandBlock& command, uint32_t address) const {
    command.bytes[3] = static_cast<uint8_t>(address >> 8);
    command.bytes[4] = static_cast<uint8_t>(address);
}

void LittleEndianGeometry::EncodeAddress(CommandBlock& command, uint32_t address) const {
    command.bytes[3] = static_cast<uint8_t>(address);
    command.bytes[4] = static_cast<uint8_t>(address >> 8);
}

int FlashGeometry::EraseBlock(uint32_t address) {
    if (!usable())
        return 0;
    CommandBlock command = MakeCommand(kOpErase);
    EncodeAddress(command, address);
    return SendCommand(command) ? 1 : 0;
}

int Geometry128Mb::EraseBlock(uint32_t address) {
    // The erase command of this card keeps the page number one byte further
    // right than its read and write commands.
    if (!usable())
        return 0;
    CommandBlock command = MakeCommand(kOpErase);
    command.bytes[4] = static_cast<uint8_t>(address >> 8);
    command.bytes[5] = static_cast<uint8_t>(address);
    return SendCommand(command) ? 1 : 0;
}

int FlashGeometry::WritePagesImpl(uint32_t address, const uint8_t* data, uint32_t length,
                                  bool end_of_write) {
    if (!usable())
        return 0;
    CommandBlock command = MakeCommand(kOpWrite);
    EncodeAddress(command, address);
    if (!SendCommand(command))
        return 0;
    const uint32_t page = PageSize();
    const uint32_t pages = length / page;
    for (uint32_t i = 0; i < pages; ++i) {
        if (!device_->Write({data + size_t{i} * page, page}).ok()) {
            ReportCardError(kTextWriteError);
            return 0;
        }
    }
    if (!end_of_write)
        return 1;
    command.bytes[1] = kOpEndOfWrite;
    return SendCommand(command) ? 1 : 0;
}

int FlashGeometry::WritePages(uint32_t address, const uint8_t* data, uint32_t length) {
    return WritePagesImpl(address, data, length, true);
}

int LittleEndianGeometry::WritePages(uint32_t address, const uint8_t* data, uint32_t length) {
    return WritePagesImpl(address, data, length, false);
}

int FlashGeometry::ReadPages(uint32_t address, uint8_t* buffer, uint32_t length) {
    if (!usable())
        return 0;
    const uint32_t page = PageSize();
    const uint32_t pages = length / page;
    for (uint32_t i = 0; i < pages; ++i) {
        CommandBlock command = MakeCommand(kOpRead);
        EncodeAddress(command, address + i);
        const std::span<uint8_t> target{buffer + size_t{i} * page, page};
        int aborted = 0;
        for (;;) {
            platform::Pause(1ms);
            const platform::IoResult sent = device_->Write(command.bytes);
            if (!sent.ok()) {
                if (sent.error == platform::IoError::Aborted && ++aborted < kMaxAbortedRetries)
                    continue;
                ReportCardError(kTextReadError);
                return 0;
            }
            platform::Pause(1ms);
            const platform::IoResult got = device_->Read(target);
            if (got.ok())
                break;
            if (got.error == platform::IoError::DeviceGone) {
                Invalidate();
                return 0;
            }
            if (got.error == platform::IoError::Aborted && ++aborted < kMaxAbortedRetries)
                continue;
            ReportCardError(kTextReadError);
            return 0;
        }
    }
    return 1;
}

int FlashGeometry::ReadPagesLittleEndian(uint32_t address, uint8_t* buffer, uint32_t length) {
    if (!usable())
        return 0;
    CommandBlock command = MakeCommand(kOpRead);
    EncodeAddress(command, address);
    if (!SendCommand(command))
        return 0;
    platform::Pause(10ms);
    const uint32_t page = PageSize();
    const uint32_t pages = length / page;
    for (uint32_t i = 0; i < pages; ++i) {
        const platform::IoResult got = device_->Read({buffer + size_t{i} * page, page});
        if (got.ok())
            continue;
        if (got.error == platform::IoError::DeviceGone) {
            Invalidate();
            return 0;
        }
        ReportCardError(kTextReadError);
        return 0;
    }
    return 1;
}

int LittleEndianGeometry::ReadPages(uint32_t address, uint8_t* buffer, uint32_t length) {
    return ReadPagesLittleEndian(address, buffer, length);
}

}  // namespace quorbit
