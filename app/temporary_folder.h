// Where lensmere keeps its temporary pictures (TEMP.BMP, TEMP.jpg) when the
// desktop menu starts it: not among the user's pictures, where photo
// managers would index them, but in a folder of this process's own in the
// user's runtime folder ($XDG_RUNTIME_DIR), else in the user's cache folder
// (~/.cache/lensmere). Two running copies so never share them, and the
// folder goes when the program ends.
#pragma once

#include <QString>

#include <memory>
#include <string>

namespace lensmere {

class PrivateTemporaryFolder {
  public:
    // A new folder (mode 0700), or null with the reason in *error.
    static std::unique_ptr<PrivateTemporaryFolder> Create(std::string* error);
    // Removes the temporary pictures and the folder; a file someone else put
    // there keeps it.
    ~PrivateTemporaryFolder();
    PrivateTemporaryFolder(const PrivateTemporaryFolder&) = delete;
    PrivateTemporaryFolder& operator=(const PrivateTemporaryFolder&) = delete;

    const QString& path() const { return path_; }

  private:
    explicit PrivateTemporaryFolder(QString path) : path_(std::move(path)) {}
    QString path_;
};

}  // namespace lensmere
