// The settings file: its lines, broken lines, the command line over it,
// --save-settings and reading the saved file back; and the key and pad
// bindings it sets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "frame/settings.h"
#include "platform/bindings.h"
#include "platform/kbd.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Records what a parse hands over; "bad" values are refused.
std::map<std::string, std::string> taken;
const char *take(const char *key, const char *value, void *) {
    if (std::string(key) == "unknown") return "unknown setting 'unknown'";
    if (std::string(value) == "bad") return "bad value";
    taken[key] = value;
    return nullptr;
}

int parse(const std::string &text) {
    taken.clear();
    return settings_parse(text.data(), text.size(), "test.conf", take, nullptr);
}

TEST(SettingsParse, LinesAreKeyEqualsValueWithBlanksCommentsAndTheLastLineWinning) {
    EXPECT_EQ(parse("# comment\n\n  scale = 3  \r\nwidescreen=yes\nwindow = 1280x720\nscale = 2"), 0);
    EXPECT_EQ(taken,
              (std::map<std::string, std::string>{{"scale", "2"}, {"widescreen", "yes"}, {"window", "1280x720"}}));
    EXPECT_EQ(parse("key.quit = \n"), 0);   // an empty value is the caller's to judge
    EXPECT_EQ(taken["key.quit"], "");
    EXPECT_EQ(parse(""), 0);
}

TEST(SettingsParse, EachBrokenLineIsOneMessageNamingFileAndLineAndTheRestIsTaken) {
    const std::string text = std::string("scale = 2\nno equals here\n = 3\nunknown = 1\nwindow = bad\n") +
                             std::string("nul\0byte = 1\n", 13) + std::string(SETTINGS_LINE_MAX + 1, 'x') +
                             "\nfullscreen = no";
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse(text), 6);
    const std::string err = testing::internal::GetCapturedStderr();
    for (const char *line :
         {"polydrive: test.conf:2: expected `key = value'\n", "polydrive: test.conf:3: no key before `='\n",
          "polydrive: test.conf:4: unknown setting 'unknown'\n", "polydrive: test.conf:5: bad value\n",
          "polydrive: test.conf:6: NUL byte in the line\n", "polydrive: test.conf:7: line too long\n"})
        EXPECT_NE(err.find(line), std::string::npos) << line << " in\n" << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 6);
    EXPECT_EQ(taken, (std::map<std::string, std::string>{{"scale", "2"}, {"fullscreen", "no"}}));
}

TEST(SettingsParse, BooleansAndThePathFromTheEnvironment) {
    for (const char *yes : {"yes", "True", "ON", "1"}) EXPECT_EQ(settings_bool(yes), 1) << yes;
    for (const char *no : {"no", "false", "Off", "0"}) EXPECT_EQ(settings_bool(no), 0) << no;
    for (const char *neither : {"", "2", "yess", "y"}) EXPECT_EQ(settings_bool(neither), -1) << neither;

    char path[SETTINGS_PATH_MAX];
    setenv("XDG_CONFIG_HOME", "/xdg", 1);
    setenv("HOME", "/home/someone", 1);
    ASSERT_TRUE(settings_path(path, sizeof path));
    EXPECT_STREQ(path, "/xdg/polydrive/polydrive.conf");
    setenv("XDG_CONFIG_HOME", "relative", 1);   // not absolute: ignored
    ASSERT_TRUE(settings_path(path, sizeof path));
    EXPECT_STREQ(path, "/home/someone/.config/polydrive/polydrive.conf");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_FALSE(settings_path(path, sizeof path));
}

TEST(SettingsLoad, OnlyARegularFileOfBoundedSizeIsRead) {
    char tmpl[] = "/tmp/polydrive-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    EXPECT_EQ(settings_load((dir + "/missing.conf").c_str(), take, nullptr), 0);   // no file, no settings
    testing::internal::CaptureStderr();
    EXPECT_EQ(settings_load(dir.c_str(), take, nullptr), 1);   // a folder
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(settings_load((dir + "/fifo").c_str(), take, nullptr), 1);   // would block for good
    std::ofstream(dir + "/big") << std::string(SETTINGS_FILE_MAX + 1, '#');
    EXPECT_EQ(settings_load((dir + "/big").c_str(), take, nullptr), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("fifo: not a regular file"), std::string::npos) << err;
    EXPECT_NE(err.find("big: larger than 65536 bytes"), std::string::npos) << err;
    // A write never replaces what is not a regular file.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(settings_save((dir + "/fifo").c_str(), "x", 1));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not a regular file"), std::string::npos);
    EXPECT_TRUE(settings_save((dir + "/a/b/polydrive.conf").c_str(), "scale = 2\n", 10));
    EXPECT_EQ(slurp(dir + "/a/b/polydrive.conf"), "scale = 2\n");
    fs::remove_all(dir);
}

class Bindings : public ::testing::Test {
  protected:
    void TearDown() override { bind_reset(); }
};

constexpr int UP = 82, W = 26, KEYPAD8 = 96, ENTER = 40, F12 = 69, P = 19;

TEST_F(Bindings, TheDefaultsAreTheGamesKeysAndEveryOtherKeyPressesItsOwnCode) {
    EXPECT_EQ(bind_key(UP, false), BIND_ACCELERATE);
    EXPECT_EQ(bind_action_scancode(BIND_ACCELERATE), KEY_UP);
    EXPECT_EQ(bind_key(KEYPAD8, false), BIND_OWN_CODE);
    EXPECT_EQ(bind_key(ENTER, true), BIND_FULLSCREEN);
    EXPECT_EQ(bind_key(ENTER, false), BIND_OWN_CODE);   // Enter alone is the game's
    EXPECT_EQ(bind_key(UP, true), BIND_ACCELERATE);     // Alt does not stop a plain binding
    EXPECT_EQ(bind_key(F12, false), BIND_SCREENSHOT);
    EXPECT_EQ(bind_pad(BIND_PAD_RIGHTTRIGGER), BIND_ACCELERATE);
    EXPECT_EQ(bind_pad(BIND_PAD_A), BIND_STOP);
    EXPECT_EQ(bind_pad(BIND_PAD_Y), BIND_NONE);
}

TEST_F(Bindings, RebindingMovesAnActionAndTheOldKeysStopPressingIt) {
    const char *why = nullptr;
    ASSERT_TRUE(bind_set_keys(BIND_ACCELERATE, "w, Keypad8", &why));
    EXPECT_EQ(bind_key(W, false), BIND_ACCELERATE);
    EXPECT_EQ(bind_key(KEYPAD8, false), BIND_ACCELERATE);
    EXPECT_EQ(bind_key(UP, false), BIND_NONE);   // its own code is accelerate's: it no longer drives
    ASSERT_TRUE(bind_set_keys(BIND_SCREENSHOT, "P", &why));
    EXPECT_EQ(bind_key(P, false), BIND_SCREENSHOT);
    EXPECT_EQ(bind_key(F12, false), BIND_OWN_CODE);   // a key the game ignores
    ASSERT_TRUE(bind_set_keys(BIND_QUIT, "none", &why));
    EXPECT_EQ(bind_key(41, false), BIND_NONE);
    ASSERT_TRUE(bind_set_pads(BIND_STOP, "y b", &why));
    EXPECT_EQ(bind_pad(BIND_PAD_Y), BIND_STOP);
    EXPECT_EQ(bind_pad(BIND_PAD_A), BIND_NONE);

    char list[160];
    bind_format_keys(BIND_ACCELERATE, list, sizeof list);
    EXPECT_STREQ(list, "W, Keypad8");
    bind_format_keys(BIND_FULLSCREEN, list, sizeof list);
    EXPECT_STREQ(list, "Alt+Enter, Alt+KeypadEnter");
    bind_format_pads(BIND_STOP, list, sizeof list);
    EXPECT_STREQ(list, "y, b");
    bind_format_keys(BIND_QUIT, list, sizeof list);
    EXPECT_STREQ(list, "none");

    // The default list given again is the default: the cursor key's own code
    // behaves as before.
    ASSERT_TRUE(bind_set_keys(BIND_ACCELERATE, "Up", &why));
    EXPECT_EQ(bind_key(KEYPAD8, false), BIND_OWN_CODE);
}

TEST_F(Bindings, AnUnknownNameOrTooLongAListChangesNothing) {
    const char *why = nullptr;
    EXPECT_FALSE(bind_set_keys(BIND_LEFT, "a, jump", &why));
    EXPECT_STREQ(why, "unknown name");
    EXPECT_FALSE(bind_set_keys(BIND_LEFT, "a b c d e f g h i", &why));
    EXPECT_STREQ(why, "more than 8 names");
    EXPECT_FALSE(bind_set_pads(BIND_LEFT, "dpleft, trigger", &why));
    EXPECT_FALSE(bind_set_keys(BIND_ACTIONS, "a", &why));
    EXPECT_FALSE(bind_set_keys(BIND_LEFT, std::string(40, 'a').c_str(), &why));
    EXPECT_EQ(bind_key(80, false), BIND_LEFT);
    EXPECT_EQ(bind_key(4, false), BIND_OWN_CODE);
    EXPECT_EQ(bind_pad(BIND_PAD_DPLEFT), BIND_LEFT);
}

// The game itself: the file under the command line, broken lines, and
// --save-settings, which writes without opening a window.
class GameSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(game)) GTEST_SKIP() << "built without the window";
        char tmpl[] = "/tmp/polydrive-config-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        fs::create_directories(dir + "/polydrive");
        conf = dir + "/polydrive/polydrive.conf";
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    int run(const std::string &args) {
        const std::string command =
            "XDG_CONFIG_HOME='" + dir + "' '" + game.string() + "' " + args + " >'" + dir + "/out' 2>'" + dir + "/err'";
        const int raw = std::system(command.c_str());
        err = slurp(dir + "/err");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    const fs::path game = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "polydrive";
    std::string dir, conf, err;
};

TEST_F(GameSettings, TheCommandLineOverridesTheFileAndTheSavedFileReadsBack) {
    std::ofstream(conf) << "scale = 3\nwidescreen = yes\nwindow = 1280x720\nkey.accelerate = W\n"
                           "button.stop = b\n";
    ASSERT_EQ(run("--scale 2 --window 800x600 --save-settings"), 0) << err;
    EXPECT_EQ(err, "");
    const std::string saved = slurp(conf);
    for (const char *line :
         {"\nscale = 2\n", "\nwidescreen = yes\n", "\nwindow = 800x600\n", "\nkey.accelerate = W\n",
          "\nkey.reverse = Down\n", "\nbutton.stop = b\n", "\nkey.fullscreen = Alt+Enter, Alt+KeypadEnter\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << " in\n" << saved;
    // Written back unchanged: the saved file is read without a complaint.
    ASSERT_EQ(run("--save-settings"), 0) << err;
    EXPECT_EQ(slurp(conf), saved);
}

TEST_F(GameSettings, ABrokenLineIsNamedAndThatSettingKeepsItsDefault) {
    std::ofstream(conf) << "scale = 9\nwidescreen = maybe\nkey.accelerate = Jump\nkey.fly = Up\nvolume = 11\n"
                           "fullscreen = yes\n";
    ASSERT_EQ(run("--save-settings"), 0) << err;
    for (const char *line : {":1: scale: needs a whole number from 1 to 6, not '9'\n",
                             ":2: widescreen: needs yes or no", ":3: key.accelerate: unknown name, not 'Jump'\n",
                             ":4: key.fly: is not an action", ":5: unknown setting 'volume'\n"})
        EXPECT_NE(err.find(conf + line), std::string::npos) << line << " in\n" << err;
    const std::string saved = slurp(conf);
    for (const char *line : {"\nscale = 1\n", "\nwidescreen = no\n", "\nfullscreen = yes\n", "\nkey.accelerate = Up\n"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << " in\n" << saved;
    // A bad value on the command line is still a usage error.
    EXPECT_EQ(run("--scale 7"), 2);
    EXPECT_NE(err.find("polydrive: --scale needs a whole number from 1 to 6, not '7'\n"), std::string::npos) << err;
}

}   // namespace
