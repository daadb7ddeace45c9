// The resource cache: placement, eviction, merging, counting and every way
// it refuses, checked against the list as it stands and res_check().
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "res/res.h"
#include "expect_fatal.h"

namespace {

namespace fs = std::filesystem;

struct File {
    std::string name;
    int size, seed = 0;
};
std::string bytes(const File &f) {   // byte i is (seed + i) mod 251
    std::string out;
    for (int i = 0; i < f.size; ++i) out += static_cast<char>((f.seed + i) % 251);
    return out;
}
void write_file(const File &f) { std::ofstream("lib/" + f.name, std::ios::binary) << bytes(f); }
bool holds(const uint8_t *d, const File &f) { return std::string(d, d + f.size) == bytes(f); }
// Writes the files, starts a cache of `pool` bytes and registers them in order.
template <size_t N>
std::array<ResourceId, N> start(int32_t pool, const File (&files)[N]) {
    std::array<ResourceId, N> ids;
    for (const File &f : files) write_file(f);
    res_init(pool);
    for (size_t k = 0; k < N; ++k) ids[k] = res_register(files[k].name.c_str());
    return ids;
}
void use(ResourceId id) {
    res_lock(id);
    res_unlock(id);
}   // resident, then released
std::vector<ResBlockInfo> list() {
    std::vector<ResBlockInfo> out(64);
    out.resize(static_cast<size_t>(res_snapshot(out.data(), 64)));
    return out;
}
// The list from the head ("free@50+10 P@0x2 R-": R not resident) and any res_check failure.
std::string layout() {
    std::string out = res_check() ? "" : " res_check fails:";
    // Appended piece by piece: GCC 12's -Wrestrict misreads "literal" +
    // std::string temporaries in an optimised build.
    for (const ResBlockInfo &b : list()) {
        out += ' ';
        out += b.id == -1 ? "free" : res_name(b.id);
        if (b.id == -1 || b.resident) {
            out += '@';
            out += std::to_string(b.offset);
        } else {
            out += '-';
        }
        if (b.id == -1) {
            out += '+';
            out += std::to_string(b.size);
        }
        if (b.lock_count > 0) {
            out += 'x';
            out += std::to_string(b.lock_count);
        }
    }
    return out.empty() ? out : out.substr(1);
}
int stamp(ResourceId id) {
    for (const ResBlockInfo &b : list())
        if (b.id == id) return b.stamp;
    return -1;
}
auto open_files() { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); }

// Runs each test in a fresh temporary directory with an empty lib/ inside.
struct ResTest : testing::Test {
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-res-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        fs::create_directory(fs::path(tmpl) / "lib");
        fs::current_path(dir_ = tmpl);
    }
    void TearDown() override {
        res_shutdown();
        fs::current_path(old_cwd_);
        fs::remove_all(dir_);
    }
    fs::path old_cwd_ = fs::current_path(), dir_;
};

// The worked example: a 100-byte pool and P (60), Q (30), R (50).
TEST_F(ResTest, HundredBytePoolExample) {
    const auto [p, q, r] = start(100, {{"P", 60, 1}, {"Q", 30, 2}, {"R", 50, 3}});
    EXPECT_EQ(layout(), "free@0+100 P- Q- R-");
    uint8_t *pp = res_lock(p);
    res_unlock(p);
    EXPECT_TRUE(holds(pp, {"P", 60, 1}));
    EXPECT_EQ(layout(), "free@60+40 P@0 Q- R-");
    use(q);
    EXPECT_EQ(layout(), "free@90+10 P@0 Q@60 R-");
    EXPECT_EQ(stamp(q), 2);
    // Only P is large enough: it goes, R takes its start, the rest is at the head.
    EXPECT_EQ(res_lock(r), pp);
    EXPECT_TRUE(holds(pp, {"R", 50, 3}));
    EXPECT_EQ(stamp(r), 3);
    EXPECT_EQ(layout(), "free@50+10 free@90+10 P- Q@60 R@0x1");
    res_unlock(r);
    EXPECT_EQ(layout(), "free@50+10 free@90+10 P- Q@60 R@0");   // they do not touch
    // R's block and the free block after it would hold P, but requests never join blocks.
    EXPECT_FATAL(res_lock(p), "Fatal error: no block large enough\n");
}

TEST_F(ResTest, RegistrationIsByNameAndAFileAsLargeAsThePoolFits) {
    const auto files = open_files();
    const auto [a, b] = start(100, {{"a.bin", 10}, {"b.bin", 20}});
    EXPECT_EQ(open_files(), files + 2);
    fs::remove("lib/a.bin");   // found by name: not opened again, even once it is gone
    EXPECT_EQ(res_register("a.bin"), a);
    EXPECT_EQ(open_files(), files + 2);
    EXPECT_NE(a, b);
    EXPECT_GE(a, 0);
    EXPECT_LT(a, 65536);
    EXPECT_GE(b, 0);
    EXPECT_LT(b, 65536);
    EXPECT_EQ((std::array{res_size(a), res_size(b)}), (std::array{10, 20}));
    EXPECT_EQ(layout(), "free@0+100 a.bin- b.bin-");
    res_shutdown();   // the files stay open until the cache shuts down, and no longer
    EXPECT_EQ(open_files(), files);
    write_file({"over", 10241});
    EXPECT_TRUE(holds(res_lock(start(10240, {{"full", 10240}})[0]), {"full", 10240}));
    EXPECT_EQ(layout(), "full@0x1");   // the filled block left the list
    EXPECT_FATAL(res_register("over"), "Fatal error: resource `over' too big\n");
}

TEST_F(ResTest, Refusals) {
    EXPECT_FATAL(res_lock(0), "Fatal error: no loaded resources\n");
    EXPECT_FATAL(res_unlock(0), "Fatal error: resource 0 is not loaded\n");
    start(100, {{"a", 10}});
    EXPECT_FATAL(res_unlock(7), "Fatal error: resource 7 is not loaded\n");
    EXPECT_FATAL(res_lock(7), "Fatal error: resource 7 is not loaded\n");
    EXPECT_FATAL(res_lock(-1), "Fatal error: resource -1 is not loaded\n");   // a free block's
    EXPECT_FATAL(res_register("missing"), "Fatal error: cannot load resource `missing'\n");
    fs::create_directory("lib/dir");
    EXPECT_FATAL(res_register("dir"), "Fatal error: cannot load resource `dir'\n");
    EXPECT_FATAL(res_register(""), "Fatal error: cannot load resource `'\n");
    std::ofstream("outside", std::ios::binary) << "x";
    EXPECT_FATAL(res_register("../outside"), "Fatal error: bad resource name `../outside'\n");
    const std::string longest(59, 'n'), too_long(60, 'n');
    write_file({longest, 5});
    EXPECT_EQ(res_size(res_register(longest.c_str())), 5);
    EXPECT_FATAL(res_register(too_long.c_str()), "Fatal error: resource name `n+' too long\n");
    res_shutdown();   // harmless twice, and the cache is then empty
    res_shutdown();
    EXPECT_EQ(layout(), "");
}

TEST_F(ResTest, LockCountingNeverGoesBelowZero) {
    const ResourceId id = start(100, {{"a", 10, 4}})[0];
    uint8_t *first = res_lock(id);
    write_file({"a", 10, 9});   // already resident: same bytes, not read again
    EXPECT_EQ(res_lock(id), first);
    EXPECT_TRUE(holds(first, {"a", 10, 4}));
    EXPECT_EQ(stamp(id), 1);
    res_unlock(id);
    EXPECT_EQ(layout(), "free@10+90 a@0x1");
    res_unlock(id);
    res_unlock(id);
    EXPECT_EQ(layout(), "free@10+90 a@0");
}

TEST_F(ResTest, EvictionPicksTheOldestResidentAndReloadsItUnchanged) {
    const auto [a, b, c] = start(80, {{"a", 40, 1}, {"b", 40, 2}, {"c", 40, 3}});
    for (ResourceId id : {a, b, a}) use(id);   // locking A again is not a use: A stays oldest
    EXPECT_TRUE(holds(res_lock(c), {"c", 40, 3}));
    EXPECT_EQ(layout(), "a- b@40 c@0x1");
    res_unlock(c);
    EXPECT_TRUE(holds(res_lock(a), {"a", 40, 1}));   // from its file, over B (now the oldest)
    EXPECT_EQ(layout(), "a@40x1 b- c@0");
    EXPECT_EQ(stamp(a), 5);
}

TEST_F(ResTest, OnlyABlockLargeEnoughOnItsOwnIsEvicted) {
    const auto [a, b, c, d] = start(100, {{"a", 50}, {"b", 50}, {"c", 30}, {"d", 40}});
    for (ResourceId id : {a, b}) res_lock(id);
    EXPECT_FATAL(res_lock(c), "Fatal error: all blocks are locked\n");   // both large enough
    res_unlock(a);
    use(c);
    EXPECT_EQ(layout(), "free@30+20 a- b@50x1 c@0 d-");
    // The 20 free bytes and the unlocked 30-byte c beside them would hold 40 together, but
    // only b's block is large enough on its own, and b is locked.
    EXPECT_FATAL(res_lock(d), "Fatal error: all blocks are locked\n");
    res_unlock(b);
    res_lock(d);
    EXPECT_EQ(layout(), "free@90+10 free@30+20 a- b- c@0 d@50x1");
}

TEST_F(ResTest, SplitBlockGoesToTheHeadAndMergesOnTheNextUnlock) {
    const auto [a, c] = start(100, {{"a", 60, 1}, {"c", 50, 3}});
    use(a);
    res_lock(c);   // 40 free bytes are too few: a goes, c takes 0..49, 50..59 goes to the head
    EXPECT_EQ(layout(), "free@50+10 free@60+40 a- c@0x1");
    res_unlock(c);   // joins them into the block nearer the head; resources never merge
    EXPECT_EQ(layout(), "free@50+50 a- c@0");
}

TEST_F(ResTest, ReadsExactlyTheRegisteredSize) {
    const auto [x, b, a] = start(20, {{"x", 10, 1}, {"b", 10, 2}, {"a", 10, 3}});
    res_lock(x);
    const uint8_t *bp = res_lock(b);
    res_unlock(x);
    // a grew after registration: only 10 bytes are read, into x's old block, sparing b's.
    write_file({"a", 30, 5});
    EXPECT_TRUE(holds(res_lock(a), {"a", 10, 5}));
    EXPECT_TRUE(holds(bp, {"b", 10, 2}));
    EXPECT_EQ(layout(), "x- b@10x1 a@0x1");
    write_file({"x", 4});   // shrunk below its registered size: the block would keep stale bytes
    res_unlock(a);
    EXPECT_FATAL(res_lock(x), "Fatal error: cannot read resource `x'\n");
}

}   // namespace

// The folder names are opened in: another one (relative or absolute), kept
// across res_init, with no way out of it by ".."; null goes back to lib.
TEST_F(ResTest, FolderSetsWhereNamesAreOpened) {
    fs::create_directories("data/sub");
    std::ofstream("data/a", std::ios::binary) << "12345";
    std::ofstream("data/sub/b", std::ios::binary) << "xy";
    write_file({"a", 3});
    res_set_folder("data");
    res_init(100);
    EXPECT_EQ(res_size(res_register("a")), 5);
    EXPECT_EQ(res_size(res_register("sub/b")), 2);
    EXPECT_FATAL(res_register("sub/../../lib/a"), "Fatal error: bad resource name `sub/../../lib/a'\n");
    res_set_folder((dir_ / "data").c_str());
    res_init(100);
    EXPECT_EQ(res_size(res_register("a")), 5);
    res_set_folder(nullptr);
    res_init(100);
    EXPECT_EQ(res_size(res_register("a")), 3);
    const std::string too_long(RES_FOLDER_MAX + 1, 'd');
    EXPECT_FATAL(res_set_folder(too_long.c_str()), "Fatal error: data folder name too long\n");
}
