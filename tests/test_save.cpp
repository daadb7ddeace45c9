// base/save: a file is replaced whole or left as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/save.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Files in the folder other than the ones named: leftover temporaries.
std::vector<std::string> others(const fs::path &dir, const std::vector<std::string> &known) {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename();
        if (std::find(known.begin(), known.end(), name) == known.end()) found.push_back(name);
    }
    return found;
}

class Save : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/test-save-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        target = dir / "out.bin";
    }
    void TearDown() override { fs::remove_all(dir); }

    bool save(const std::string &bytes, bool only_new = false) {
        SaveFile f;
        if (!save_begin(&f, target.c_str())) return false;
        std::fwrite(bytes.data(), 1, bytes.size(), f.stream);
        return only_new ? save_commit_new(&f) : save_commit(&f);
    }

    fs::path dir, target;
};

TEST_F(Save, CommitReplacesTheTargetAndLeavesNothingElse) {
    ASSERT_TRUE(save("first"));
    ASSERT_TRUE(save("second, longer"));
    EXPECT_EQ(slurp(target), "second, longer");
    EXPECT_TRUE(others(dir, {"out.bin"}).empty());
}

// A file size limit stands in for a full disk: the write fails part way.
TEST_F(Save, AFailedWriteLeavesTheOldFileByteForByte) {
    const std::string old(3000, 'o');
    ASSERT_TRUE(save(old));
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = save(std::string(100000, 'n'));
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(slurp(target), old);
    EXPECT_TRUE(others(dir, {"out.bin"}).empty());
}

TEST_F(Save, CommitNewNeverOverwrites) {
    ASSERT_TRUE(save("kept", true));
    errno = 0;
    EXPECT_FALSE(save("lost", true));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(slurp(target), "kept");
    EXPECT_TRUE(others(dir, {"out.bin"}).empty());
}

TEST_F(Save, AbortAndAbortPendingRemoveTheTemporaries) {
    SaveFile a, b;
    ASSERT_TRUE(save_begin(&a, target.c_str()));
    ASSERT_TRUE(save_begin(&b, (dir / "two.bin").c_str()));
    std::fputs("partial", a.stream);
    EXPECT_EQ(others(dir, {}).size(), 2u);
    save_abort_pending();   // as a signal handler would
    EXPECT_TRUE(others(dir, {}).empty());
    save_abort(&a);
    save_abort(&b);
    save_abort(&b);   // harmless twice
    EXPECT_FALSE(fs::exists(target));
    // The slots are free again: a later save works and is not removed.
    ASSERT_TRUE(save("after"));
    save_abort_pending();
    EXPECT_EQ(slurp(target), "after");
}

TEST_F(Save, AMissingFolderFailsWithoutATrace) {
    SaveFile f;
    EXPECT_FALSE(save_begin(&f, (dir / "no/such/out.bin").c_str()));
    EXPECT_EQ(f.stream, nullptr);
    save_abort(&f);
    EXPECT_TRUE(others(dir, {}).empty());
}

}   // namespace
