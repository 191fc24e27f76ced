// Files the library writes for us (photos, card backups) are written under a
// temporary name in the destination folder and only then given their real
// name. A failed or interrupted operation thus never leaves a partial file
// under the real name, and without `overwrite` an existing file is never
// replaced, not even by a file that appeared while the operation ran.
#pragma once

#include <string>

namespace cli {

class PendingFile {
  public:
    // Reserves a temporary file beside `final_path`. On failure ok() is false
    // and error() tells why.
    explicit PendingFile(std::string final_path);
    ~PendingFile();  // removes the temporary file unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool ok() const { return !temp_path_.empty(); }
    const std::string& error() const { return error_; }
    // Where the library is to write.
    const std::string& temp_path() const { return temp_path_; }
    const std::string& final_path() const { return final_path_; }

    // Gives the written file its real name and the usual permissions.
    // Without `overwrite`, fails (and keeps the existing file) when the name is
    // taken.
    bool Commit(bool overwrite);

  private:
    std::string final_path_;
    std::string temp_path_;
    std::string error_;
    bool committed_ = false;
};

// Removes the temporary file of the operation in progress when the user
// interrupts the program (SIGINT, SIGTERM, SIGHUP), then dies of the signal.
void InstallInterruptCleanup();

}  // namespace cli
