// The folder lensmere works in: the pictures folder when the desktop entry's
// option asks for it, else the folder it was started in.
#include "app/pictures_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

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

}  // namespace
