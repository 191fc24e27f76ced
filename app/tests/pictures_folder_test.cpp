// The folder lensmere works in: the pictures folder when the desktop entry's
// option asks for it, else the folder it was started in.
#include "app/pictures_folder.h"
#include "app/temporary_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class PicturesFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/lensmere-home-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        home_ = templ;
        start_ = fs::current_path();
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(start_);
        fs::remove_all(home_);
    }
    // Runs the start-up step on these arguments; returns what is left of them.
    std::vector<std::string> Start(std::vector<std::string> args, bool* ok) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(args.size());
        *ok = lensmere::EnterPicturesFolderIfAsked(argc, argv.data());
        return std::vector<std::string>(argv.begin(), argv.begin() + argc);
    }
    std::string home_;
    fs::path start_;
};

TEST_F(PicturesFolder, TheDesktopEntryOptionEntersTheXdgPicturesFolder) {
    fs::create_directories(home_ + "/.config");
    std::ofstream(home_ + "/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    bool ok = false;
    const auto rest = Start({"lensmere", "-platform", "offscreen", "--pictures-folder"}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(rest, (std::vector<std::string>{"lensmere", "-platform", "offscreen"}));
    EXPECT_EQ(fs::current_path(), fs::path(home_ + "/Bilder")) << "made when missing";
}

TEST_F(PicturesFolder, WithoutUserDirsItIsPicturesInTheHomeFolder) {
    bool ok = false;
    Start({"lensmere", "--pictures-folder"}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(fs::current_path(), fs::path(home_ + "/Pictures"));
}

TEST_F(PicturesFolder, TheOptionIsToldToTheCaller) {
    for (const bool given : {true, false}) {
        std::vector<std::string> args{"lensmere"};
        if (given)
            args.push_back("--pictures-folder");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(args.size());
        bool asked = !given;
        lensmere::EnterPicturesFolderIfAsked(argc, argv.data(), &asked);
        EXPECT_EQ(asked, given);
        fs::current_path(start_);
    }
}

TEST_F(PicturesFolder, FromATerminalItStaysWhereItWasStarted) {
    bool ok = false;
    const auto rest = Start({"lensmere"}, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(rest, std::vector<std::string>{"lensmere"});
    EXPECT_EQ(fs::current_path(), start_);
    EXPECT_FALSE(fs::exists(home_ + "/Pictures"));
}

TEST_F(PicturesFolder, AFolderThatCannotBeMadeLeavesTheStartFolder) {
    std::ofstream(home_ + "/Pictures") << "a file, not a folder";
    bool ok = true;
    Start({"lensmere", "--pictures-folder"}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(fs::current_path(), start_);
}

// The private folder of the temporary pictures: in the runtime folder when
// the session has a proper one, else in the cache folder.
struct TemporaryCase {
    const char* what;
    const char* runtime;  // "own", "open" (mode 0777), "relative", "file", "unset"
    const char* base;     // where the folder is made: "runtime", "cache"
};

class TemporaryFolder : public PicturesFolder,
                        public ::testing::WithParamInterface<TemporaryCase> {};

TEST_P(TemporaryFolder, IsPrivateOnePerProgramAndGoesWithItsPictures) {
    const TemporaryCase& c = GetParam();
    const std::string runtime = home_ + "/run";
    const std::string kind = c.runtime;
    if (kind == "file") {
        std::ofstream(runtime) << "not a folder";
    } else if (kind != "unset") {
        fs::create_directory(runtime);
        ::chmod(runtime.c_str(), kind == "open" ? 0777 : 0700);
    }
    if (kind == "unset")
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", kind == "relative" ? "run" : runtime.c_str(), 1);
    setenv("XDG_CACHE_HOME", (home_ + "/cache").c_str(), 1);

    std::string error;
    auto first = lensmere::PrivateTemporaryFolder::Create(&error);
    auto second = lensmere::PrivateTemporaryFolder::Create(&error);
    ASSERT_TRUE(first && second) << error;
    const fs::path path = first->path().toStdString();
    const std::string base = std::string(c.base) == "runtime" ? runtime : home_ + "/cache/lensmere";
    EXPECT_EQ(path.parent_path(), fs::path(base));
    EXPECT_NE(first->path(), second->path()) << "one folder per running program";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    std::ofstream(path / "TEMP.BMP") << "bitmap";
    std::ofstream(path / "TEMP.jpg") << "jpeg";
    first.reset();
    EXPECT_FALSE(fs::exists(path)) << "the folder and both pictures go";

    // Something else in the folder is not ours to delete.
    const fs::path kept = second->path().toStdString();
    std::ofstream(kept / "TEMP.BMP") << "bitmap";
    std::ofstream(kept / "notes.txt") << "someone's";
    second.reset();
    EXPECT_FALSE(fs::exists(kept / "TEMP.BMP"));
    EXPECT_TRUE(fs::exists(kept / "notes.txt"));
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("XDG_CACHE_HOME");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemporaryFolder,
    ::testing::Values(TemporaryCase{"session_runtime_folder", "own", "runtime"},
                      TemporaryCase{"no_runtime_folder", "unset", "cache"},
                      TemporaryCase{"runtime_folder_others_can_write_to", "open", "cache"},
                      TemporaryCase{"relative_runtime_folder", "relative", "cache"},
                      TemporaryCase{"runtime_folder_is_a_file", "file", "cache"}),
    [](const auto& info) { return std::string(info.param.what); });

// The program started from the menu and ended by the session (SIGTERM,
// SIGHUP) or Ctrl-C (SIGINT): it ends normally and takes its temporary
// pictures with it.
class EndedBySignal : public PicturesFolder, public ::testing::WithParamInterface<int> {};

TEST_P(EndedBySignal, TheProgramRemovesItsTemporaryFolder) {
    const std::string runtime = home_ + "/run";
    fs::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    std::vector<std::string> env{"HOME=" + home_, "XDG_RUNTIME_DIR=" + runtime,
                                 "CAMSIM_DIR=" + home_ + "/cameras", "QT_QPA_PLATFORM=offscreen",
                                 "PATH=/usr/bin:/bin"};
    std::vector<std::string> args{LENSMERE_PATH, "--pictures-folder"};
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, LENSMERE_PATH, nullptr, nullptr, argv.data(), envp.data()), 0);

    // The folder is made before the window shows; wait for it (the program
    // takes a moment to start).
    fs::path folder;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (folder.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : fs::directory_iterator(runtime))
            folder = entry.path();
        if (folder.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(folder.empty()) << "no temporary folder in " << runtime;
    std::ofstream(folder / "TEMP.BMP") << "as a view leaves it";
    std::ofstream(folder / "TEMP.jpg") << "as printing leaves it";
    // Qt's event loop may not run yet when the folder appears: the signal
    // waits in the pipe until it does.
    ASSERT_EQ(::kill(pid, GetParam()), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(fs::is_empty(runtime)) << folder << " is left";
    EXPECT_TRUE(fs::is_directory(home_ + "/Pictures/MyPhoto"));
}

INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
