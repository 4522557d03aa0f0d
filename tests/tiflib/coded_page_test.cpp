// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Pages coded ahead: a document written from TiflibCodePage's codes is the
// file WriteGraphicFile writes for the same pages, byte for byte, in every
// coding and resolution, also when written ahead of its page count; codes
// that do not fit the document are refused and the document dropped.
#include "tiflib/TiffTestSupport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace tiftest;

namespace {

// The page's rows as TiflibCodePage reads them: a set bit black, the bits
// past the width set (they must not count), top-down or bottom-up.
struct Rows {
    std::vector<std::uint8_t> bytes;
    const unsigned char* top = nullptr;
    std::ptrdiff_t step = 0;

    Rows(const Page& page, bool bottomUp) {
        const std::uint32_t stride = dibStride(page.width);
        bytes.assign(std::size_t(stride) * page.height, 0);
        for (std::uint32_t y = 0; y < page.height; ++y) {
            std::uint8_t* row =
                bytes.data() + std::size_t(stride) * (bottomUp ? page.height - 1 - y : y);
            for (std::uint32_t x = 0; x < stride * 8; ++x)
                if (x >= page.width || page.at(x, y))
                    row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
        top = bytes.data() + (bottomUp ? std::size_t(stride) * (page.height - 1) : 0);
        step = bottomUp ? -std::ptrdiff_t(stride) : std::ptrdiff_t(stride);
    }
};

struct Settings {
    Settings(int mode, int resolution)
        : mode_(GetFaxCompression()), resolution_(GetFaxResolution()) {
        SetFaxCompression(mode);
        SetFaxResolution(resolution);
    }
    ~Settings() {
        SetFaxCompression(mode_);
        SetFaxResolution(resolution_);
    }
    int mode_, resolution_;
};

int writeCoded(const std::string& name, const Page& page, int mode, int resolution, int index,
               int count, bool bottomUp = false) {
    const Rows rows(page, bottomUp);
    TiflibCodedPage code;
    if (!TiflibCodePage(rows.top, rows.step, page.width, page.height, mode, resolution, &code))
        return -1;
    return WriteCodedPage(name.c_str(), &code, index, count);
}

} // namespace

TEST(CodedPages, DocumentEqualsTheOneWrittenFromPageBlocks) {
    ScratchDir dir;
    // Tall enough to be coded in halves from blocks, an odd height (a last
    // row joining the last pair at normal resolution), a width that is no multiple of 32.
    const std::vector<Page> pages = {textPage(1728, 700, 3), noisePage(1700, 151, 5, 0.2),
                                     linesPage(1728, 333), whitePage(1728, 2)};
    for (int mode : {TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_2D, TIFLIB_FAX_G4})
        for (int resolution : {TIFLIB_FAX_FINE, TIFLIB_FAX_NORMAL}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " resolution " << resolution);
            const std::string fromBlocks = dir.file("blocks.tif"), coded = dir.file("coded.tif");
            {
                Settings settings(mode, resolution);
                for (int result : writeDocument(fromBlocks, pages))
                    ASSERT_EQ(result, 1);
            }
            // The writer's settings play no part: the codes carry theirs.
            for (std::size_t i = 0; i < pages.size(); ++i)
                ASSERT_EQ(writeCoded(coded, pages[i], mode, resolution, int(i), int(pages.size()),
                                     i % 2 == 1),
                          1)
                    << TiflibLastError();
            EXPECT_TRUE(readBytes(coded) == readBytes(fromBlocks));

            // Written ahead, the count given at the end: the same bytes,
            // and nothing named before the end.
            const std::string ahead = dir.file("ahead.tif");
            ASSERT_EQ(BeginCodedDocument(ahead.c_str(), mode, resolution), 1);
            for (std::size_t i = 0; i < pages.size(); ++i) {
                const Rows rows(pages[i], false);
                TiflibCodedPage code;
                ASSERT_EQ(TiflibCodePage(rows.top, rows.step, pages[i].width, pages[i].height,
                                         mode, resolution, &code),
                          1);
                ASSERT_EQ(WriteCodedPageAhead(ahead.c_str(), &code, int(i)), 1)
                    << TiflibLastError();
            }
            EXPECT_FALSE(fs::exists(ahead));
            ASSERT_EQ(FinishCodedDocument(ahead.c_str(), int(pages.size())), 1)
                << TiflibLastError();
            EXPECT_TRUE(readBytes(ahead) == readBytes(fromBlocks));
            fs::remove(ahead);
        }
}

TEST(CodedPages, ADocumentWrittenAheadThatGoesWrongLeavesTheTargetAsItWas) {
    ScratchDir dir;
    const Page page = textPage(1728, 300, 2);
    const Rows rows(page, false);
    TiflibCodedPage code;
    ASSERT_EQ(TiflibCodePage(rows.top, rows.step, page.width, page.height, TIFLIB_FAX_G4,
                             TIFLIB_FAX_FINE, &code),
              1);
    const std::string target = dir.file("ahead.tif");
    // What ends it: a count that is not the pages written, a page out of
    // order, a page in another coding, a drop, a second start.
    const std::vector<std::function<bool()>> wrongs = {
        [&] { return FinishCodedDocument(target.c_str(), 3) == 0; },
        [&] { return WriteCodedPageAhead(target.c_str(), &code, 5) == 0; },
        [&] {
            TiflibCodedPage other = code;
            other.mode = TIFLIB_FAX_G3_1D;
            return WriteCodedPageAhead(target.c_str(), &other, 2) == 0;
        },
        [&] {
            DropFaxDocument(target.c_str());
            return true;
        },
        [&] { return BeginCodedDocument(target.c_str(), TIFLIB_FAX_G4, TIFLIB_FAX_FINE) == 1; },
    };
    for (std::size_t i = 0; i < wrongs.size(); ++i) {
        SCOPED_TRACE(i);
        writeBytes(target, "before");
        ASSERT_EQ(BeginCodedDocument(target.c_str(), TIFLIB_FAX_G4, TIFLIB_FAX_FINE), 1);
        for (int k = 0; k < 2; ++k)
            ASSERT_EQ(WriteCodedPageAhead(target.c_str(), &code, k), 1);
        ASSERT_TRUE(wrongs[i]());
        // The document is gone (or begun anew, empty): it cannot be finished.
        EXPECT_EQ(FinishCodedDocument(target.c_str(), 2), 0);
        EXPECT_EQ(readBytes(target), "before");
    }
}

TEST(CodedPages, CodesThatDoNotFitAreRefused) {
    ScratchDir dir;
    const Page page = textPage(1728, 400, 1);
    const Rows rows(page, false);
    TiflibCodedPage code;
    // Sizes, modes and resolutions the coders do not take.
    EXPECT_EQ(TiflibCodePage(rows.top, rows.step, 0, 120, TIFLIB_FAX_G4, 0, &code), 0);
    EXPECT_EQ(TiflibCodePage(rows.top, rows.step, 1728, 0, TIFLIB_FAX_G4, 0, &code), 0);
    EXPECT_EQ(TiflibCodePage(rows.top, rows.step, 70000, 1, TIFLIB_FAX_G4, 0, &code), 0);
    EXPECT_EQ(TiflibCodePage(rows.top, rows.step, 1728, 400, TIFLIB_FAX_G4_REFERENCE, 0, &code), 0);
    EXPECT_EQ(TiflibCodePage(rows.top, rows.step, 1728, 400, TIFLIB_FAX_G4, 7, &code), 0);
    EXPECT_EQ(TiflibCodePage(nullptr, rows.step, 1728, 400, TIFLIB_FAX_G4, 0, &code), 0);
    EXPECT_EQ(WriteCodedPage(dir.file("none.tif").c_str(), nullptr, 0, 1), 0);

    // A page coded otherwise than the pages before it drops the document,
    // and the file there before stays.
    for (bool otherMode : {true, false}) {
        const std::string target = dir.file("mixed.tif");
        writeBytes(target, "before");
        ASSERT_EQ(writeCoded(target, page, TIFLIB_FAX_G3_1D, TIFLIB_FAX_FINE, 0, 2), 1);
        EXPECT_EQ(writeCoded(target, page, otherMode ? TIFLIB_FAX_G4 : TIFLIB_FAX_G3_1D,
                             otherMode ? TIFLIB_FAX_FINE : TIFLIB_FAX_NORMAL, 1, 2),
                  0);
        EXPECT_EQ(readBytes(target), "before");
    }

    // A Group 3 code cannot be copied in Group 4; a Group 4 code is its own copy.
    struct Copy {
        static int take(void* self, int, int, unsigned, unsigned, int, const unsigned char*,
                        std::size_t bytes) {
            *static_cast<std::size_t*>(self) += bytes;
            return 1;
        }
    };
    std::size_t copied = 0;
    SetFaxPageCopy(&Copy::take, &copied);
    EXPECT_EQ(writeCoded(dir.file("g3copy.tif"), page, TIFLIB_FAX_G3_2D, 0, 0, 1), 0);
    EXPECT_EQ(writeCoded(dir.file("g4copy.tif"), page, TIFLIB_FAX_G4, 0, 0, 1), 1);
    SetFaxPageCopy(nullptr, nullptr);
    EXPECT_GT(copied, 0u);
    EXPECT_FALSE(fs::exists(dir.file("g3copy.tif")));
}
