// Endurance: many games of random play on the shipped levels, one process per
// game, through tools/soak.sh. In a sanitizer build every game runs under
// ASan, LeakSanitizer and UBSan. The full run is `bash tools/soak.sh 1000000
// BUILD_DIR`; this one is sized for CI.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

constexpr long CI_FRAMES = 100000;

// The build folder: this program lives in BUILD/tests/.
std::string build_dir() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<size_t>(n));
    path.erase(path.rfind('/'));
    path.erase(path.rfind('/'));
    return path;
}

// Runs tools/soak.sh for `frames` frames with the soak player's options.
void soak(long frames, const std::string &options) {
    const std::string build = build_dir();
    ASSERT_FALSE(build.empty());
    ASSERT_EQ(access((build + "/tools/polydrive-soak").c_str(), X_OK), 0)
        << "build the polydrive-soak target in " << build;
    const std::string command = std::string("cd '") + POLYDRIVE_SOURCE_DIR + "' && bash tools/soak.sh " +
                                std::to_string(frames) + " '" + build + "' 0 " + options + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("soak: " + std::to_string(frames) + " frames in "), std::string::npos) << output;
    std::printf("%s", output.c_str());
}

TEST(Endurance, RandomPlayRunsWithoutFaultOrHeapGrowth) { soak(CI_FRAMES, ""); }

// A game of each new level, level 3 under the raised limits it needs.
TEST(Endurance, LevelsTwoAndThreePlayWithoutFaultOrHeapGrowth) {
    soak(4200, "--level 2");
    soak(4200, "--level 3 --limits raised");
}

}   // namespace
