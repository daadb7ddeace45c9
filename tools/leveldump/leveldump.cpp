// leveldump: prints a world (.3dw) or model (.3do) file as the text source
// that levelc compiles back into the same bytes.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/assetfmt/level.h"

namespace {

const char USAGE[] =
    "usage: leveldump [--world | --model] FILE\n"
    "Prints a .3dw world or .3do model file as text on standard output, in\n"
    "the plain form that 'levelc SOURCE -o FILE' turns back into the same\n"
    "bytes. The kind comes from the file's extension unless --world or\n"
    "--model says it. What the game's loader would refuse (an object without\n"
    "faces, a corner outside its object, a mass that is not positive) is\n"
    "reported on standard error; the text is printed all the same.\n"
    "Exit status 1 when the file cannot be read or decoded.\n";

[[noreturn]] void die(const std::string &message) {
    std::fprintf(stderr, "leveldump: %s\n", message.c_str());
    std::exit(1);
}

bool ends_with(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}   // namespace

int main(int argc, char **argv) {
    std::string path;
    int kind = -1;   // -1 from the extension
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a == "--world") {
            kind = 0;
        } else if (a == "--model") {
            kind = 1;
        } else if (a.size() > 1 && a[0] == '-') {
            die("unknown option " + a + " (see leveldump --help)");
        } else if (path.empty()) {
            path = a;
        } else {
            die("one FILE at a time (see leveldump --help)");
        }
    }
    if (path.empty()) die("needs a FILE (see leveldump --help)");
    if (kind < 0) {
        if (ends_with(path, ".3dw"))
            kind = 0;
        else if (ends_with(path, ".3do"))
            kind = 1;
        else
            die(path + ": cannot tell a world from a model by its name; add --world or --model");
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!level_read_file(path, &bytes, &error)) die(error);
    LevelFile file;
    if (!level_decode(bytes, kind == 0 ? LevelKind::World : LevelKind::Model, &file, &error))
        die(path + ": " + error);
    for (const std::string &p : level_problems(file))
        std::fprintf(stderr, "leveldump: %s: warning: %s\n", path.c_str(), p.c_str());
    const std::string text = level_print(file);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
