// Two users on one machine: the victim runs quorbit-cli and lensmere, and a
// camera is served by the victim, by root or by another user, in a camera
// folder that belongs to one of them. The victim's programs use the camera
// only when folder and server are the victim's own (or root's server).
// Needs root, to run the programs as other users (setpriv).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/temp_dir.h"
#include "tools/tests/process.h"

namespace {

std::string Required(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
}

// Numeric users no one has: unique per test process, so that the sanitizer
// tree's run of this test never shares /tmp/camsim-<uid> with this one.
const int kVictim = 20000 + (::getpid() % 10000) * 2;
const int kOther = kVictim + 1;
constexpr int kRoot = 0;

// The command line that runs argv as uid, with only the given variables.
std::vector<std::string> As(int uid, const std::vector<std::string>& env,
                            const std::vector<std::string>& argv) {
    const std::string id = std::to_string(uid);
    std::vector<std::string> all{"setpriv",           "--reuid=" + id, "--regid=" + id,
                                 "--clear-groups",    "env",           "-i",
                                 "PATH=/usr/bin:/bin"};
    for (const char* passed : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char* v = std::getenv(passed))
            all.push_back(std::string(passed) + "=" + v);
    }
    all.insert(all.end(), env.begin(), env.end());
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Case {
    const char* what;
    int folder_owner;
    mode_t folder_mode;
    bool default_folder;  // /tmp/camsim-<victim>, as without CAMSIM_DIR and XDG_RUNTIME_DIR
    int server;
    bool used;
    std::string why;  // in the message when not used
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

class TwoUsers : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "running programs as other users needs root";
        cli_ = Required("QUORBIT_TEST_CLI");
        library_ = Required("QUORBIT_TEST_LIBRARY");
        camsim_ = Required("QUORBIT_TEST_CAMSIM");
        lensmere_ = Required("QUORBIT_TEST_LENSMERE");
        ASSERT_FALSE(cli_.empty() || library_.empty() || camsim_.empty());
        ASSERT_EQ(::chmod(base_.path().c_str(), 0755), 0);
    }
    void TearDown() override {
        camsim_process_.Stop();
        if (!default_folder_.empty())
            std::filesystem::remove_all(default_folder_);
    }

    // A folder of its own for the user, mode 0700.
    std::string FolderOf(int uid, const std::string& name) {
        const std::string path = base_ / name;
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0);
        EXPECT_EQ(::chown(path.c_str(), uid, uid), 0);
        return path;
    }

    // camsim serving a formatted card as uid, its socket then moved into
    // folder (as root alone could, for the cases of a folder the server
    // could not write to).
    void ServeAs(int uid, const std::string& folder) {
        const std::string own = FolderOf(uid, "serve");
        const std::string card = own + "/card.img";
        const auto made = testproc::Run({camsim_, "make-card", card, "--geometry", "16MbLe"}, 30);
        ASSERT_EQ(made.status, 0) << made.err;
        ASSERT_EQ(::chown(card.c_str(), uid, uid), 0);
        ASSERT_TRUE(camsim_process_.Start(
            As(uid, {"CAMSIM_DIR=" + own},
               {camsim_, "serve", "--card", card, "--geometry", "16MbLe", "--name", "cam"}),
            base_ / "camsim.log"));
        ASSERT_TRUE(testproc::WaitForPath(own + "/cam.sock", 10)) << ReadFile(base_ / "camsim.log");
        ASSERT_EQ(::rename((own + "/cam.sock").c_str(), (folder + "/cam.sock").c_str()), 0);
        // Anyone may connect, as to a server started with umask 0.
        ASSERT_EQ(::chmod((folder + "/cam.sock").c_str(), 0777), 0);
    }

    std::vector<std::string> VictimEnv(const std::string& folder) const {
        std::vector<std::string> env{"HOME=" + home_};
        if (!GetParam().default_folder)
            env.push_back("CAMSIM_DIR=" + folder);
        return env;
    }

    testsupport::TempDir base_;
    std::string cli_, library_, camsim_, lensmere_;
    std::string home_;
    std::string default_folder_;
    testproc::Background camsim_process_;
};

TEST_P(TwoUsers, TheVictimsProgramsUseOnlyTheirOwnCameras) {
    const Case& c = GetParam();
    home_ = FolderOf(kVictim, "home");
    std::string folder;
    if (c.default_folder) {
        default_folder_ = folder = "/tmp/camsim-" + std::to_string(kVictim);
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0) << folder << " is left from an earlier run";
        ASSERT_EQ(::chown(folder.c_str(), c.folder_owner, c.folder_owner), 0);
    } else {
        folder = FolderOf(c.folder_owner, "cameras");
    }
    ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
    ASSERT_NO_FATAL_FAILURE(ServeAs(c.server, folder));

    const auto info =
        testproc::Run(As(kVictim, VictimEnv(folder), {cli_, "--library", library_, "info"}), 60);
    if (c.used) {
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_NE(info.out.find("connected: yes"), std::string::npos) << info.out;
        EXPECT_EQ(info.err.find("not using"), std::string::npos) << info.err;
        return;
    }
    EXPECT_NE(info.status, 0);
    EXPECT_NE(info.out.find("connected: no"), std::string::npos) << info.out;
    EXPECT_NE(info.err.find(c.why), std::string::npos) << info.err;

    // lensmere's device link skips it the same way.
    if (lensmere_.empty())
        return;
    std::vector<std::string> env = VictimEnv(folder);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    const std::string log = base_ / "lensmere.log";
    testproc::Background lensmere;
    ASSERT_TRUE(lensmere.Start(As(kVictim, env, {lensmere_, "--pictures-folder"}), log));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(log).find(c.why) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline && lensmere.Running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    lensmere.Stop();
    EXPECT_NE(ReadFile(log).find(c.why), std::string::npos) << ReadFile(log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TwoUsers,
    ::testing::Values(Case{"own_camera", kVictim, 0700, false, kVictim, true, ""},
                      Case{"roots_camera_in_own_folder", kVictim, 0700, false, kRoot, true, ""},
                      Case{"default_folder_made_first_by_another_user", kOther, 0700, true, kOther,
                           false,
                           "not using the cameras in /tmp/camsim-" + std::to_string(kVictim) +
                               ": it belongs to user " + std::to_string(kOther)},
                      Case{"another_users_folder", kOther, 0755, false, kOther, false,
                           "it belongs to user " + std::to_string(kOther)},
                      Case{"own_folder_others_can_write_to", kVictim, 01777, false, kVictim, false,
                           "other users can write to it (mode 1777)"},
                      Case{"another_users_camera_in_own_folder", kVictim, 0700, false, kOther,
                           false, "runs as user " + std::to_string(kOther)}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
