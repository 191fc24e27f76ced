// The shared library as a host sees it: loaded at run time, exactly the
// thirteen functions exported, each with the symbol version QUORBIT_1 of the
// library libquorbit.so.1.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cardlib/quorbit.h"
#include "cardlib/tests/test_support.h"

namespace {

const std::set<std::string> kExports = {
    "OpenDevice",   "CloseDevice",     "IsConnect",      "GetPhotoCount",    "GetPhotoTotalSize",
    "GetFlashSize", "ReadPhotoToFile", "DeletePhoto",    "WriteFileToFlash", "FormatFlash",
    "ReadAll",      "GetString",       "SetProcessFunc",
};

class Library {
  public:
    Library() : handle_(dlopen(QUORBIT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    void* handle() const { return handle_; }
    template <typename F>
    F* Get(const char* name) const {
        return reinterpret_cast<F*>(dlsym(handle_, name));
    }

  private:
    void* handle_;
};

// The lines a command prints about the library.
std::vector<std::string> ToolLines(const std::string& tool) {
    std::vector<std::string> lines;
    FILE* pipe = ::popen((tool + " '" QUORBIT_LIBRARY_PATH "'").c_str(), "r");
    if (pipe == nullptr)
        return lines;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
        lines.emplace_back(line);
    ::pclose(pipe);
    return lines;
}

std::set<std::string> DynamicSymbols() {
    std::set<std::string> names;
    for (const std::string& line : ToolLines("nm -D --defined-only")) {
        std::istringstream in(line);
        std::string address, type, name;
        if (in >> address >> type >> name)
            names.insert(name);
    }
    return names;
}

TEST(ExportsTest, ExactlyTheThirteenFunctions) {
    std::set<std::string> versioned = {"QUORBIT_1"};  // the version node itself
    for (const std::string& name : kExports)
        versioned.insert(name + "@@QUORBIT_1");
    EXPECT_EQ(DynamicSymbols(), versioned);
    bool soname = false;
    for (const std::string& line : ToolLines("readelf -d -W"))
        soname = soname || (line.find("(SONAME)") != std::string::npos &&
                            line.find("[libquorbit.so.1]") != std::string::npos);
    EXPECT_TRUE(soname) << "the SONAME is libquorbit.so.1";

    Library lib;
    ASSERT_NE(lib.handle(), nullptr) << dlerror();
    for (const std::string& name : kExports)
        EXPECT_NE(dlsym(lib.handle(), name.c_str()), nullptr) << name;
    // Nothing of the implementation is reachable.
    for (const char* name :
         {"_ZN7quorbit7SessionEv",
          "_ZN8platform12ReportErrorESt17basic_string_viewIcSt11char_traitsIcEES4_",
          "iconv_open_wrapper", "main"}) {
        EXPECT_EQ(dlsym(lib.handle(), name), nullptr) << name;
    }
}

TEST(ExportsTest, LoadsUsesAndUnloadsWithoutADevice) {
    quorbit::testing::TempDir empty;
    ::setenv("CAMSIM_DIR", empty.path().c_str(), 1);
    ::setenv("LC_ALL", "C", 1);
    for (int round = 0; round < 2; ++round) {
        Library lib;
        ASSERT_NE(lib.handle(), nullptr) << dlerror();
        auto open = lib.Get<int()>("OpenDevice");
        auto close = lib.Get<int()>("CloseDevice");
        auto connected = lib.Get<int()>("IsConnect");
        auto size = lib.Get<uint16_t()>("GetFlashSize");
        auto get_string = lib.Get<int(int, char*)>("GetString");
        auto read_photo = lib.Get<int(int, const char*)>("ReadPhotoToFile");
        auto set_progress = lib.Get<void(ProgressStepFunc, ProgressBeginFunc)>("SetProcessFunc");
        EXPECT_EQ(open(), 0);
        EXPECT_EQ(connected(), 0);
        EXPECT_EQ(size(), 0);
        EXPECT_EQ(close(), -1);
        set_progress(nullptr, nullptr);
        EXPECT_EQ(read_photo(0, empty.File("x.bmp").c_str()), 0);
        char text[255];
        ASSERT_EQ(get_string(14, text), 1);
        EXPECT_STREQ(text, "write card error,work incomplete");
    }
    EXPECT_TRUE(empty.Entries().empty());
}

}  // namespace
