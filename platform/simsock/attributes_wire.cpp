#include "platform/simsock/attributes_wire.h"

#include "platform/simsock/wire.h"

namespace platform::simwire {
namespace {

void PutString(std::vector<uint8_t>& out, const std::string& s) {
    const size_t n = s.size() > 0xFFFF ? 0xFFFF : s.size();
    uint8_t length[2];
    PutU16(length, static_cast<uint16_t>(n));
    out.insert(out.end(), length, length + 2);
    out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

bool GetString(std::span<const uint8_t>& in, std::string* s) {
    if (in.size() < 2)
        return false;
    const size_t n = GetU16(in.data());
    if (in.size() - 2 < n)
        return false;
    s->assign(reinterpret_cast<const char*>(in.data() + 2), n);
    in = in.subspan(2 + n);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeAttributes(const DeviceAttributes& a) {
    std::vector<uint8_t> out(6);
    PutU16(out.data(), a.vendor_id);
    PutU16(out.data() + 2, a.product_id);
    PutU16(out.data() + 4, a.version);
    PutString(out, a.manufacturer);
    PutString(out, a.product);
    PutString(out, a.serial_number);
    return out;
}

std::optional<DeviceAttributes> DecodeAttributes(std::span<const uint8_t> in) {
    if (in.size() < 6)
        return std::nullopt;
    DeviceAttributes a;
    a.vendor_id = GetU16(in.data());
    a.product_id = GetU16(in.data() + 2);
    a.version = GetU16(in.data() + 4);
    in = in.subspan(6);
    if (!GetString(in, &a.manufacturer) || !GetString(in, &a.product) ||
        !GetString(in, &a.serial_number) || !in.empty()) {
        return std::nullopt;
    }
    return a;
}

}  // namespace platform::simwire
