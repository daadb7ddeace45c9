// fuzz/fuzz_demo.cpp: demo files on any bytes, read from a file as the game
// reads them. demo_read agrees with the key-script parser on the same bytes
// (the same script, or the same one-line fault naming the file); a demo it
// reads is written back by demo_text into a file that reads to the same runs,
// whose first line gives the frame count.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/demo.h"
#include "frame/keyscript.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}

// One scratch file for the whole run, rewritten in place for each input and
// removed when the run ends.
struct Scratch {
    std::string path = "/tmp/fuzz_demo." + std::to_string(getpid()) + ".txt";
    ~Scratch() { unlink(path.c_str()); }
};
const std::string &scratch() {
    static const Scratch file;
    return file.path;
}

void put(const void *data, size_t size) {
    FILE *f = std::fopen(scratch().c_str(), "wb");
    require(f != nullptr);
    require(size == 0 || std::fwrite(data, 1, size, f) == size);
    require(std::fclose(f) == 0);
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    put(data, size);
    KeyScript read, parsed;
    std::string read_error, parse_error;
    const bool read_ok = demo_read(scratch().c_str(), &read, &read_error);
    const bool parse_ok = keyscript_parse(reinterpret_cast<const char *>(data), size,
                                          scratch().c_str(), &parsed, &parse_error);
    if (size > KEYSCRIPT_TEXT_MAX) {
        // Refused from its length by the reader, before the parser sees it.
        require(!read_ok && !read_error.empty());
        return 0;
    }
    require(read_ok == parse_ok);
    if (!read_ok) {
        require(read_error == parse_error && read_error.find('\n') == std::string::npos);
        require(read_error.rfind(scratch() + ":", 0) == 0);
        return 0;
    }
    require(read.frames == parsed.frames && read.runs.size() == parsed.runs.size());
    const std::string text = demo_text(read);
    require(text.rfind("# polydrive demo: " + std::to_string(read.frames) + " frames\n", 0) == 0);
    put(text.data(), text.size());
    KeyScript again;
    require(demo_read(scratch().c_str(), &again, &read_error));
    require(again.frames == read.frames && again.runs.size() == read.runs.size());
    for (size_t i = 0; i < read.runs.size(); i++)
        require(again.runs[i].count == read.runs[i].count &&
                again.runs[i].keys == read.runs[i].keys);
    return 0;
}
