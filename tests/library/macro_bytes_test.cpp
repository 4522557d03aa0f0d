// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Bytes of a macro file that lose text without a sign unless reported: a NUL
// byte (it ends the line), a byte-order mark (text in code page 1252, or
// skipped before CODEPAGE=65001) and carriage returns that end no line.
#include "foliolib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/macro-bytes";
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = scratch(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Seen {
    std::string kind, message;
    int line;
};

void collect(void* context, const FolioDiagnostic* d) {
    static_cast<std::vector<Seen>*>(context)->push_back({d->kind, d->message, d->line});
}

std::vector<Seen> check(const std::string& macro) {
    std::vector<Seen> seen;
    FolioBuildOptions options{};
    options.size = sizeof options;
    options.diagnostic = collect;
    options.diagnosticContext = &seen;
    EXPECT_TRUE(BuildFaxWithOptions(macro.c_str(), nullptr, &options)) << BuildFaxLastError();
    return seen;
}

struct Case {
    const char* what;
    std::string bytes;
    int line;
    const char* kind;
    const char* says; // a part of the message
};

const Case kCases[] = {
    {"NUL byte in a text line", std::string("nul\0byte here\n", 14), 1, "bad-bytes",
     "2 words after it are not read: \"byte here\""},
    {"NUL byte in a command line", std::string("x\n@CONVERT:FONT=Arial\0,30\nText\n", 31), 2,
     "bad-bytes", "1 word"},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBFHello\n", 1, "byte-order-mark", "CODEPAGE=65001"},
    {"byte-order mark before another command", "\xEF\xBB\xBF@CONVERT:FONT=Arial,20\nHi\n", 1,
     "byte-order-mark", "UTF-8"},
    {"UTF-16 text", std::string("\xFF\xFEH\0i\0\n\0", 8), 1, "byte-order-mark", "UTF-16"},
    {"CR line ends", "a\rb\r@CONVERT:FOOBAR\rc\r", 1, "line-ends",
     "the command \"@CONVERT:FOOBAR\" is set as text"},
    {"CR line ends after LF lines", "first\nsecond\ra\rb\n", 2, "line-ends", "2 carriage returns"},
};

TEST(MacroBytes, EachLossIsReportedAtItsLine) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::vector<Seen> seen = check(write("case.fax", c.bytes));
        bool found = false;
        std::string all;
        for (const Seen& s : seen) {
            all += std::to_string(s.line) + " " + s.kind + ": " + s.message + "\n";
            found = found || (s.line == c.line && s.kind == c.kind &&
                              s.message.find(c.says) != std::string::npos);
        }
        EXPECT_TRUE(found) << "expected " << c.kind << " at line " << c.line << " saying \""
                           << c.says << "\", got:\n"
                           << all;
    }
}

TEST(MacroBytes, StrictRefusesTextCutByANulByte) {
    FolioBuildOptions options{};
    options.size = sizeof options;
    options.strict = 1;
    const std::string tiff = scratch("nul.tif");
    std::filesystem::remove(tiff);
    EXPECT_FALSE(BuildFaxWithOptions(write("nul.fax", std::string("nul\0byte\n", 9)).c_str(),
                                     tiff.c_str(), &options));
    EXPECT_FALSE(std::filesystem::exists(tiff));
    // A NUL byte that cuts nothing off loses nothing.
    EXPECT_TRUE(check(write("tail.fax", std::string("text\0 \0\n", 8))).empty());
}

TEST(MacroBytes, CarriageReturnLineEndsAreReportedOncePerFile) {
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += "line\r";
    int count = 0;
    for (const Seen& s : check(write("cr.fax", bytes + "\n" + bytes + "\n")))
        count += s.kind == "line-ends";
    EXPECT_EQ(count, 1);
    // CR LF ends lines as LF does.
    EXPECT_TRUE(check(write("crlf.fax", "one\r\ntwo\r\n")).empty());
}

// The mark before CODEPAGE=65001 is taken off: the fax is the one the macro
// without the mark makes, and nothing is reported.
TEST(MacroBytes, AByteOrderMarkBeforeCodePage65001IsSkipped) {
    const std::string body = "@CONVERT:CODEPAGE=65001\nGr\xC3\xBC\xC3\x9F" "e\n";
    const std::string marked = write("marked.fax", "\xEF\xBB\xBF" + body);
    const std::string plain = write("plain.fax", body);
    EXPECT_TRUE(check(marked).empty());
    ASSERT_TRUE(BuildFax(marked.c_str(), scratch("marked.tif").c_str())) << BuildFaxLastError();
    ASSERT_TRUE(BuildFax(plain.c_str(), scratch("plain.tif").c_str())) << BuildFaxLastError();
    EXPECT_EQ(slurp(scratch("marked.tif")), slurp(scratch("plain.tif")));
}

} // namespace
