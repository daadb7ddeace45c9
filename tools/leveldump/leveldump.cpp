// leveldump: prints a world (.3dw) or model (.3do) file as the text source
// that levelc compiles back into the same bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/assetfmt/level.h"
#include "tools/assetfmt/toolio.h"

namespace {

const char USAGE[] =
    "usage: leveldump [--world | --model] [--limits SET] FILE [-o OUTPUT]\n"
    "       leveldump --help | --version\n"
    "Prints a .3dw world or .3do model file as text on standard output (or\n"
    "into OUTPUT, written whole or not at all and never over FILE), in the\n"
    "plain form that 'levelc SOURCE -o FILE' turns back into the same bytes.\n"
    "The kind comes from the file's extension unless --world or --model says\n"
    "it. FILE must be a regular file of at most 10240 bytes, the game's\n"
    "resource pool (16 MiB with --limits raised, which also reports what the\n"
    "game would refuse under the raised limits). What the game's loader would refuse (an object "
    "without\n"
    "faces, a corner outside its object, a mass that is not positive, too\n"
    "many spare slots) is reported on standard error; the text is printed all\n"
    "the same.\n"
    "Exit status 1 when the file cannot be read or decoded or the text cannot\n"
    "be written, 2 for a mistake in the command line.\n";

[[noreturn]] void die(const std::string &message, int status = 1) {
    std::fprintf(stderr, "leveldump: %s\n", message.c_str());
    std::exit(status);
}

[[noreturn]] void usage_error(const std::string &message) {
    die(message + " (see leveldump --help)", TOOLIO_USAGE_STATUS);
}

bool ends_with(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void finish_stdout() {
    std::string error;
    if (!toolio_finish_stdout(&error)) die(error);
}

}   // namespace

int main(int argc, char **argv) {
    toolio_catch_signals();
    std::string path, output;
    int kind = -1;   // -1 from the extension
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        toolio_answer_help_or_version(a, "leveldump", USAGE, POLYDRIVE_VERSION);
        if (a == "--world") {
            kind = 0;
        } else if (a == "--model") {
            kind = 1;
        } else if (a == "-o" || a == "--limits") {
            if (i + 1 >= argc) usage_error(a + " needs a value");
            if (a == "-o")
                output = argv[++i];
            else
                toolio_select_limits("leveldump", argv[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            usage_error("unknown option " + a);
        } else if (path.empty()) {
            path = a;
        } else {
            usage_error("one FILE at a time");
        }
    }
    if (path.empty()) usage_error("needs a FILE");
    if (kind < 0) {
        if (ends_with(path, ".3dw"))
            kind = 0;
        else if (ends_with(path, ".3do"))
            kind = 1;
        else
            usage_error(path +
                        ": cannot tell a world from a model by its name; add --world or --model");
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!toolio_read(path, static_cast<size_t>(limits_current().pool_size), &bytes, &error))
        die(error);
    if (!output.empty() && toolio_is_input(output))
        die(output + ": is the input; refusing to write over it");
    LevelFile file;
    if (!level_decode(bytes, kind == 0 ? LevelKind::World : LevelKind::Model, &file, &error))
        die(path + ": " + error);
    for (const std::string &p : level_problems(file))
        std::fprintf(stderr, "leveldump: %s: warning: %s\n", path.c_str(), p.c_str());
    const std::string text = level_print(file);
    if (!output.empty()) {
        if (!toolio_write(output, text.data(), text.size(), &error)) die(error);
        return 0;
    }
    toolio_stdout_write(text.data(), text.size());
    finish_stdout();
    return 0;
}
