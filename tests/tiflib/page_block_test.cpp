// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Blocks the writer must refuse: each header field wrong in turn, sizes that
// do not add up against the real block size, and handles that are no blocks.
// A refused page writes nothing and drops the document it belonged to.
#include "tiflib/TiffTestSupport.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace tiftest;

namespace {

constexpr std::uint32_t kWidth = 100, kHeight = 20;

// A valid 100 x 20 block, then one change to its header bytes or its size.
struct BlockCase {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> change;
};
void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.what;
}

void set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
void set16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    std::memcpy(b.data() + at, &v, 2);
}

std::vector<std::uint8_t> validBytes() {
    Page page = noisePage(kWidth, kHeight, 1);
    HGLOBAL block = makeBlock(page);
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    std::vector<std::uint8_t> bytes(p, p + GlobalSize(block));
    GlobalUnlock(block);
    GlobalFree(block);
    return bytes;
}

HGLOBAL blockOf(const std::vector<std::uint8_t>& bytes) {
    HGLOBAL block = GlobalAlloc(TIFLIB_GMEM_MOVEABLE, bytes.size());
    if (!bytes.empty())
        std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    return block;
}

const std::uint32_t kImage = dibStride(kWidth) * kHeight;

const BlockCase kRefused[] = {
    {"header size 12", [](auto& b) { set32(b, 0, 12); }},
    {"header size 124", [](auto& b) { set32(b, 0, 124); }},
    {"width 0", [](auto& b) { set32(b, 4, 0); }},
    {"width negative", [](auto& b) { set32(b, 4, std::uint32_t(-100)); }},
    {"width 65536", [](auto& b) { set32(b, 4, 65536); }},
    {"width wider than the rows", [](auto& b) { set32(b, 4, 2000); }},
    {"height 0", [](auto& b) { set32(b, 8, 0); }},
    {"height 65536", [](auto& b) { set32(b, 8, 65536); }},
    {"height most negative", [](auto& b) { set32(b, 8, std::uint32_t(INT_MIN)); }},
    {"height taller than the block", [](auto& b) { set32(b, 8, kHeight + 1); }},
    {"planes 2", [](auto& b) { set16(b, 12, 2); }},
    {"planes 0", [](auto& b) { set16(b, 12, 0); }},
    {"4 bits", [](auto& b) { set16(b, 14, 4); }},
    {"8 bits", [](auto& b) { set16(b, 14, 8); }},
    {"24 bits", [](auto& b) { set16(b, 14, 24); }},
    {"run-length coded", [](auto& b) { set32(b, 16, 1); }},
    {"bit fields", [](auto& b) { set32(b, 16, 3); }},
    {"1 colour", [](auto& b) { set32(b, 32, 1); }},
    {"256 colours", [](auto& b) { set32(b, 32, 256); }},
    {"image size one too large", [](auto& b) { set32(b, 20, kImage + 1); }},
    {"image size one too small", [](auto& b) { set32(b, 20, kImage - 1); }},
    {"block one byte short", [](auto& b) { b.pop_back(); }},
    {"block only a header", [](auto& b) { b.resize(40); }},
    {"block shorter than a header", [](auto& b) { b.resize(39); }},
    {"block empty", [](auto& b) { b.clear(); }},
};

class PageBlockRefused : public ::testing::TestWithParam<BlockCase> {};

TEST_P(PageBlockRefused, RefusedAndTheOpenDocumentDropped) {
    ScratchDir dir;
    const std::string name = dir.file("page.tif");
    writeBytes(name, "old");
    HGLOBAL good = blockOf(validBytes());
    std::vector<std::uint8_t> bytes = validBytes();
    GetParam().change(bytes);
    HGLOBAL bad = blockOf(bytes);

    // As the first page of a new document ...
    EXPECT_EQ(WriteGraphicFile(name.c_str(), bad, 0, 1), 0);
    EXPECT_STRNE(TiflibLastError(), "");
    // ... and in the middle of one, which is then dropped.
    EXPECT_EQ(WriteGraphicFile(name.c_str(), good, 0, 3), 1);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), bad, 1, 3), 0);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), good, 2, 3), 0);
    GlobalFree(good);
    GlobalFree(bad);
    EXPECT_EQ(readBytes(name), "old");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"page.tif"});
}

INSTANTIATE_TEST_SUITE_P(Fields, PageBlockRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) {
                             std::string s = info.param.what;
                             for (char& c : s)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return s;
                         });

TEST(PageBlock, HandlesThatAreNoBlocksAreRefused) {
    ScratchDir dir;
    const std::string name = dir.file("handles.tif");
    HGLOBAL freed = blockOf(validBytes());
    GlobalFree(freed);
    std::vector<std::uint8_t> foreign = validBytes();
    for (HGLOBAL handle : {HGLOBAL(nullptr), freed, HGLOBAL(foreign.data())}) {
        EXPECT_EQ(WriteGraphicFile(name.c_str(), handle, 0, 1), 0);
        EXPECT_STRNE(TiflibLastError(), "");
    }
    EXPECT_TRUE(dir.names().empty());
}

// Fields the writer does not need to be exact: no colour count (a 1-bit DIB
// then has 2), no image size, any colour table (a set bit is black whatever
// it says), any resolution, a block longer than needed.
TEST(PageBlock, LooseButConsistentHeadersAreTaken) {
    ScratchDir dir;
    const std::string name = dir.file("loose.tif");
    Page page = noisePage(kWidth, kHeight, 1);
    std::vector<std::uint8_t> bytes = validBytes();
    set32(bytes, 32, 0);
    set32(bytes, 36, 0);
    set32(bytes, 20, 0);
    set32(bytes, 24, 7874);
    std::fill(bytes.begin() + 40, bytes.begin() + 48, 0x55);
    bytes.resize(bytes.size() + 100, 0xEE);
    HGLOBAL block = blockOf(bytes);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), block, 0, 1), 1) << TiflibLastError();
    GlobalFree(block);
    TiffFile file = readTiff(name);
    ASSERT_EQ(file.pages.size(), 1u);
    EXPECT_TRUE(file.pages[0].pixels == page);
}

} // namespace
