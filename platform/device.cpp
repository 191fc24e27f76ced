#include "platform/device.h"

#include <algorithm>

#include "platform/backend.h"

namespace platform {
namespace {

// Enforces the direction of a pipe for every backend alike: the read pipe
// only reads, the write pipe only writes.
class PipeHandle final : public DeviceHandle {
  public:
    PipeHandle(std::unique_ptr<DeviceHandle> inner, Endpoint endpoint)
        : inner_(std::move(inner)), endpoint_(endpoint) {}

    IoResult Write(std::span<const uint8_t> data) override {
        if (endpoint_ == Endpoint::ReadPipe)
            return IoResult::Failure(IoError::Failed);
        return inner_->Write(data);
    }
    IoResult Read(std::span<uint8_t> buffer) override {
        if (endpoint_ == Endpoint::WritePipe)
            return IoResult::Failure(IoError::Failed);
        return inner_->Read(buffer);
    }
    std::optional<DeviceAttributes> Attributes() override { return inner_->Attributes(); }
    std::optional<std::vector<uint8_t>> PhysicalDescriptor() override {
        return inner_->PhysicalDescriptor();
    }
    std::optional<std::vector<uint8_t>> FeatureReport() override { return inner_->FeatureReport(); }

  private:
    std::unique_ptr<DeviceHandle> inner_;
    Endpoint endpoint_;
};

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

const char* ToString(IoError error) {
    switch (error) {
        case IoError::None:
            return "none";
        case IoError::Aborted:
            return "operation aborted";
        case IoError::DeviceGone:
            return "device gone";
        case IoError::Failed:
            return "failed";
    }
    return "unknown";
}

ParsedPath ParsePath(std::string_view path) {
    ParsedPath parsed;
    if (EndsWith(path, kReadPipeSuffix)) {
        parsed.endpoint = Endpoint::ReadPipe;
        path.remove_suffix(kReadPipeSuffix.size());
    } else if (EndsWith(path, kWritePipeSuffix)) {
        parsed.endpoint = Endpoint::WritePipe;
        path.remove_suffix(kWritePipeSuffix.size());
    }
    parsed.device_path = std::string(path);
    return parsed;
}

std::vector<std::string> EnumerateInterfaces(const Guid& interface_class) {
    std::vector<std::string> paths;
    if (interface_class != CardInterfaceGuid)
        return paths;
    for (Backend* backend : Backends()) {
        std::vector<std::string> found = backend->Enumerate(interface_class);
        std::sort(found.begin(), found.end());
        paths.insert(paths.end(), found.begin(), found.end());
    }
    return paths;
}

OpenResult OpenPath(std::string_view path) {
    ParsedPath parsed = ParsePath(path);
    const std::string_view device = parsed.device_path;
    const size_t colon = device.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view scheme = device.substr(0, colon);
        for (Backend* backend : Backends()) {
            if (backend->Scheme() != scheme)
                continue;
            OpenResult result = backend->Open(device, parsed.endpoint);
            if (result.handle && parsed.endpoint != Endpoint::Interface) {
                result.handle =
                    std::make_unique<PipeHandle>(std::move(result.handle), parsed.endpoint);
            }
            return result;
        }
    }
    OpenResult result;
    result.error = OpenError::NotFound;
    result.message = "There is no device at \"" + std::string(path) + "\".";
    return result;
}

}  // namespace platform
