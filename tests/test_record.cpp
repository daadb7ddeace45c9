// The headless recorder: key scripts, Escape, output files and errors, and a
// recorded lap of the shipped level held against checked-in frame hashes.
//
// The lap's hashes live in tests/data/record/lap.fnv (FNV-1a 64 of each
// frame's 64000 palette indices). When the level or the renderer changes on
// purpose, look at the new frames and then refresh the hashes with
//
//   POLYDRIVE_RECORD_REFRESH=1 BUILD/tests/test_record --gtest_filter='RecordedLap.*'
//
// run from the repository root (BUILD is your build folder).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string SOURCE = POLYDRIVE_SOURCE_DIR;

std::string recorder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, static_cast<size_t>(n > 0 ? n : 0));
    path.erase(path.rfind('/'));   // BUILD/tests
    path.erase(path.rfind('/'));   // BUILD
    return path + "/tools/polydrive-record";
}

struct Outcome {
    int status;   // exit status, or -1 when not a normal exit
    std::string out;
    std::string err;
};

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-record-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(access(recorder().c_str(), X_OK), 0) << "build the polydrive-record target";
    }
    void TearDown() override {
        const std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::string script(const std::string &text) {
        const std::string path = dir + "/keys";
        std::ofstream(path) << text;
        return path;
    }

    // Runs the recorder from the repository root, where lib/ is.
    Outcome record(const std::string &args) {
        const std::string command = "cd '" + SOURCE + "' && '" + recorder() + "' " + args +
                                    " >'" + dir + "/out.txt' 2>'" + dir + "/err.txt'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "/out.txt"),
                slurp(dir + "/err.txt")};
    }

    // The state lines of one body index, as "FRAME heading steer vx vz".
    std::vector<std::string> body_lines(const std::string &out, int index) {
        std::vector<std::string> lines;
        std::istringstream in(out);
        long frame;
        int i, heading, steer, vx, vz, x, y, z;
        while (in >> frame >> i >> heading >> steer >> vx >> vz >> x >> y >> z) {
            if (i == index) {
                lines.push_back(std::to_string(frame) + " " + std::to_string(heading) + " " +
                                std::to_string(steer) + " " + std::to_string(vx) + " " +
                                std::to_string(vz));
            }
        }
        return lines;
    }

    // The index of the first human body: the one whose speed the keys change.
    int driven_index(const std::string &out) {
        std::istringstream in(out);
        long frame;
        int i, heading, steer, vx, vz, x, y, z;
        while (in >> frame >> i >> heading >> steer >> vx >> vz >> x >> y >> z) {
            if (vx != 0 || vz != 0) return i;
        }
        return -1;
    }

    std::string dir;
};

TEST_F(Recorder, KeysAreHeldForTheirCountThenNothing) {
    const std::string keys = script("# warm-up\n2 none\n3 up   # three frames\n1 left right\n");
    const Outcome r = record("--keys '" + keys + "' --frames 8 --out '" + dir + "/f' --state");
    ASSERT_EQ(r.status, 0) << r.err;
    const int car = driven_index(r.out);
    ASSERT_GE(car, 0);
    const std::vector<std::string> lines = body_lines(r.out, car);
    ASSERT_EQ(lines.size(), 8u);
    // heading 0 steer 0 until up arrives in frame 3; both steering keys
    // in frame 6 (left wins), then the rate decays.
    EXPECT_EQ(lines[1], "2 0 0 0 0");
    EXPECT_EQ(lines[2], "3 0 0 0 32");
    EXPECT_EQ(lines[4], "5 0 0 0 96");
    EXPECT_EQ(lines[5], "6 0 -1 0 96");
    EXPECT_EQ(lines[6], "7 0 0 0 96");
}

TEST_F(Recorder, EscapeLetGoEndsTheLoopAtTheNextFrame) {
    const std::string keys = script("4 up\n1 esc\n20 up\n");
    const Outcome r = record("--keys '" + keys + "' --frames 50 --out '" + dir + "/f' --state");
    ASSERT_EQ(r.status, 0) << r.err;
    const int car = driven_index(r.out);
    const std::vector<std::string> lines = body_lines(r.out, car);
    // Frame 5 runs with Escape held; its release reaches the test of frame 6.
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.back(), "5 0 0 0 128");
}

TEST_F(Recorder, WritesFrameOneAndEveryKthAsPngAndEveryFrameRaw) {
    const Outcome r = record("--frames 7 --every 3 --raw --out '" + dir + "/f'");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *name : {"frame_00001.png", "frame_00003.png", "frame_00006.png"}) {
        const std::string png = slurp(dir + "/f/" + name);
        ASSERT_GT(png.size(), 8u) << name;
        EXPECT_EQ(png.substr(1, 3), "PNG") << name;
    }
    struct stat st;
    EXPECT_NE(stat((dir + "/f/frame_00002.png").c_str(), &st), 0);
    for (int frame = 1; frame <= 7; ++frame) {
        char name[32];
        std::snprintf(name, sizeof name, "/f/frame_%05d.bin", frame);
        EXPECT_EQ(slurp(dir + name).size(), 64000u) << name;
    }
}

TEST_F(Recorder, BadScriptsAndOptionsEndWithOneClearLine) {
    const struct {
        std::string script;
        std::string message;
    } cases[] = {
        {"3 up\n2 up jump\n", ":2: unknown key 'jump'"},
        {"3 up\n\nx up\n", ":3: expected a frame count, not 'x'"},
        {"-1 up\n", ":1: expected a frame count, not '-1'"},
        {"4\n", ":1: no keys after the count"},
        {"4 none up\n", ":1: 'none' cannot be combined with keys"},
    };
    for (const auto &c : cases) {
        const std::string keys = script(c.script);
        const Outcome r = record("--keys '" + keys + "' --frames 3 --out '" + dir + "/f'");
        EXPECT_EQ(r.status, 1) << c.script;
        EXPECT_NE(r.err.find(keys + c.message), std::string::npos) << r.err;
    }
    for (const std::string args : {"--frames 3", "--out x", "--frames 0 --out x", "--frames 2 --out x --every",
                                   "--frames 2 --out x --fast", "--keys /nonexistent/k --frames 2 --out x"}) {
        const Outcome r = record(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("polydrive-record: "), std::string::npos) << args;
    }
    const Outcome help = record("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("not armed"), std::string::npos);
}

// ---------------------------------------------------------------- the lap

const std::string LAP_KEYS = SOURCE + "/tests/data/record/lap.keys";
const std::string LAP_HASHES = SOURCE + "/tests/data/record/lap.fnv";

uint64_t fnv1a(const std::string &bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

// The frames the script lasts: the sum of its counts.
long script_frames(const std::string &path) {
    std::ifstream in(path);
    std::string line;
    long frames = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        long count;
        if (words >> count) frames += count;
    }
    return frames;
}

class RecordedLap : public Recorder {};

TEST_F(RecordedLap, FramesMatchTheCheckedInHashes) {
    const long frames = script_frames(LAP_KEYS);
    ASSERT_GT(frames, 1000);
    const Outcome r = record("--keys '" + LAP_KEYS + "' --frames " + std::to_string(frames) +
                             " --every 1000000 --raw --out '" + dir + "/lap'");
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> got;
    for (long frame = 1; frame <= frames; ++frame) {
        char name[64];
        std::snprintf(name, sizeof name, "/lap/frame_%05ld.bin", frame);
        const std::string bytes = slurp(dir + name);
        ASSERT_EQ(bytes.size(), 64000u) << "frame " << frame << " missing";
        char line[64];
        std::snprintf(line, sizeof line, "%05ld %016llx", frame,
                      static_cast<unsigned long long>(fnv1a(bytes)));
        got.push_back(line);
    }

    if (std::getenv("POLYDRIVE_RECORD_REFRESH") != nullptr) {
        std::ofstream out(LAP_HASHES);
        for (const std::string &line : got) out << line << "\n";
        ASSERT_TRUE(out.good()) << "cannot write " << LAP_HASHES;
        std::printf("wrote %zu frame hashes to %s\n", got.size(), LAP_HASHES.c_str());
        return;
    }

    std::ifstream in(LAP_HASHES);
    ASSERT_TRUE(in.good()) << LAP_HASHES << " is missing";
    std::vector<std::string> want;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) want.push_back(line);
    }
    ASSERT_EQ(want.size(), got.size()) << "the script and the hash file disagree on the frames";
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], want[i])
            << "first differing frame (FRAME HASH). If the level or the renderer changed on "
               "purpose, look at the new frames (polydrive-record --keys "
            << LAP_KEYS << " ...) and refresh: POLYDRIVE_RECORD_REFRESH=1 "
               "BUILD/tests/test_record --gtest_filter='RecordedLap.*'";
    }
}

}  // namespace
