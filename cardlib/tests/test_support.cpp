#include "cardlib/tests/test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/card_maker.h"

namespace quorbit::testing {

std::vector<Event> TransferLog::Commands(uint8_t opcode) const {
    std::vector<Event> out;
    for (const Event& e : events_)
        if (e.IsCommand() && (opcode == 0 || e.opcode() == opcode))
            out.push_back(e);
    return out;
}

size_t TransferLog::Count(Event::Kind kind) const {
    size_t n = 0;
    for (const Event& e : events_)
        n += e.kind == kind;
    return n;
}

std::chrono::microseconds TransferLog::TotalPause() const {
    std::chrono::microseconds total{0};
    for (const Event& e : events_)
        if (e.kind == Event::Kind::Pause)
            total += e.pause;
    return total;
}

std::string TransferLog::Trace() const {
    std::ostringstream out;
    bool first = true;
    for (const Event& e : events_) {
        if (!first)
            out << ' ';
        first = false;
        switch (e.kind) {
            case Event::Kind::Out:
                if (e.IsCommand())
                    out << 'C' << std::hex << int(e.opcode()) << std::dec;
                else
                    out << 'O' << e.size;
                break;
            case Event::Kind::In:
                out << 'I' << e.size;
                break;
            case Event::Kind::Pause:
                out << 'P' << e.pause.count();
                break;
        }
    }
    return out.str();
}

void LoggingClock::Sleep(Duration d) {
    if (log_ != nullptr)
        log_->Add({Event::Kind::Pause, {}, 0, d});
    now_ += d;
}

platform::IoResult RecordingPeripheral::HandleOut(platform::Endpoint endpoint,
                                                  std::span<const uint8_t> data) {
    const size_t seq = outs_++;
    if (log_->enabled)
        log_->Add({Event::Kind::Out, {data.begin(), data.end()}, data.size(), {}});
    if (fault_) {
        const platform::IoError e = fault_(Event::Kind::Out, seq, data);
        if (e != platform::IoError::None)
            return platform::IoResult::Failure(e);
    }
    return inner_->HandleOut(endpoint, data);
}

platform::IoResult RecordingPeripheral::HandleIn(platform::Endpoint endpoint,
                                                 std::span<uint8_t> buffer) {
    const size_t seq = ins_++;
    log_->Add({Event::Kind::In, {}, buffer.size(), {}});
    if (fault_) {
        const platform::IoError e = fault_(Event::Kind::In, seq, {});
        if (e != platform::IoError::None)
            return platform::IoResult::Failure(e);
    }
    return inner_->HandleIn(endpoint, buffer);
}

platform::IoResult ScriptedDevice::Write(std::span<const uint8_t> data) {
    const size_t seq = outs_++;
    if (log_->enabled)
        log_->Add({Event::Kind::Out, {data.begin(), data.end()}, data.size(), {}});
    if (fault_) {
        const platform::IoError e = fault_(Event::Kind::Out, seq, data);
        if (e != platform::IoError::None)
            return platform::IoResult::Failure(e);
    }
    return platform::IoResult::Success(data.size());
}

platform::IoResult ScriptedDevice::Read(std::span<uint8_t> buffer) {
    const size_t seq = ins_++;
    log_->Add({Event::Kind::In, {}, buffer.size(), {}});
    if (fault_) {
        const platform::IoError e = fault_(Event::Kind::In, seq, {});
        if (e != platform::IoError::None)
            return platform::IoResult::Failure(e);
    }
    std::fill(buffer.begin(), buffer.end(), fill);
    return platform::IoResult::Success(buffer.size());
}

FaultFn FailNth(Event::Kind kind, size_t nth, platform::IoError error) {
    return FailRange(kind, nth, 1, error);
}

FaultFn FailRange(Event::Kind kind, size_t first, size_t count, platform::IoError error) {
    return [=](Event::Kind k, size_t seq, std::span<const uint8_t>) {
        return k == kind && seq >= first && seq < first + count ? error : platform::IoError::None;
    };
}

sim::Variant ToVariant(GeometryKind kind) {
    switch (kind) {
        case GeometryKind::k8MbLe:
            return sim::Variant::k8MbLe;
        case GeometryKind::k16MbLe:
            return sim::Variant::k16MbLe;
        case GeometryKind::k8Mb:
            return sim::Variant::k8Mb;
        case GeometryKind::k16Mb:
            return sim::Variant::k16Mb;
        case GeometryKind::k32Mb:
            return sim::Variant::k32Mb;
        case GeometryKind::k64Mb:
            return sim::Variant::k64Mb;
        case GeometryKind::k128Mb:
            return sim::Variant::k128Mb;
    }
    return sim::Variant::k32Mb;
}

picture::Picture TestPicture(int seed) {
    picture::Picture image(kPhotoWidth, kPhotoHeight);
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(seed + 1);
    for (int y = 0; y < kPhotoHeight; ++y) {
        for (int x = 0; x < kPhotoWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            uint8_t* p = image.At(x, y);
            p[0] = static_cast<uint8_t>(x + seed * 40);
            p[1] = static_cast<uint8_t>(y + seed * 17);
            p[2] = static_cast<uint8_t>(state >> 24);
        }
    }
    return image;
}

CameraRig::CameraRig() = default;

CameraRig::~CameraRig() {
    Detach();
}

std::shared_ptr<sim::Camera> CameraRig::Attach(sim::Variant variant, int photos) {
    std::vector<picture::Picture> pictures;
    for (int i = 0; i < photos; ++i)
        pictures.push_back(TestPicture(i));
    std::string error;
    std::unique_ptr<sim::CardImage> card = sim::MakeCardInMemory(variant, pictures, &error);
    if (card == nullptr)
        return nullptr;
    return AttachCard(variant, std::move(card));
}

std::shared_ptr<sim::Camera> CameraRig::AttachCard(sim::Variant variant,
                                                   std::unique_ptr<sim::CardImage> card) {
    Detach();
    camera_ = std::make_shared<sim::Camera>(variant, std::move(card), sim::DefaultAttributes(),
                                            [](std::string_view) {});
    recorder_ = std::make_shared<RecordingPeripheral>(camera_, &log_);
    backend_.backend().Attach("cam", recorder_);
    attached_ = true;
    return camera_;
}

void CameraRig::Detach() {
    if (attached_)
        backend_.backend().Detach("cam");
    attached_ = false;
}

void CameraRig::Replug() {
    if (attached_ || recorder_ == nullptr)
        return;
    backend_.backend().Attach("cam", recorder_);
    attached_ = true;
}

std::vector<uint8_t> CameraRig::CardBytes() const {
    return camera_->Peek(0, camera_->geometry().card_bytes);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    // In one read: whole-card images are tens of megabytes.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> UploadedSlot(int seed) {
    const picture::Picture picture = TestPicture(seed);
    std::vector<uint8_t> raw(kPhotoSlotBytes);
    for (size_t i = 0; i < raw.size(); i += 4) {
        const size_t pixel = i / 4;
        const uint8_t* p = picture.At(int(pixel % 322), int(pixel / 322));
        raw[i] = p[2];
        raw[i + 1] = 0;
        raw[i + 2] = p[1];
        raw[i + 3] = p[0];
    }
    return raw;
}

std::vector<uint8_t> TestBitmap(int seed) {
    // Written by hand rather than by the library's encoder: blue, green, red
    // of each pixel, bottom row first, rows padded to 968 bytes.
    const picture::Picture picture = TestPicture(seed);
    std::vector<uint8_t> file(54 + 968 * 242, 0);
    const uint8_t header[54] = {'B', 'M', 0x46, 0x93, 0x03, 0, 0, 0,    0, 0, 54, 0, 0, 0,  40,
                                0,   0,   0,    0x42, 1,    0, 0, 0xF2, 0, 0, 0,  1, 0, 24, 0};
    std::copy(std::begin(header), std::end(header), file.begin());
    for (int y = 0; y < 242; ++y) {
        uint8_t* row = &file[54 + size_t(241 - y) * 968];
        for (int x = 0; x < 322; ++x) {
            const uint8_t* p = picture.At(x, y);
            row[3 * x] = p[2];
            row[3 * x + 1] = p[1];
            row[3 * x + 2] = p[0];
        }
    }
    return file;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

ProgressCounts& Progress() {
    static ProgressCounts counts;
    return counts;
}
void ResetProgress() {
    Progress() = {};
}
void CountingStep() {
    ++Progress().steps;
}
void CountingBegin(int32_t steps) {
    ++Progress().begins;
    Progress().announced = steps;
}

}  // namespace quorbit::testing
