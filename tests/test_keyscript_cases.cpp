// The game's key-script parser on the shared cases of
// tests/data/keyscript/cases.txt, which the web page's parser reads too
// (tests/web/keyscript_cases.mjs): both must take the same texts to the
// same runs and refuse the others at the same line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "frame/keyscript.h"

namespace {

void put_utf8(std::string *out, unsigned code) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xc0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        *out += static_cast<char>(0xe0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        *out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// One character or escape of a case's text at *at, appended to out.
void decode_one(const std::string &s, size_t *at, std::string *out) {
    if (s[*at] != '\\' || *at + 1 >= s.size()) {
        *out += s[(*at)++];
        return;
    }
    const char kind = s[*at + 1];
    *at += 2;
    switch (kind) {
        case 'n': *out += '\n'; return;
        case 't': *out += '\t'; return;
        case 'r': *out += '\r'; return;
        case 'f': *out += '\f'; return;
        case 'v': *out += '\v'; return;
        case '0': *out += '\0'; return;
        case 'x':
            *out += static_cast<char>(std::stoul(s.substr(*at, 2), nullptr, 16));
            *at += 2;
            return;
        case 'u':
            put_utf8(out, static_cast<unsigned>(std::stoul(s.substr(*at, 4), nullptr, 16)));
            *at += 4;
            return;
        case '*': {
            const size_t colon = s.find(':', *at);
            const size_t times = std::stoul(s.substr(*at, colon - *at));
            *at = colon + 1;
            std::string unit;
            decode_one(s, at, &unit);
            for (size_t i = 0; i < times; i++) *out += unit;
            return;
        }
        default: *out += kind; return;
    }
}

std::string decode(const std::string &s) {
    std::string out;
    for (size_t at = 0; at < s.size();) decode_one(s, &at, &out);
    return out;
}

TEST(KeyscriptCases, TheSharedCasesGiveTheirRunsOrTheirLine) {
    std::ifstream in(POLYDRIVE_SOURCE_DIR "/tests/data/keyscript/cases.txt");
    ASSERT_TRUE(in) << "no cases file";
    std::string line;
    int cases = 0, refusals = 0;
    for (int number = 1; std::getline(in, line); number++) {
        if (line.empty() || line[0] == '#') continue;
        const size_t bar = line.find(" |");
        ASSERT_NE(bar, std::string::npos) << "cases.txt:" << number;
        const std::string expect = line.substr(0, bar);
        const std::string text = decode(line.size() > bar + 3 ? line.substr(bar + 3) : "");
        KeyScript script;
        std::string error;
        const bool ok = keyscript_parse(text.data(), text.size(), "case", &script, &error);
        cases++;
        if (expect.rfind("line ", 0) == 0) {
            refusals++;
            EXPECT_FALSE(ok) << "cases.txt:" << number << " was taken";
            std::string want = "case:";
            want.append(expect, 5);
            want += ": ";
            EXPECT_EQ(error.rfind(want, 0), 0u) << "cases.txt:" << number << " gave " << error;
            continue;
        }
        ASSERT_EQ(expect.rfind("ok", 0), 0u) << "cases.txt:" << number;
        ASSERT_TRUE(ok) << "cases.txt:" << number << " gave " << error;
        std::string runs;
        for (const KeyRun &r : script.runs) {
            if (!runs.empty()) runs += ',';
            runs += std::to_string(r.count);
            runs += ':';
            runs += std::to_string(r.keys);
        }
        EXPECT_EQ(runs, expect.size() > 3 ? expect.substr(3) : "") << "cases.txt:" << number;
    }
    EXPECT_GT(cases, 40);
    EXPECT_GT(refusals, 20);
}

}   // namespace
