// overlay.sock: content, location, owner-only permissions from the start, and replacement.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <nlohmann/json.hpp>

#include "child_process.hpp"
#include "common/files.hpp"
#include "common/private_file.hpp"
#include "overlay/service/socket_file.hpp"

namespace pavo::overlay {
namespace {

using pavo::testing::TempDir;

mode_t modeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 07777;
    return info.st_mode & 07777;
}

// Points HOME at a fresh directory for one test and puts the old value back.
class SocketFile : public ::testing::Test {
  protected:
    TempDir home;
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    mode_t savedMask = ::umask(0);  // the widest default: anything not set explicitly would be 0666

    void SetUp() override { ::setenv("HOME", home.path().c_str(), 1); }
    void TearDown() override {
        ::umask(savedMask);
        ::setenv("HOME", savedHome.c_str(), 1);
    }
    std::string path() const { return overlaySocketPath(home.path()); }
};

TEST_F(SocketFile, CompactJsonAtTheKnownPath) {
    writeOverlaySocketFile(47825, "s3cret \"quoted\"");
    EXPECT_EQ(path(), home.path() + "/Library/Application Support/Vexlo/Pavo/overlay.sock");
    const auto content = common::readFile(path());
    ASSERT_TRUE(content);
    EXPECT_EQ(*content, R"({"port":47825,"token":"s3cret \"quoted\""})");  // compact, no newline
    const auto object = nlohmann::json::parse(*content);
    EXPECT_EQ(object, (nlohmann::json{{"port", 47825}, {"token", "s3cret \"quoted\""}}));
    EXPECT_TRUE(object["port"].is_number_integer());
    EXPECT_EQ(socketFileContent(8080, "T"), R"({"port":8080,"token":"T"})");
}

TEST_F(SocketFile, OwnerOnlyFileInOwnerOnlyDirectoriesItCreated) {
    writeOverlaySocketFile(1, "t");
    EXPECT_EQ(modeOf(path()), 0600u);
    for (std::string dir = overlaySocketDirectory(home.path()); dir != home.path();
         dir = dir.substr(0, dir.rfind('/'))) {
        EXPECT_EQ(modeOf(dir), 0700u) << dir;
    }
}

TEST_F(SocketFile, ExistingDirectoriesAreLeftAlone) {
    ASSERT_EQ(::mkdir((home.path() + "/Library").c_str(), 0755), 0);
    writeOverlaySocketFile(1, "t");
    EXPECT_EQ(modeOf(home.path() + "/Library"), 0755u);
    EXPECT_EQ(modeOf(home.path() + "/Library/Application Support"), 0700u);
}

TEST_F(SocketFile, ASecondWriteReplacesContentAndPermissions) {
    writeOverlaySocketFile(1111, "first");
    ASSERT_EQ(::chmod(path().c_str(), 0644), 0);  // as an older writer might have left it
    writeOverlaySocketFile(2222, "second");
    EXPECT_EQ(common::readFile(path()), R"({"port":2222,"token":"second"})");
    EXPECT_EQ(modeOf(path()), 0600u);
    // no temporary files are left behind
    int entries = 0;
    DIR* dir = ::opendir(overlaySocketDirectory(home.path()).c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = ::readdir(dir)) entries += entry->d_name[0] != '.';
    ::closedir(dir);
    EXPECT_EQ(entries, 1);
}

TEST_F(SocketFile, NeverObservableWithWiderPermissions) {
    writeOverlaySocketFile(1, "t");
    const std::string directory = overlaySocketDirectory(home.path());
    std::atomic<bool> done{false};
    std::atomic<int> widerSeen{0}, looks{0};
    // Looks at every file in the directory, temporaries included, while the file is rewritten.
    std::thread watcher([&] {
        while (!done) {
            DIR* dir = ::opendir(directory.c_str());
            if (!dir) continue;
            while (const dirent* entry = ::readdir(dir)) {
                if (entry->d_name[0] == '.' && (entry->d_name[1] == 0 || entry->d_name[1] == '.')) continue;
                const mode_t mode = modeOf(directory + "/" + entry->d_name);
                if (mode == 07777) continue;  // gone between readdir and stat
                ++looks;
                if (mode & 077) ++widerSeen;
            }
            ::closedir(dir);
        }
    });
    for (int i = 0; i < 300; ++i) {
        if (i % 2) ::unlink(path().c_str());  // both a fresh file and a replacement
        writeOverlaySocketFile(i, "token-" + std::to_string(i));
    }
    done = true;
    watcher.join();
    EXPECT_GT(looks.load(), 0);
    EXPECT_EQ(widerSeen.load(), 0);
}

TEST_F(SocketFile, FailuresAreReported) {
    // a file where a directory is needed
    ASSERT_EQ(::mkdir((home.path() + "/Library").c_str(), 0700), 0);
    pavo::testing::TempDir other;
    const std::string blocker = other.write("Application Support", "x");
    ASSERT_EQ(::symlink(blocker.c_str(), (home.path() + "/Library/Application Support").c_str()), 0);
    EXPECT_THROW(writeOverlaySocketFile(1, "t"), std::system_error);
    // a token that cannot be written as JSON text
    EXPECT_ANY_THROW(socketFileContent(1, "\xFF"));
}

}  // namespace
}  // namespace pavo::overlay
