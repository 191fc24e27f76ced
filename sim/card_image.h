// The camera's flash card kept in a file: byte address = file offset. Every
// change is handed to the kernel (pwrite) before the call returns, so what the
// camera acknowledged survives the camera process being killed.
//
// Addresses wrap modulo the card size: the camera does not decode the
// address lines above its card's size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace sim {

class CardImage {
  public:
    ~CardImage();
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    // Opens an existing card file for reading and writing. Fails (null, with
    // a sentence in *error) when it cannot be opened or its length is not
    // expected_bytes. With exclusive, also fails when another process holds
    // the card open exclusively.
    static std::unique_ptr<CardImage> Open(const std::string& path, uint64_t expected_bytes,
                                           std::string* error, bool exclusive = false);
    // The same for reading only (a backup looked at): every change fails.
    static std::unique_ptr<CardImage> OpenReadOnly(const std::string& path, uint64_t expected_bytes,
                                                   std::string* error);
    // Creates or replaces a card file of the given size, every byte 0xFF.
    static std::unique_ptr<CardImage> Create(const std::string& path, uint64_t bytes,
                                             std::string* error);
    // A card that lives only in this process (an anonymous memory file),
    // every byte 0xFF. It stays mapped, so that a transfer costs no system
    // call (in-process tests make millions of them).
    static std::unique_ptr<CardImage> CreateInMemory(uint64_t bytes, std::string* error);

    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

    // Each returns false and fills *error when the file could not be read or
    // written; *error may be null.
    bool Read(uint64_t address, std::span<uint8_t> out, std::string* error) const;
    // NAND programming: every byte becomes old AND data.
    bool Program(uint64_t address, std::span<const uint8_t> data, std::string* error);
    // Sets length bytes to value (erase: 0xFF).
    bool Fill(uint64_t address, uint64_t length, uint8_t value, std::string* error);
    // Plain overwrite, for making cards (not something the flash can do).
    bool Overwrite(uint64_t address, std::span<const uint8_t> data, std::string* error);

  private:
    static std::unique_ptr<CardImage> OpenFile(const std::string& path, uint64_t expected_bytes,
                                               std::string* error, bool exclusive, int flags);
    CardImage(int fd, uint64_t size, std::string path, uint8_t* memory = nullptr);

    template <typename Fn>
    bool ForEachPiece(uint64_t address, uint64_t length, Fn&& fn) const;

    int fd_;
    uint64_t size_;
    std::string path_;
    uint8_t* memory_;  // the whole card mapped, or null: through fd_
};

}  // namespace sim
