// The data folder lookup: the order of the places, which places are taken at
// their word, when the build tree counts, and the list of places looked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/datadir.h"

namespace {

namespace fs = std::filesystem;

// Each test in a fresh temporary directory; holding(dir) makes dir a data
// folder, and every place is given relative to the directory.
struct DataDirTest : testing::Test {
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-datadir-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        fs::current_path(dir_ = tmpl);
    }
    void TearDown() override {
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }
    static std::string holding(const std::string &dir) {
        fs::create_directories(dir);
        std::ofstream(dir + "/level1.3dw") << "w";
        return dir;
    }
    static std::string search(const DataDirPlaces &p) {
        const char *found = datadir_search(p);
        return found != nullptr ? found : "none";
    }
    fs::path old_cwd_ = fs::current_path(), dir_;
};

TEST_F(DataDirTest, FirstPlaceHoldingTheLevelWins) {
    const DataDirPlaces all{nullptr, nullptr, "/p/bin/polydrive", "/p/build"};
    EXPECT_EQ(search(all), "none");
    EXPECT_STREQ(datadir_looked(), "./lib, /p/share/polydrive/lib");

    struct Case {
        const char *what;
        DataDirPlaces places;
        const char *found;
    };
    holding("opt/share/polydrive/lib");
    holding("build/lib");
    const Case cases[] = {
        {"installed data beside the program",
         {nullptr, nullptr, "opt/bin/polydrive", "build"},
         "opt/share/polydrive/lib"},
        {"the build tree for a program inside it", {nullptr, nullptr, "build/tools/x", "build"}, "build/lib"},
        {"not for a program outside it", {nullptr, nullptr, "build2/x", "build"}, "none"},
        {"nor for a program that is the folder's namesake", {nullptr, nullptr, "build", "build"}, "none"},
        {"installed data before the build tree", {nullptr, nullptr, "opt/bin/x", "opt"}, "opt/share/polydrive/lib"},
        {"an empty POLYDRIVE_DATA is unset", {nullptr, "", "opt/bin/x", nullptr}, "opt/share/polydrive/lib"},
    };
    for (const Case &c : cases) EXPECT_EQ(search(c.places), c.found) << c.what;

    holding("lib");
    EXPECT_EQ(search({nullptr, nullptr, "opt/bin/polydrive", "build"}), "lib") << "./lib comes first";
    EXPECT_STREQ(datadir_looked(), "./lib");
}

TEST_F(DataDirTest, NamedFoldersAreTakenAtTheirWord) {
    holding("lib");
    holding("mine");
    holding("env");
    EXPECT_EQ(search({"mine", "env", nullptr, nullptr}), "mine");
    EXPECT_EQ(search({nullptr, "env", nullptr, nullptr}), "env");
    // A named folder without the level is reported, not passed over for lib.
    EXPECT_EQ(search({"nowhere", "env", nullptr, nullptr}), "none");
    EXPECT_STREQ(datadir_looked(), "nowhere (--data)");
    EXPECT_EQ(search({nullptr, "nowhere", nullptr, nullptr}), "none");
    EXPECT_STREQ(datadir_looked(), "nowhere (POLYDRIVE_DATA)");
}

TEST_F(DataDirTest, OnlyARegularLevelFileCounts) {
    fs::create_directories("lib/level1.3dw");
    fs::create_directories("dangling");
    fs::create_symlink("gone", "dangling/level1.3dw");
    EXPECT_EQ(search({nullptr, nullptr, nullptr, nullptr}), "none");
    EXPECT_EQ(search({"dangling", nullptr, nullptr, nullptr}), "none");
    holding("real");
    fs::create_directories("linked");
    fs::create_symlink(dir_ / "real/level1.3dw", "linked/level1.3dw");
    EXPECT_EQ(search({"linked", nullptr, nullptr, nullptr}), "linked");
}

// A game run from its build tree that plays ./lib names the build's lib/
// when a rebuild left a file there that differs and is newer; equal files,
// an older build, a chosen folder or a program outside the tree say nothing.
TEST_F(DataDirTest, ABuildLibNewerThanTheOnePlayedIsNamed) {
    const std::string build = (dir_ / "build").string(), exe = build + "/polydrive";
    const std::string build_lib = build + "/lib";
    const auto write = [](const std::string &path, const char *text, int age) {
        std::ofstream(path) << text;
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(age));
    };
    fs::create_directories("lib");
    fs::create_directories(build_lib);
    write("lib/level1.3dw", "old", 2);
    write(build_lib + "/level1.3dw", "old", 1);
    const DataDirPlaces from_build{nullptr, nullptr, exe.c_str(), build.c_str()};
    const auto newer = [](const DataDirPlaces &p, const char *found) {
        const char *n = datadir_newer_build(p, found);
        return std::string(n != nullptr ? n : "none");
    };
    EXPECT_EQ(newer(from_build, "lib"), "none");   // the same bytes
    write(build_lib + "/level1.3dw", "edited", 1);
    EXPECT_EQ(newer(from_build, "lib"), build_lib);
    EXPECT_EQ(newer(from_build, build_lib.c_str()), "none");   // it is the one played
    EXPECT_EQ(newer({"lib", nullptr, exe.c_str(), build.c_str()}, "lib"), "none");
    EXPECT_EQ(newer({nullptr, "lib", exe.c_str(), build.c_str()}, "lib"), "none");
    EXPECT_EQ(newer({nullptr, nullptr, "/usr/bin/polydrive", build.c_str()}, "lib"), "none");
    write("lib/level1.3dw", "yours", 0);   // lib/ edited after the build: it is the newer
    EXPECT_EQ(newer(from_build, "lib"), "none");
    write(build_lib + "/tree.bit", "new bitmap", 1);   // a file lib/ lacks
    EXPECT_EQ(newer(from_build, "lib"), build_lib);
}

// Started from the build tree, the test program finds the build's lib/ from
// any folder, through its own path and the build tree compiled in.
TEST_F(DataDirTest, ThisProcessFindsTheBuildTree) {
    const DataDirPlaces p = datadir_places(nullptr);
    ASSERT_NE(p.exe, nullptr);
    ASSERT_NE(p.build, nullptr);
    EXPECT_EQ(search({nullptr, nullptr, p.exe, p.build}), std::string(p.build) + "/lib");
}

}   // namespace
