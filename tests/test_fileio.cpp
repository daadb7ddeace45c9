// base/fileio: inputs read the one safe way, outputs checked before the work
// and written whole with the modes any Unix tool gives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/fileio.h"

namespace fs = std::filesystem;

namespace {

class Fileio : public testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("fileio_test_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fileio_forget_inputs();
        old_mask = umask(022);
    }
    void TearDown() override {
        umask(old_mask);
        fileio_forget_inputs();
        fs::remove_all(dir);
    }
    std::string path(const char *name) const { return (dir / name).string(); }
    void put(const char *name, const std::string &text) const { std::ofstream(path(name), std::ios::binary) << text; }
    static mode_t mode_of(const std::string &p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }
    bool leftovers() const {
        for (const auto &e : fs::directory_iterator(dir))
            if (e.path().filename().string().find(".tmp-") != std::string::npos) return true;
        return false;
    }
    fs::path dir;
    mode_t old_mask = 0;
};

// A FIFO (with no writer: a blocking open would hang), a device that never
// ends, a folder and a file past the limit are refused at once; a file read
// is an input from then on, under any of its names.
TEST_F(Fileio, ReadsOnlyBoundedRegularFilesAndRemembersThem) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::vector<uint8_t> bytes;
    std::string error;
    for (const std::string &bad : {path("fifo"), std::string("/dev/zero"), dir.string()}) {
        EXPECT_FALSE(fileio_read(bad.c_str(), 1 << 20, &bytes, &error)) << bad;
        EXPECT_EQ(error, bad + ": not a regular file");
        EXPECT_TRUE(bytes.empty());
    }
    put("big", std::string(101, 'x'));
    EXPECT_FALSE(fileio_read(path("big").c_str(), 100, &bytes, &error));
    EXPECT_NE(error.find("101 bytes, more than the 100"), std::string::npos) << error;
    EXPECT_FALSE(fileio_read(path("missing").c_str(), 100, &bytes, &error));
    EXPECT_EQ(error, path("missing") + ": No such file or directory");

    put("level", "abc");
    ASSERT_TRUE(fileio_read(path("level").c_str(), 3, &bytes, &error)) << error;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abc");
    ASSERT_EQ(link(path("level").c_str(), path("second").c_str()), 0);
    ASSERT_EQ(symlink(path("level").c_str(), path("link").c_str()), 0);
    for (const char *name : {"level", "second", "link"}) {
        EXPECT_TRUE(fileio_is_input(path(name).c_str())) << name;
        EXPECT_FALSE(fileio_check_output(path(name).c_str(), &error)) << name;
        EXPECT_NE(error.find("is an input of this run"), std::string::npos) << error;
        EXPECT_FALSE(fileio_write(path(name).c_str(), "x", 1, &error)) << name;
    }
    EXPECT_EQ(fs::file_size(path("level")), 3u);
    EXPECT_TRUE(fs::is_symlink(path("link")));
}

// Outputs: a device, a FIFO and a folder are never replaced; a file in a
// folder of the data (remembered whole) is an input; a folder that takes no
// file is known before any work. None of it leaves a temporary file.
TEST_F(Fileio, OutputsAreRegularFilesOrNewNamesAndNeverInputs) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_directories(dir / "folder");
    fs::create_directories(dir / "lib");
    put("lib/level1.3dw", "level");
    ASSERT_TRUE(fileio_add_input_folder(path("lib").c_str()));
    std::string error;
    const std::pair<std::string, const char *> refused[] = {
        {path("fifo"), "not a regular file"},
        {"/dev/null", "not a regular file"},
        {path("folder"), "not a regular file"},
        {path("lib/level1.3dw"), "is an input of this run"},
        {path("nowhere/demo.keys"), "No such file or directory"},
        {"", "an empty file name"},
    };
    for (const auto &[target, why] : refused) {
        EXPECT_FALSE(fileio_check_output(target.c_str(), &error)) << target;
        EXPECT_NE(error.find(why), std::string::npos) << target << ": " << error;
    }
    EXPECT_FALSE(fileio_write(path("fifo").c_str(), "x", 1, &error));
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    EXPECT_TRUE(fs::is_directory(path("folder")));
    EXPECT_EQ(fs::file_size(path("lib/level1.3dw")), 5u);
    EXPECT_TRUE(fileio_check_output(path("lib/new.keys").c_str(), &error)) << error;
    EXPECT_FALSE(fs::exists(path("lib/new.keys")));
    EXPECT_FALSE(leftovers());
}

// A new file gets 0666 less the umask; a file replaced keeps its permission
// bits as far as the umask allows them.
TEST_F(Fileio, ModesFollowTheUmask) {
    std::string error;
    ASSERT_TRUE(fileio_write(path("new").c_str(), "a", 1, &error)) << error;
    EXPECT_EQ(mode_of(path("new")), 0644u);
    put("shared", "old");
    ASSERT_EQ(chmod(path("shared").c_str(), 0664), 0);
    ASSERT_TRUE(fileio_write(path("shared").c_str(), "new", 3, &error)) << error;
    EXPECT_EQ(mode_of(path("shared")), 0644u) << "the umask takes the group's write";
    ASSERT_EQ(chmod(path("shared").c_str(), 0640), 0);
    ASSERT_TRUE(fileio_write(path("shared").c_str(), "newer", 5, &error)) << error;
    EXPECT_EQ(mode_of(path("shared")), 0640u) << "a private file stays private";
    umask(077);
    ASSERT_TRUE(fileio_write(path("private").c_str(), "a", 1, &error)) << error;
    EXPECT_EQ(mode_of(path("private")), 0600u);
    ASSERT_TRUE(fileio_write(path("new").c_str(), "b", 1, &error)) << error;
    EXPECT_EQ(mode_of(path("new")), 0600u);
    EXPECT_FALSE(leftovers());
}

}   // namespace
