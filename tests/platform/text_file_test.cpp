// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Reading files for the FILE command: line endings, the empty file, and
// paths that are not readable regular files (directories, devices, pipes,
// files above the size cap), which must fail at once instead of hanging.
#include "Error.h"
#include "TextFile.h"
#include "scratch_files.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace folio {
namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    ReadTextLines(path, [&](std::string& line) { lines.push_back(line); });
    return lines;
}

void ExpectCannotOpen(const std::string& path, const std::function<void()>& read) {
    try {
        read();
        ADD_FAILURE() << "read " << path;
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
    }
}

TEST(TextFile, LineEndings) {
    using L = std::vector<std::string>;
    struct Case {
        std::string text;
        L lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a\n", {"a"}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"\n\n", {"", ""}},
        {"\r\n", {""}},
        {"a\n\rb", {"a", "", "b"}}, // LF then CR: two endings
        {"a\r\r\nb", {"a", "", "b"}},
        {"tab\there\x01\xff\n", {"tab\there\x01\xff"}},
        {std::string("nul\0byte\n", 9), {std::string("nul\0byte", 8)}},
    };
    for (const Case& c : cases) {
        const std::string path = test::WriteScratchFile("lines.txt", c.text);
        EXPECT_EQ(Lines(path), c.lines) << testing::PrintToString(c.text);
    }
}

TEST(TextFile, LineIsWritableAndLongLinesWhole) {
    const std::string longLine(1 << 20, 'x');
    const std::string path = test::WriteScratchFile("long.txt", longLine + "\nshort");
    std::vector<std::size_t> sizes;
    ReadTextLines(path, [&](std::string& line) {
        sizes.push_back(line.size());
        line.assign("changed"); // the callee may change its copy
    });
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1u << 20, 5u}));
}

TEST(TextFile, WholeFileAndLimit) {
    const std::string path = test::WriteScratchFile("ten.bin", "0123456789");
    EXPECT_EQ(ReadWholeFile(path, 10), "0123456789");
    ExpectCannotOpen(path, [&] { ReadWholeFile(path, 9); });
}

TEST(TextFile, FileAboveTheCapIsRefused) {
    // A sparse file one byte over the cap costs no disk space.
    const std::string path = (test::ScratchDir() / "huge.txt").string();
    test::WriteScratchFile("huge.txt", "");
    ASSERT_EQ(::truncate(path.c_str(), off_t(kMaxTextFileBytes) + 1), 0);
    ExpectCannotOpen(path, [&] { Lines(path); });
    ::unlink(path.c_str());
}

TEST(TextFile, NotRegularFilesFailAtOnce) {
    const std::string dir = test::ScratchDir().string();
    const std::string fifo = dir + "/pipe";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {dir, std::string("/dev/zero"), fifo, dir + "/no such file.txt", std::string("")}) {
        ExpectCannotOpen(path, [&] { Lines(path); });
        ExpectCannotOpen(path, [&] { ReadWholeFile(path, 100); });
    }
    ::unlink(fifo.c_str());
}

TEST(TextFile, FileExists) {
    const std::string path = test::WriteScratchFile("exists.txt", "x");
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileExists("/dev/null")); // devices count
    EXPECT_FALSE(FileExists(test::ScratchDir().string()));
    EXPECT_FALSE(FileExists(path + ".missing"));
    EXPECT_FALSE(FileExists(""));
}

} // namespace
} // namespace folio
