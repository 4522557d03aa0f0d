// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// BuildFaxWithOptions: the diagnostics callback, strict builds, checks that
// write nothing, options structs of an older, shorter size, and
// FolioStopBuild from the callback.
#include "foliolib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A folder of the process's own: CTest runs each test in a process of its
// own, in parallel, and every test's SetUp writes the same macro name.
std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base =
        std::string(dir ? dir : "/tmp") + "/buildfax-options-" + std::to_string(::getpid());
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

struct Seen {
    std::string file, kind, message;
    int line, severity;
};

void collect(void* context, const FolioDiagnostic* d) {
    static_cast<std::vector<Seen>*>(context)->push_back(
        {d->file, d->kind, d->message, d->line, d->severity});
}

struct Options : ::testing::Test {
    std::string macro = scratch("lossy.fax");
    std::vector<Seen> seen;
    FolioBuildOptions options{};
    void SetUp() override {
        std::ofstream(macro) << "Hello\n@CONVERT:X=12px\n@CONVERT:FILE=nowhere.bmp,BMP\n";
        options.size = sizeof options;
        options.diagnostic = collect;
        options.diagnosticContext = &seen;
    }
};

TEST_F(Options, TheCallbackGetsEachDiagnosticWithFileLineAndKind) {
    const std::string tiff = scratch("lossy.tif");
    ASSERT_TRUE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options)) << BuildFaxLastError();
    EXPECT_TRUE(exists(tiff));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].file, macro);
    EXPECT_EQ(seen[0].line, 2);
    EXPECT_EQ(seen[0].kind, "not-a-number");
    EXPECT_EQ(seen[0].severity, FOLIO_WARNING);
    EXPECT_EQ(seen[1].line, 3);
    EXPECT_EQ(seen[1].kind, "file-missing");
}

TEST_F(Options, StrictRefusesAMacroWithWarningsAndWritesNothing) {
    const std::string tiff = scratch("strict.tif");
    options.strict = 1;
    EXPECT_FALSE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options));
    EXPECT_FALSE(exists(tiff));
    EXPECT_NE(std::strstr(BuildFaxLastError(), "2 warnings"), nullptr) << BuildFaxLastError();
    // Strict without a callback counts all the same.
    options.diagnostic = nullptr;
    EXPECT_FALSE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options));
}

TEST_F(Options, ANullFaxFileOnlyChecks) {
    EXPECT_TRUE(BuildFaxWithOptions(macro.c_str(), nullptr, &options));
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(BuildFaxWithOptions(macro.c_str(), nullptr, nullptr));
}

TEST_F(Options, FieldsBeyondTheGivenSizeAreNotRead) {
    // A 1.0 client: its structure ends before the include root.
    options.size = 40;
    options.includeRoot = "/nonexistent-root";
    EXPECT_TRUE(BuildFaxWithOptions(macro.c_str(), scratch("old.tif").c_str(), &options))
        << BuildFaxLastError();
    EXPECT_EQ(seen.size(), 2u);
}

// A client that gives up at its first diagnostic: every build stops before
// the next line, fails and leaves no file.
void stopAtFirst(void* context, const FolioDiagnostic* d) {
    collect(context, d);
    FolioStopBuild();
}

TEST_F(Options, StoppingFromTheCallbackEndsTheBuildAtThatLine) {
    const std::string tiff = scratch("stopped.tif"), pdf = scratch("stopped.pdf");
    const std::string bytes = "Hello\n@CONVERT:X=12px\n@CONVERT:FILE=nowhere.bmp,BMP\n";
    options.diagnostic = stopAtFirst;
    options.pdfFile = pdf.c_str();
    EXPECT_FALSE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options));
    EXPECT_EQ(std::string(BuildFaxLastError()), macro + ":2: stopped by the caller");
    EXPECT_FALSE(exists(tiff) || exists(pdf));
    options.pdfFile = nullptr;
    FolioBuffer out{};
    EXPECT_FALSE(BuildFaxInMemory(bytes.data(), bytes.size(), &options, &out, nullptr));
    EXPECT_EQ(std::string(BuildFaxLastError()), "<macro>:2: stopped by the caller");
    EXPECT_EQ(out.data, nullptr);
    // Line 3's diagnostic never came, in either build.
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].line, 2);
    // Outside a build it does nothing; the next build is not stopped.
    FolioStopBuild();
    options.diagnostic = collect;
    EXPECT_TRUE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options)) << BuildFaxLastError();
}

} // namespace

namespace {

// The error of a line after one longer than the line buffer named that line
// by its number in the file, not by the count of buffer parts read.
TEST(BuildFaxLines, AnErrorAfterALongLineNamesTheLineAsTheFileNumbersIt) {
    const std::string bad = scratch("bad.bmp");
    std::ofstream(bad) << "not a bitmap";
    const std::string macro = scratch("long.fax");
    std::ofstream(macro) << std::string(1200, 'x') << "\n@CONVERT:FILE=" << bad << ",BMP\n";
    EXPECT_FALSE(BuildFax(macro.c_str(), scratch("long.tif").c_str()));
    EXPECT_EQ(std::string(BuildFaxLastError()), macro + ":2: Bitmap image is not valid");
}

} // namespace
