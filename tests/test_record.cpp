// The headless recorder: key scripts, Escape, output files, errors, and a lap
// of each shipped level held against tests/data/record/*.fnv (FNV-1a 64 of
// each frame's palette indices). After a change on purpose, look, then refresh with
//   POLYDRIVE_RECORD_REFRESH=1 BUILD/tests/test_record --gtest_filter='*RecordedLap.*'
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const std::string SOURCE = POLYDRIVE_SOURCE_DIR;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Recorder : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-record-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_TRUE(fs::exists(recorder)) << "build the polydrive-record target";
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the recorder from SOURCE/from, where lib/ is; sets out and err and
    // returns the exit status (-1 when not a normal exit).
    int record(const std::string &args, const std::string &from = "") {
        const std::string command = "cd '" + SOURCE + from + "' && '" + recorder.string() + "' " + args + " >'" + dir +
                                    "/out.txt' 2>'" + dir + "/err.txt'";
        const int raw = std::system(command.c_str());
        out = slurp(dir + "/out.txt");
        err = slurp(dir + "/err.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    const fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
    const fs::path recorder = build / "tools/polydrive-record";
    std::string dir, out, err;
};

// On tests/data/drive, state lines "FRAME 1 heading steer vx vz x y z" of the car:
// up from frame 3; both steering keys in frame 6 (left wins), then decay; Escape
// held in frame 8 and let go ends the loop. PNG for frames 1, 3, 6; all raw.
TEST_F(Recorder, KeysAreHeldForTheirCountEscapeLetGoEndsTheLoopAndFramesAreWritten) {
    std::ofstream(dir + "/keys") << "# warm-up\n2 none\n3 up   # three frames\n1 left right\n1 none\n1 esc\n20 up\n";
    const std::string args = "--keys '" + dir + "/keys' --frames 50 --every 3 --raw --out '" + dir + "' --state";
    ASSERT_EQ(record(args, "/tests/data/drive"), 0) << err;
    for (const char *line : {"\n2 1 0 0 0 0 ", "\n3 1 0 0 0 32 ", "\n4 1 0 0 0 64 ", "\n5 1 0 0 0 96 ",
                             "\n6 1 0 -1 0 96 ", "\n7 1 0 0 0 96 ", "\n8 1 0 0 0 96 "})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    for (char frame = '1'; frame <= '9'; ++frame) {
        const std::string name = dir + "/frame_0000" + frame;
        EXPECT_EQ(slurp(name + ".png").substr(0, 4), frame == '1' || frame == '3' || frame == '6' ? "\x89PNG" : "");
        EXPECT_EQ(slurp(name + ".bin").size(), frame == '9' ? 0u : 64000u) << name;   // no frame 9 ran
    }
}

TEST_F(Recorder, BadScriptsAndOptionsEndWithOneClearLine) {
    const std::pair<const char *, const char *> scripts[] = {
        {"3 up\n2 up jump\n", ":2: unknown key 'jump'"},
        {"3 up\n\nx up\n", ":3: expected a frame count, not 'x'"},
        {"-1 up\n", ":1: expected a frame count, not '-1'"},
        {"4\n", ":1: no keys after the count"},
        {"4 none up\n", ":1: 'none' cannot be combined with keys"},
    };
    const std::string keys = dir + "/keys";
    for (const auto &[text, message] : scripts) {
        std::ofstream(keys) << text;
        EXPECT_EQ(record("--keys '" + keys + "' --frames 3 --out '" + dir + "/f'"), 1) << text;
        EXPECT_NE(err.find(keys + message), std::string::npos) << err;
    }
    // Command-line mistakes exit with 2, a file that cannot be read with 1.
    for (const char *args :
         {"--frames 3", "--out x", "--frames 0 --out x", "--frames 2 --out x --every", "--frames 2 --out x --fast",
          "--frames 9223372036854775807 --out x", "--frames 2 --every 99999999999999999999 --out x",
          "--frames 2x --out x", "--frames 2 --out x --level 0", "--frames 2 --out x --limits big"}) {
        EXPECT_EQ(record(args), 2) << args;
        EXPECT_NE(err.find("polydrive-record: "), std::string::npos) << args;
    }
    EXPECT_EQ(record("--keys /nonexistent/k --frames 2 --out x"), 1);
    EXPECT_NE(err.find("polydrive-record: "), std::string::npos);
    EXPECT_EQ(record("--help"), 0);
    EXPECT_NE(out.find("not armed"), std::string::npos);
}

// The fatal lines go to standard output, as the game prints them.
TEST_F(Recorder, ALevelIsChosenByNumberAndOneTooBigForTheLimitsIsRefusedAtLoad) {
    EXPECT_EQ(record("--level 9 --frames 2 --out '" + dir + "'"), 1);
    EXPECT_EQ(out, "Fatal error: no level 9 in lib: it holds levels 1, 2, 3\n");
    EXPECT_EQ(record("--level 3 --frames 2 --out '" + dir + "'"), 1);
    EXPECT_NE(out.find("Fatal error: level3.3dw with car1.3do: "), std::string::npos) << out;
    EXPECT_NE(out.find(" bytes, the classic resource pool holds 10240; --limits raised plays it\n"), std::string::npos)
        << out;
}

// A lap: a key script, the file of its frame hashes, and the options it is
// recorded with. The first lap of each hash file writes it on refresh; the
// others (the same lap under other limits) are held to it.
struct Lap {
    const char *keys, *hashes, *options;
    bool writes;
};
std::ostream &operator<<(std::ostream &out, const Lap &lap) { return out << lap.hashes << " " << lap.options; }

class RecordedLap : public Recorder, public ::testing::WithParamInterface<Lap> {};

TEST_P(RecordedLap, FramesMatchTheCheckedInHashes) {
    const Lap &lap = GetParam();
    const std::string keys = SOURCE + "/tests/data/record/" + lap.keys;
    const std::string hashes = SOURCE + "/tests/data/record/" + lap.hashes;
    long frames = 0;   // the sum of the script's counts
    std::istringstream script_lines(slurp(keys));
    for (std::string line; std::getline(script_lines, line);) frames += std::atol(line.c_str());
    ASSERT_EQ(record(std::string(lap.options) + " --keys '" + keys + "' --frames " + std::to_string(frames) +
                     " --every 1000000 --raw --out " + dir),
              0)
        << err;
    std::string got;   // one "FRAME HASH" line a frame, 23 characters each
    for (long frame = 1; frame <= frames; ++frame) {
        char name[48], line[48];
        std::snprintf(name, sizeof name, "/frame_%05ld.bin", frame);
        const std::string bytes = slurp(dir + name);
        ASSERT_EQ(bytes.size(), 64000u) << "frame " << frame << " missing";
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
        std::snprintf(line, sizeof line, "%05ld %016llx\n", frame, static_cast<unsigned long long>(h));
        got += line;
    }
    if (std::getenv("POLYDRIVE_RECORD_REFRESH") != nullptr && lap.writes) {
        ASSERT_TRUE((std::ofstream(hashes) << got << std::flush).good()) << "cannot write " << hashes;
        GTEST_SKIP() << "wrote the frame hashes to " << hashes;
    }
    const std::string want = slurp(hashes);   // empty when missing
    for (size_t at = 0; at < std::max(got.size(), want.size()); at += 23)
        ASSERT_EQ(got.substr(at, 22), want.substr(std::min(at, want.size()), 22))
            << "first differing frame (FRAME HASH) in " << hashes << "; on purpose? See the top of this file";
}

// Levels 1 and 2 fit the classic limits and must draw the same frames under
// the raised ones; level 3 plays only under raised.
INSTANTIATE_TEST_SUITE_P(Levels, RecordedLap,
                         ::testing::Values(Lap{"lap.keys", "lap.fnv", "", true},
                                           Lap{"lap.keys", "lap.fnv", "--limits raised", false},
                                           Lap{"level2.keys", "level2.fnv", "--level 2", true},
                                           Lap{"level2.keys", "level2.fnv", "--level 2 --limits raised", false},
                                           Lap{"level3.keys", "level3.fnv", "--level 3 --limits raised", true}));

}   // namespace
