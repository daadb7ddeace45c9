// The resource cache: placement, eviction, merging, counting and every way
// it refuses, checked against the list as it stands and res_check().
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "res/res.h"

namespace {

namespace fs = std::filesystem;

// The program's one line goes to standard output; the death test reads the
// child's standard error, so the child sends both to the same place.
#define EXPECT_FATAL(statement, regex)                                           \
    EXPECT_EXIT(                                                                 \
        {                                                                        \
            dup2(STDERR_FILENO, STDOUT_FILENO);                                  \
            statement;                                                           \
        },                                                                       \
        ::testing::ExitedWithCode(1), regex)

// Runs each test in a fresh temporary directory with an empty lib/ inside.
class ResTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        char tmpl[] = "/tmp/polydrive-res-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "lib");
        fs::current_path(dir_);
    }
    void TearDown() override {
        res_shutdown();
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }

    // A file of `size` bytes whose byte i is (seed + i) mod 251.
    static void write_file(const std::string &name, int size, int seed = 0) {
        std::ofstream out("lib/" + name, std::ios::binary);
        for (int i = 0; i < size; ++i) out.put(static_cast<char>((seed + i) % 251));
    }
    static bool holds_file(const uint8_t *data, int size, int seed = 0) {
        for (int i = 0; i < size; ++i)
            if (data[i] != (seed + i) % 251) return false;
        return true;
    }

    static std::vector<ResBlockInfo> list() {
        std::vector<ResBlockInfo> out(64);
        out.resize(static_cast<size_t>(res_snapshot(out.data(), 64)));
        return out;
    }
    // The list from the head: "free@50+10" for a free block, "P@0" for a
    // resident resource ("P@0x2" with two locks), "P-" for one not resident.
    static std::string layout() {
        std::string out;
        for (const ResBlockInfo &b : list()) {
            if (!out.empty()) out += ' ';
            if (b.id == -1) {
                out += "free@" + std::to_string(b.offset) + "+" + std::to_string(b.size);
                continue;
            }
            out += res_name(b.id);
            out += b.resident ? "@" + std::to_string(b.offset) : "-";
            if (b.lock_count > 0) out += "x" + std::to_string(b.lock_count);
        }
        return out;
    }
    static ResBlockInfo entry(ResourceId id) {
        for (const ResBlockInfo &b : list())
            if (b.id == id) return b;
        ADD_FAILURE() << "no entry " << id;
        return {};
    }
    static int open_files() {
        int n = 0;
        DIR *d = opendir("/proc/self/fd");
        while (readdir(d) != nullptr) ++n;
        closedir(d);
        return n;
    }

    fs::path old_cwd_, dir_;
};

// The worked example: a 100-byte pool and P (60), Q (30), R (50).
TEST_F(ResTest, HundredBytePoolExample) {
    write_file("P", 60, 1);
    write_file("Q", 30, 2);
    write_file("R", 50, 3);
    res_init(100);
    const ResourceId p = res_register("P"), q = res_register("Q"), r = res_register("R");
    EXPECT_EQ(layout(), "free@0+100 P- Q- R-");

    uint8_t *pp = res_lock(p);
    res_unlock(p);
    EXPECT_TRUE(holds_file(pp, 60, 1));
    EXPECT_EQ(layout(), "free@60+40 P@0 Q- R-");
    res_lock(q);
    res_unlock(q);
    EXPECT_EQ(layout(), "free@90+10 P@0 Q@60 R-");
    EXPECT_EQ(entry(q).stamp, 2);

    // Only P is large enough: it goes, R takes its start, the rest is at the head.
    uint8_t *rp = res_lock(r);
    EXPECT_EQ(rp, pp);
    EXPECT_TRUE(holds_file(rp, 50, 3));
    EXPECT_EQ(entry(r).stamp, 3);
    EXPECT_EQ(layout(), "free@50+10 free@90+10 P- Q@60 R@0x1");
    EXPECT_TRUE(res_check());
    res_unlock(r);
    EXPECT_EQ(layout(), "free@50+10 free@90+10 P- Q@60 R@0");   // they do not touch
    EXPECT_TRUE(res_check());

    // R's block and the free block after it would hold P together, but the
    // cache never joins blocks for a request.
    EXPECT_FATAL(res_lock(p), "Fatal error: no block large enough\n");
}

TEST_F(ResTest, RegistrationIsByName) {
    write_file("a.bin", 10);
    write_file("b.bin", 20);
    res_init(100);
    const int files = open_files();
    const ResourceId a = res_register("a.bin");
    EXPECT_EQ(open_files(), files + 1);
    // Found by name: the file is not opened again, even once it is gone.
    fs::remove("lib/a.bin");
    EXPECT_EQ(res_register("a.bin"), a);
    EXPECT_EQ(open_files(), files + 1);
    const ResourceId b = res_register("b.bin");
    EXPECT_NE(a, b);
    EXPECT_TRUE(a >= 0 && a < 65536 && b >= 0 && b < 65536);
    EXPECT_EQ(res_size(a), 10);
    EXPECT_EQ(res_size(b), 20);
    EXPECT_EQ(layout(), "free@0+100 a.bin- b.bin-");
    // The files stay open until the cache shuts down, and no longer.
    res_shutdown();
    EXPECT_EQ(open_files(), files);
}

TEST_F(ResTest, FileAsLargeAsThePoolFits) {
    write_file("full", 10240);
    write_file("over", 10241);
    res_init(10240);
    const ResourceId full = res_register("full");
    EXPECT_TRUE(holds_file(res_lock(full), 10240));
    EXPECT_EQ(layout(), "full@0x1");   // the filled block left the list
    EXPECT_TRUE(res_check());
    EXPECT_FATAL(res_register("over"), "Fatal error: resource `over' too big\n");
}

TEST_F(ResTest, Refusals) {
    EXPECT_FATAL(res_lock(0), "Fatal error: no loaded resources\n");
    EXPECT_FATAL(res_unlock(0), "Fatal error: resource 0 is not loaded\n");
    write_file("a", 10);
    res_init(100);
    res_register("a");
    EXPECT_FATAL(res_unlock(7), "Fatal error: resource 7 is not loaded\n");
    EXPECT_FATAL(res_lock(7), "Fatal error: resource 7 is not loaded\n");
    // -1 marks free blocks; it never names one.
    EXPECT_FATAL(res_lock(-1), "Fatal error: resource -1 is not loaded\n");
    EXPECT_FATAL(res_register("missing"), "Fatal error: cannot load resource `missing'\n");
    fs::create_directory("lib/dir");
    EXPECT_FATAL(res_register("dir"), "Fatal error: cannot load resource `dir'\n");
    EXPECT_FATAL(res_register(""), "Fatal error: cannot load resource `'\n");
    std::ofstream("outside", std::ios::binary) << "x";
    EXPECT_FATAL(res_register("../outside"), "Fatal error: bad resource name `../outside'\n");
    const std::string longest(59, 'n'), too_long(60, 'n');
    write_file(longest, 5);
    EXPECT_EQ(res_size(res_register(longest.c_str())), 5);
    EXPECT_FATAL(res_register(too_long.c_str()), "Fatal error: resource name `n+' too long\n");
    // Harmless twice, and the cache is then empty.
    res_shutdown();
    res_shutdown();
    EXPECT_TRUE(res_check());
    EXPECT_EQ(layout(), "");
}

TEST_F(ResTest, LockCounting) {
    write_file("a", 10, 4);
    res_init(100);
    const ResourceId a = res_register("a");
    uint8_t *first = res_lock(a);
    // Already resident: same bytes, no read (the file's new content is not seen).
    write_file("a", 10, 9);
    EXPECT_EQ(res_lock(a), first);
    EXPECT_TRUE(holds_file(first, 10, 4));
    EXPECT_EQ(entry(a).stamp, 1);
    res_unlock(a);
    EXPECT_EQ(layout(), "free@10+90 a@0x1");
    res_unlock(a);
    res_unlock(a);
    EXPECT_EQ(layout(), "free@10+90 a@0");
    EXPECT_TRUE(res_check());
}

TEST_F(ResTest, EvictionPicksOldestResident) {
    write_file("a", 40, 1);
    write_file("b", 40, 2);
    write_file("c", 40, 3);
    res_init(80);
    const ResourceId a = res_register("a"), b = res_register("b"), c = res_register("c");
    res_lock(a);
    res_lock(b);
    res_unlock(a);
    res_unlock(b);
    // Locking A again is not a use: A stays the oldest.
    res_lock(a);
    res_unlock(a);
    EXPECT_TRUE(holds_file(res_lock(c), 40, 3));
    EXPECT_EQ(layout(), "a- b@40 c@0x1");
    res_unlock(c);
    // A comes back from its file unchanged, over B (now the oldest).
    EXPECT_TRUE(holds_file(res_lock(a), 40, 1));
    EXPECT_EQ(layout(), "a@40x1 b- c@0");
    EXPECT_EQ(entry(a).stamp, 5);
    EXPECT_TRUE(res_check());
}

TEST_F(ResTest, EvictionRefusals) {
    write_file("a", 50);
    write_file("b", 50);
    write_file("c", 30);
    write_file("d", 40);
    res_init(100);
    const ResourceId a = res_register("a"), b = res_register("b"), c = res_register("c");
    const ResourceId d = res_register("d");
    res_lock(a);
    res_lock(b);
    // Both are large enough and both are locked.
    EXPECT_FATAL(res_lock(c), "Fatal error: all blocks are locked\n");
    res_unlock(a);
    res_lock(c);
    res_unlock(c);
    EXPECT_EQ(layout(), "free@30+20 a- b@50x1 c@0 d-");
    // 20 free bytes and the unlocked 30-byte c beside them would hold 40
    // together, but only b's block is large enough on its own, and b is locked.
    EXPECT_FATAL(res_lock(d), "Fatal error: all blocks are locked\n");
    res_unlock(b);
    res_lock(d);
    EXPECT_EQ(layout(), "free@90+10 free@30+20 a- b- c@0 d@50x1");
    EXPECT_TRUE(res_check());
}

TEST_F(ResTest, SplitBlockGoesToHeadAndMergesOnUnlock) {
    write_file("a", 60, 1);
    write_file("c", 50, 3);
    res_init(100);
    const ResourceId a = res_register("a"), c = res_register("c");
    res_lock(a);
    res_unlock(a);
    // 40 free bytes are too few: a is evicted, c takes 0..49, and 50..59
    // goes to the head, ahead of the block it touches.
    res_lock(c);
    EXPECT_EQ(layout(), "free@50+10 free@60+40 a- c@0x1");
    EXPECT_TRUE(res_check());
    // The next unlock joins them into the block nearer the head; resource
    // entries never merge.
    res_unlock(c);
    EXPECT_EQ(layout(), "free@50+50 a- c@0");
    EXPECT_TRUE(res_check());
}

TEST_F(ResTest, ReadsExactlyTheRegisteredSize) {
    write_file("x", 10, 1);
    write_file("b", 10, 2);
    write_file("a", 10, 3);
    res_init(20);
    const ResourceId x = res_register("x"), b = res_register("b"), a = res_register("a");
    res_lock(x);
    const uint8_t *bp = res_lock(b);
    res_unlock(x);
    // a grew after registration: only its registered 10 bytes are read, into
    // x's old block, and b right behind it keeps its bytes.
    write_file("a", 30, 5);
    EXPECT_TRUE(holds_file(res_lock(a), 10, 5));
    EXPECT_TRUE(holds_file(bp, 10, 2));
    EXPECT_EQ(layout(), "x- b@10x1 a@0x1");
    // Shrunk below its registered size: the block would keep stale bytes.
    write_file("x", 4);
    res_unlock(a);
    EXPECT_FATAL(res_lock(x), "Fatal error: cannot read resource `x'\n");
}

}  // namespace
