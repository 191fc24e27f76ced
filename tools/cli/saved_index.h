// What get-all saved in a folder: one line a photo, its id, a tab and the
// name it was saved under (relative to the folder), kept in the folder's
// ".quorbit-ids". get-all skips a photo by its id wherever the name pattern
// put it (a folder per day, say), however the photos were renumbered since.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace cli {

class SavedIndex {
  public:
    static constexpr const char* kFileName = ".quorbit-ids";

    // Reads the index of `dir`; a folder without one (or no folder yet) has
    // an empty index. False, the reason in error, when it cannot be read.
    bool Load(const std::string& dir, std::string* error);

    bool Has(const std::string& id) const { return names_by_id_.count(id) != 0; }
    // The id saved under `name`, when the index knows the name.
    std::optional<std::string> IdOf(const std::string& name) const;

    // Records a photo saved under `name` (the folder must exist by then);
    // false, the reason in error, when the index cannot be written.
    bool Add(const std::string& id, const std::string& name, std::string* error);

  private:
    std::string path_;
    std::map<std::string, std::string> names_by_id_;
    std::map<std::string, std::string> ids_by_name_;
};

}  // namespace cli
