#include "tools/cli/saved_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/cli/input_file.h"

namespace cli {
namespace {

// Far more lines than a folder of every photo of many cards needs.
constexpr size_t kMaxIndexBytes = 16u << 20;

}  // namespace

bool SavedIndex::Load(const std::string& dir, std::string* error) {
    path_ = (std::filesystem::path(dir) / kFileName).string();
    names_by_id_.clear();
    ids_by_name_.clear();
    struct stat st {};
    if (lstat(path_.c_str(), &st) != 0 && errno == ENOENT)
        return true;
    const std::optional<std::vector<uint8_t>> bytes = ReadBoundedFile(path_, kMaxIndexBytes, error);
    if (!bytes)
        return false;
    const std::string text(bytes->begin(), bytes->end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();  // a last line cut short by an interruption
        const std::string line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0 && tab + 1 < line.size()) {
            const std::string id = line.substr(0, tab);
            const std::string name = line.substr(tab + 1);
            names_by_id_[id] = name;
            ids_by_name_[name] = id;
        }
        start = end + 1;
    }
    return true;
}

std::optional<std::string> SavedIndex::IdOf(const std::string& name) const {
    const auto found = ids_by_name_.find(name);
    if (found == ids_by_name_.end())
        return std::nullopt;
    return found->second;
}

bool SavedIndex::Add(const std::string& id, const std::string& name, std::string* error) {
    const std::string line = id + "\t" + name + "\n";
    // One write of one line with O_APPEND: an interrupted get-all leaves
    // whole lines for the photos it saved.
    const int fd =
        open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    if (ok) {
        const ssize_t n = write(fd, line.data(), line.size());
        ok = n == static_cast<ssize_t>(line.size());
        if (close(fd) != 0)
            ok = false;
    }
    if (!ok) {
        *error = "cannot record the photo in " + path_ + ": " + std::strerror(errno);
        return false;
    }
    names_by_id_[id] = name;
    ids_by_name_[name] = id;
    return true;
}

}  // namespace cli
