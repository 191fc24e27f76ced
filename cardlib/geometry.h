// The card geometries. One object of this family is created when the device
// is opened (or formatted); every later operation goes through its virtual
// operations, so per-card behaviour is decided once.
//
// Address units: the big-endian cards address pages of PageSize() bytes for
// every command. The little-endian cards read in 256-byte units but erase and
// write in 512-byte pages, hence their separate SystemBlockPage (read) and
// DirectoryPage (erase and write).
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "cardlib/card_layout.h"
#include "cardlib/command_block.h"
#include "cardlib/quorbit.h"
#include "platform/device.h"

namespace quorbit {

class FlashGeometry {
  public:
    // device is the session's handle (not owned; null when none is open).
    explicit FlashGeometry(platform::DeviceHandle* device) : device_(device) {}
    virtual ~FlashGeometry() = default;
    FlashGeometry(const FlashGeometry&) = delete;
    FlashGeometry& operator=(const FlashGeometry&) = delete;

    // Transfer primitives (transport.cpp). Lengths are multiples of PageSize();
    // a remainder is neither sent nor read.
    virtual int EraseBlock(uint32_t address);
    virtual int WritePages(uint32_t address, const uint8_t* data, uint32_t length);
    virtual int ReadPages(uint32_t address, uint8_t* buffer, uint32_t length);

    virtual uint16_t PageSize() const = 0;
    virtual uint16_t FlashSizeMb() const = 0;
    virtual uint32_t SystemBlockPage() const = 0;
    virtual uint16_t HeaderCapacity(const SystemBlock& block) const;
    virtual int MaxPhotos() const = 0;
    virtual uint8_t PagesPerBlock() const = 0;
    virtual uint32_t BlockBytes() const = 0;
    // Brings the photo of directory entry `index` into out (kReadBufferBytes),
    // the slot's bytes at offset 0 (photo_read.cpp). step may be null.
    virtual int ReadPhoto(const SystemBlock& block, std::span<uint8_t> out, int index,
                          ProgressStepFunc step);
    virtual void EncodeAddress(CommandBlock& command, uint32_t address) const;
    virtual uint8_t BlocksPerPhoto() const;
    virtual uint16_t HeaderPhotoCount(const SystemBlock& block) const;
    virtual uint32_t DirectoryPage() const;
    // kNoSlot (or 0xFF on the little-endian cards) for an erased entry, and
    // for an index whose entry lies outside the session's copy.
    virtual uint16_t EntrySlot(const SystemBlock& block, int index) const;
    virtual uint32_t BlockToPage(uint32_t block) const;
    virtual uint32_t PhotoFirstPage(const SystemBlock& block, int index) const;

    // Bytes of the system block that the session keeps and writes back.
    uint32_t SystemBlockBytes() const;
    // Write-back pages of the system block: one block, no more than the
    // session's copy holds, and never past the end of the card.
    uint32_t SystemBlockWritePages() const;
    // Whether a slot field value names no photo on this card.
    bool IsNoSlot(uint16_t slot) const;

    // True once a read found the device gone: the object is dead from then on.
    bool invalidated() const { return invalidated_; }

  protected:
    bool usable() const { return device_ != nullptr && !invalidated_; }
    bool SendCommand(const CommandBlock& command);
    // Shared by both families; the big-endian one closes with an end-of-write block.
    int WritePagesImpl(uint32_t address, const uint8_t* data, uint32_t length, bool end_of_write);
    // One command for the whole request, a 10 ms pause, then the pages.
    int ReadPagesLittleEndian(uint32_t address, uint8_t* buffer, uint32_t length);
    void Invalidate() { invalidated_ = true; }

    platform::DeviceHandle* device_;
    bool invalidated_ = false;
};

enum class GeometryKind {
    k8MbLe,
    k16MbLe,
    k8Mb,
    k16Mb,
    k32Mb,
    k64Mb,
    k128Mb,
};

// Probe order of the detection.
inline constexpr GeometryKind kProbeOrder[] = {
    GeometryKind::k8MbLe, GeometryKind::k16MbLe, GeometryKind::k8Mb,   GeometryKind::k16Mb,
    GeometryKind::k32Mb,  GeometryKind::k64Mb,   GeometryKind::k128Mb,
};

std::unique_ptr<FlashGeometry> MakeGeometry(GeometryKind kind, platform::DeviceHandle* device);
const char* GeometryName(GeometryKind kind);

// --- The seven variants -------------------------------------------------

class LittleEndianGeometry : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    int WritePages(uint32_t address, const uint8_t* data, uint32_t length) override;
    int ReadPages(uint32_t address, uint8_t* buffer, uint32_t length) override;
    void EncodeAddress(CommandBlock& command, uint32_t address) const override;
    int ReadPhoto(const SystemBlock& block, std::span<uint8_t> out, int index,
                  ProgressStepFunc step) override;
    uint16_t HeaderCapacity(const SystemBlock& block) const override;
    uint16_t HeaderPhotoCount(const SystemBlock& block) const override;
    uint16_t EntrySlot(const SystemBlock& block, int index) const override;
    uint32_t BlockToPage(uint32_t block) const override;
    uint32_t PhotoFirstPage(const SystemBlock& block, int index) const override;
    uint16_t PageSize() const override { return 512; }
    uint32_t SystemBlockPage() const override { return 0xFFE0; }

  protected:
    // Progress calls per 16 KB chunk read (and once before the first).
    virtual int StepsPerChunk() const = 0;
};

class Geometry8MbLe final : public LittleEndianGeometry {
  public:
    using LittleEndianGeometry::LittleEndianGeometry;
    uint16_t FlashSizeMb() const override { return 8; }
    uint32_t DirectoryPage() const override { return 0x3FF0; }
    int MaxPhotos() const override { return 26; }
    uint8_t PagesPerBlock() const override { return 16; }
    uint32_t BlockBytes() const override { return 8192; }

  protected:
    int StepsPerChunk() const override { return 2; }
};

class Geometry16MbLe final : public LittleEndianGeometry {
  public:
    using LittleEndianGeometry::LittleEndianGeometry;
    uint16_t FlashSizeMb() const override { return 16; }
    uint32_t DirectoryPage() const override { return 0x7FF0; }
    int MaxPhotos() const override { return 52; }
    uint8_t PagesPerBlock() const override { return 32; }
    uint32_t BlockBytes() const override { return 16384; }

  protected:
    int StepsPerChunk() const override { return 1; }
};

class Geometry8Mb final : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    uint16_t PageSize() const override { return 512; }
    uint16_t FlashSizeMb() const override { return 8; }
    uint32_t SystemBlockPage() const override { return 0x3FF0; }
    int MaxPhotos() const override { return 26; }
    uint8_t PagesPerBlock() const override { return 16; }
    uint32_t BlockBytes() const override { return 8192; }
};

class Geometry16Mb final : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    uint16_t PageSize() const override { return 512; }
    uint16_t FlashSizeMb() const override { return 16; }
    uint32_t SystemBlockPage() const override { return 0x7FE0; }
    int MaxPhotos() const override { return 52; }
    uint8_t PagesPerBlock() const override { return 32; }
    uint32_t BlockBytes() const override { return 16384; }
};

class Geometry32Mb final : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    uint16_t PageSize() const override { return 512; }
    uint16_t FlashSizeMb() const override { return 32; }
    uint32_t SystemBlockPage() const override { return 0xFFE0; }
    int MaxPhotos() const override { return 104; }
    uint8_t PagesPerBlock() const override { return 32; }
    uint32_t BlockBytes() const override { return 16384; }
};

class Geometry64Mb final : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    uint16_t PageSize() const override { return 512; }
    uint16_t FlashSizeMb() const override { return 64; }
    uint32_t SystemBlockPage() const override { return 0x1FFE0; }
    int MaxPhotos() const override { return 208; }
    uint8_t PagesPerBlock() const override { return 32; }
    uint32_t BlockBytes() const override { return 16384; }
    void EncodeAddress(CommandBlock& command, uint32_t address) const override;
};

class Geometry128Mb final : public FlashGeometry {
  public:
    using FlashGeometry::FlashGeometry;
    int EraseBlock(uint32_t address) override;
    uint16_t PageSize() const override { return 2048; }
    uint16_t FlashSizeMb() const override { return 128; }
    uint32_t SystemBlockPage() const override { return 0xFFC0; }
    int MaxPhotos() const override { return 340; }
    uint8_t PagesPerBlock() const override { return 64; }
    uint32_t BlockBytes() const override { return 131072; }
    void EncodeAddress(CommandBlock& command, uint32_t address) const override;
};

}  // namespace quorbit
