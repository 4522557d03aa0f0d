// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Pages coded as they are left behind: the document is the one an engine
// that codes every page at the save writes, in every coding and resolution,
// with the PDF copy too; a coded page is final.
#include "Error.h"
#include "FaxImage.h"
#include "MacroRunner.h"
#include "tiflib32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/code-ahead";
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Text in styles, drawings across the edges, a text box, a blank page and
// automatic page breaks.
const char* const kMacro[] = {
    "\\BHeading\\b \\Iitalic\\i \\Uunderlined\\u plain",
    "@CONVERT:BOX=50,300,600,400",
    "@CONVERT:LINE=-5,-5,5000,3000",
    "@CONVERT:PAGEBREAK",
    "@CONVERT:PAGEBREAK",
    "@CONVERT:TEXTBOX=200,300,600,400",
    "Words in a box that wrap onto a second and a third line of the box.",
    "@CONVERT:TEXT",
};

void run(FaxImage& fax) {
    for (const char* text : kMacro) {
        std::string line = text;
        fax.ProcessCommand(line.data());
    }
    for (int i = 0; i < 150; ++i) {
        std::string line = "Line " + std::to_string(i) + " of text running on to the next page.";
        fax.ProcessCommand(line.data());
    }
}

struct WriterSettings {
    WriterSettings(int mode, int resolution)
        : mode_(GetFaxCompression()), resolution_(GetFaxResolution()) {
        SetFaxCompression(mode);
        SetFaxResolution(resolution);
    }
    ~WriterSettings() {
        SetFaxCompression(mode_);
        SetFaxResolution(resolution_);
    }
    int mode_, resolution_;
};

} // namespace

TEST(CodeAhead, DocumentEqualsTheOneCodedAtTheSave) {
    for (int mode : {TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_2D, TIFLIB_FAX_G4})
        for (int resolution : {TIFLIB_FAX_FINE, TIFLIB_FAX_NORMAL}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " resolution " << resolution);
            std::string atSave = scratch("engine-at-save.tif"), ahead = scratch("engine-ahead.tif");
            {
                WriterSettings settings(mode, resolution);
                FaxImage fax;
                run(fax);
                ASSERT_TRUE(fax.SaveFile(atSave.data()));
            }
            FaxImage fax;
            fax.CodeAhead(mode, resolution);
            run(fax);
            ASSERT_GE(fax.PageCount, 5);
            auto* before = static_cast<FaxPage*>(fax.CurrentPage->Pred());
            EXPECT_TRUE(before->PageImage.Coded());
            EXPECT_THROW(before->PageImage.Picture(), folio::Error);
            // A coded page is final: the engine stays where it is.
            fax.PrevPage();
            EXPECT_EQ(fax.PageNo, fax.PageCount);
            // The writer's settings by the save play no part.
            WriterSettings other(TIFLIB_FAX_G3_1D_REFERENCE, 1 - resolution);
            ASSERT_TRUE(fax.SaveFile(ahead.data()));
            EXPECT_TRUE(readBytes(ahead) == readBytes(atSave));
        }
}

TEST(CodeAhead, BuildWithPdfCopyEqualsTheBuildCodedAtTheSave) {
    const std::string macro = scratch("copy.fax");
    {
        std::ofstream out(macro);
        for (const char* line : kMacro)
            out << line << "\n";
        for (int i = 0; i < 150; ++i)
            out << "Line " << i << " of text running on to the next page.\n";
    }
    for (int mode : {TIFLIB_FAX_G4, TIFLIB_FAX_G3_1D}) {
        SCOPED_TRACE(mode);
        WriterSettings settings(mode, TIFLIB_FAX_FINE);
        std::string error;
        folio::BuildOptions ahead;
        ahead.pdfFile = scratch("ahead.pdf");
        ASSERT_TRUE(folio::BuildFaxFile(macro.c_str(), scratch("ahead.tif").c_str(), ahead, error))
            << error;
        // Pages inspected before the save are never coded ahead.
        folio::BuildOptions atSave;
        atSave.pdfFile = scratch("at-save.pdf");
        atSave.beforeSave = [](FaxImage&, std::string&) { return true; };
        ASSERT_TRUE(
            folio::BuildFaxFile(macro.c_str(), scratch("at-save.tif").c_str(), atSave, error))
            << error;
        EXPECT_TRUE(readBytes(scratch("ahead.tif")) == readBytes(scratch("at-save.tif")));
        EXPECT_TRUE(readBytes(scratch("ahead.pdf")) == readBytes(scratch("at-save.pdf")));
    }
}
