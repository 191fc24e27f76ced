#include "sim/camera.h"

#include <cstdio>

namespace sim {

using platform::Endpoint;
using platform::IoError;
using platform::IoResult;

void LogToStderr(std::string_view line) {
    std::fprintf(stderr, "camsim: %.*s\n", static_cast<int>(line.size()), line.data());
}

platform::DeviceAttributes DefaultAttributes() {
    platform::DeviceAttributes a;
    a.vendor_id = kDefaultVendorId;
    a.product_id = kDefaultProductId;
    a.version = 0x0100;
    a.manufacturer = "Orvanta";
    a.product = "Photo Camera";
    a.serial_number = "CAMSIM0001";
    return a;
}

Camera::Camera(Variant variant, std::unique_ptr<CardImage> card,
               platform::DeviceAttributes attributes, LogFn log)
    : geometry_(GeometryOf(variant)),
      card_(std::move(card)),
      attributes_(std::move(attributes)),
      log_(log ? std::move(log) : LogFn(LogToStderr)) {}

IoResult Camera::Refuse(std::string line) {
    ++stats_.refused;
    log_(line);
    return IoResult::Failure(IoError::Failed);
}

IoResult Camera::HandleOut(Endpoint endpoint, std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    if (!card_)
        return Refuse("no card in the camera");
    if (endpoint == Endpoint::ReadPipe) {
        return Refuse("OUT transfer of " + std::to_string(data.size()) + " bytes on the read pipe");
    }
    if (LooksLikeCommand(data))
        return HandleCommand(data);

    if (mode_ != Mode::Writing) {
        return Refuse("OUT data of " + std::to_string(data.size()) +
                      " bytes with no write command open");
    }
    std::string error;
    if (!card_->Program(position_, data, &error))
        return Refuse(error);
    position_ = (position_ + data.size()) % card_->size();
    stats_.bytes_programmed += data.size();
    return IoResult::Success(data.size());
}

IoResult Camera::HandleCommand(std::span<const uint8_t> block) {
    DecodeResult decoded = DecodeCommand(geometry_, block);
    if (!decoded.command) {
        mode_ = Mode::Idle;
        return Refuse(decoded.error);
    }
    const DecodedCommand& cmd = *decoded.command;
    const uint64_t address = cmd.byte_address % card_->size();
    switch (cmd.opcode) {
        case Opcode::Read:
            mode_ = Mode::Reading;
            position_ = address;
            break;
        case Opcode::Write:
            mode_ = Mode::Writing;
            position_ = address;
            write_address_ = address;
            break;
        case Opcode::Erase: {
            mode_ = Mode::Idle;
            const uint64_t block_start = address - address % geometry_.block_bytes;
            std::string error;
            if (!card_->Fill(block_start, geometry_.block_bytes, 0xFF, &error)) {
                return Refuse(error);
            }
            ++stats_.erases;
            break;
        }
        case Opcode::EndOfWrite:
            if (mode_ != Mode::Writing) {
                mode_ = Mode::Idle;
                return Refuse("end of write with no write command open");
            }
            mode_ = Mode::Idle;
            if (address != write_address_) {
                return Refuse("end of write for another address than the open write");
            }
            break;
    }
    ++stats_.commands;
    return IoResult::Success(block.size());
}

IoResult Camera::HandleIn(Endpoint endpoint, std::span<uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    if (!card_)
        return Refuse("no card in the camera");
    if (endpoint == Endpoint::WritePipe) {
        return Refuse("IN transfer of " + std::to_string(buffer.size()) +
                      " bytes on the write pipe");
    }
    if (mode_ != Mode::Reading) {
        return Refuse("IN transfer of " + std::to_string(buffer.size()) +
                      " bytes with no read command open");
    }
    std::string error;
    if (!card_->Read(position_, buffer, &error))
        return Refuse(error);
    position_ = (position_ + buffer.size()) % card_->size();
    stats_.bytes_read += buffer.size();
    return IoResult::Success(buffer.size());
}

platform::DeviceAttributes Camera::Attributes() const {
    std::lock_guard lock(mutex_);
    return attributes_;
}

void Camera::SetAttributes(platform::DeviceAttributes attributes) {
    std::lock_guard lock(mutex_);
    attributes_ = std::move(attributes);
}

void Camera::SetLog(LogFn log) {
    std::lock_guard lock(mutex_);
    log_ = log ? std::move(log) : LogFn(LogToStderr);
}

std::vector<uint8_t> Camera::Peek(uint64_t address, size_t length) const {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out(length);
    if (!card_ || !card_->Read(address, out, nullptr))
        return {};
    return out;
}

bool Camera::Poke(uint64_t address, std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    return card_ && card_->Overwrite(address, data, nullptr);
}

Camera::Stats Camera::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

}  // namespace sim
