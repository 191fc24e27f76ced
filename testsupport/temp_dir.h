// A fresh temporary folder, removed with everything in it when the object goes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }
    // Names of what the folder holds, in no particular order.
    std::vector<std::string> Entries() const;

  private:
    std::string path_;
};

}  // namespace testsupport
