// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Diagnostics in both variants: one macro per kind, checked for the line and
// the kind reported, and for pages identical to those of the same macro run
// without a sink.
#include "Diagnostics.h"
#include "FaxImage.h"

#include "Error.h"
#include "common/EngineTestSupport.h"
#include "common/VariantEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using enginetest::kLibrary;
using enginetest::kPrefix;
using enginetest::makeEngine;

struct Recorder : folio::DiagnosticSink {
    std::vector<folio::Diagnostic> seen;
    void Report(const folio::Diagnostic& d) override { seen.push_back(d); }
};

struct RefuseAll : FileGate {
    bool MayRead(const std::string&) override { return false; }
};

// A folder of its own for the files the cases include, removed at exit.
const std::string& tempDir() {
    static const struct Folder {
        std::string path;
        Folder() {
            path = ::testing::TempDir() + "diagnostics-XXXXXX";
            const char* made = ::mkdtemp(path.data());
            EXPECT_NE(made, nullptr);
            ::mkfifo((path + "/pipe.txt").c_str(), 0600);
            std::ofstream(path + "/bad.bmp") << "not a bitmap at all";
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// Lines run with the variant's prefix for a leading "@", "$T" standing for
// the temporary folder and "$S" for the source tree.
std::string expand(const std::string& line) {
    std::string out = line[0] == '@' ? kPrefix + line.substr(1) : line;
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"$T", tempDir()}, {"$S", FOLIO_SOURCE_DIR}}) {
        for (std::size_t at; (at = out.find(key)) != std::string::npos;)
            out.replace(at, key.size(), value);
    }
    return out;
}

struct MacroRun {
    std::unique_ptr<FaxImage> fax;
    bool threw = false;
};

MacroRun runMacro(const std::vector<std::string>& lines, folio::DiagnosticSink* sink, bool gate) {
    static RefuseAll refuse;
    MacroRun run{makeEngine()};
    run.fax->SetDiagnostics(sink);
    if (gate)
        run.fax->SetFileGate(&refuse);
    try {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            run.fax->SetSourceLine(int(i) + 1);
            if (!enginetest::run(*run.fax, expand(lines[i])))
                break;
        }
    } catch (const folio::Error&) {
        run.threw = true;
    }
    return run;
}

void expectSamePages(FaxImage& a, FaxImage& b) {
    ASSERT_EQ(a.PageCount, b.PageCount);
    Link* pb = b.Pages->First();
    for (Link* pa = a.Pages->First(); pa && pb; pa = pa->Suc(), pb = pb->Suc()) {
        const folio::Bitmap& x = static_cast<FaxPage*>(pa)->PageImage.Picture();
        const folio::Bitmap& y = static_cast<FaxPage*>(pb)->PageImage.Picture();
        ASSERT_EQ(x.Width(), y.Width());
        ASSERT_EQ(x.Height(), y.Height());
        for (int row = 0; row < x.Height(); ++row)
            ASSERT_EQ(std::memcmp(x.Row(row), y.Row(row), std::size_t(x.Stride())), 0)
                << "row " << row;
    }
}

struct Case {
    const char* what;
    std::vector<std::string> lines;
    int line;         // the line reported
    const char* kind; // the kind reported there
    folio::Severity severity = folio::Severity::Warning;
    int variants = 3; // 1 library, 2 program, 3 both
    bool gate = false;
};

const Case kCases[] = {
    {"text box overflow",
     {"@TEXTBOX=100,100,400,40", "one two three four five six seven eight nine ten eleven"},
     2,
     folio::kind::TextDropped},
    {"no room between the margins",
     {"@FONT=Arial,1000", "lost words"},
     2,
     folio::kind::TextDropped},
    {"word past the right edge",
     {"@TEXTBOX=1650,100,400,400", "Beyond the edge"},
     2,
     folio::kind::TextClipped},
    {"line off the page",
     {"# a comment", "@LINE=100,100,2000,100"},
     2,
     folio::kind::DrawingClipped},
    {"box off the page", {"@BOX=1700,100,100,100"}, 1, folio::kind::DrawingClipped},
    {"bitmap off the page",
     {"@X=1700", "@FILE=$S/examples/logo.bmp,BMP"},
     2,
     folio::kind::DrawingClipped},
    {"missing file", {"@FILE=$T/none.txt,TXT"}, 1, folio::kind::FileMissing},
    {"folder as file", {"@FILE=$T,BMP"}, 1, folio::kind::FileMissing},
    {"unknown file type", {"@FILE=$S/examples/logo.bmp,GIF"}, 1, folio::kind::FileType},
    {"file without type", {"@FILE=$S/examples/logo.bmp"}, 1, folio::kind::FileType},
    {"refused file",
     {"@FILE=$S/examples/logo.bmp,BMP"},
     1,
     folio::kind::FileRefused,
     folio::Severity::Warning,
     3,
     true},
    {"unreadable file",
     {"text", "@FILE=$T/pipe.txt,TXT"},
     2,
     folio::kind::FileUnreadable,
     folio::Severity::Error},
    {"invalid bitmap",
     {"@FILE=$T/bad.bmp,BMP"},
     1,
     folio::kind::BitmapInvalid,
     folio::Severity::Error},
    {"unknown command", {"@FROBNICATE=1"}, 1, folio::kind::UnknownCommand},
    {"command of the other variant",
     {"@COLUMNS=100,800"},
     1,
     folio::kind::UnknownCommand,
     folio::Severity::Warning,
     1},
    {"command of the other variant",
     {"@CODEPAGE=932"},
     1,
     folio::kind::UnknownCommand,
     folio::Severity::Warning,
     2},
    {"more than four columns",
     {"@COLUMNS=1,2,3,4,5,6,7,8,9,10"},
     1,
     folio::kind::MissingArgument,
     folio::Severity::Warning,
     2},
    {"keyword read by its start", {"@FONTSIZE=12"}, 1, folio::kind::KeywordGuess},
    {"too few arguments", {"@LINE=10,20,30"}, 1, folio::kind::MissingArgument},
    {"no equals sign", {"@BOX 10,20,30,40"}, 1, folio::kind::MissingArgument},
    {"not a number", {"@X=abc"}, 1, folio::kind::NotANumber},
    {"number with a tail", {"@LINE=10,20,30px,40"}, 1, folio::kind::NotANumber},
    {"font not installed",
     {"@FONT=No Such Face Anywhere,12", "text"},
     1,
     folio::kind::FontSubstituted},
    {"metric-compatible font",
     {"@FONT=Courier New,12"},
     1,
     folio::kind::FontSubstituted,
     folio::Severity::Note},
    {"unknown character set",
     {"@FONT=Arial,12,99"},
     1,
     folio::kind::CharsetUnknown,
     folio::Severity::Warning,
     1},
    {"unknown code page",
     {"@CODEPAGE=1"},
     1,
     folio::kind::CharsetUnknown,
     folio::Severity::Warning,
     1},
    {"character without a glyph",
     {"#", "A\x01"
           "B"},
     2,
     folio::kind::NoGlyph},
    {"character in an included file", {"@FILE=$T/glyph.txt,TXT"}, 1, folio::kind::NoGlyph},
    {"byte that is no character",
     {"A\x81"
      "B"},
     1,
     folio::kind::BadBytes},
    {"word wider than its text box",
     {"@TEXTBOX=100,300,240,50", "IBAN:DE89370400440532013000"},
     2,
     folio::kind::TextClipped,
     folio::Severity::Warning,
     1},
    {"text box over the text of another",
     {"@TEXTBOX=100,300,240,50", "IBAN:DE89370400440532013000", "@TEXTBOX=250,300,300,50",
      "[X:8937"},
     4,
     folio::kind::TextOverlap},
    {"text over a line", {"@LINE=100,215,1600,215", "@Y=200", "Struck"}, 3, folio::kind::TextOverlap},
    {"text too small to read", {"@FONT=Arial,1", "", "tiny"}, 3, folio::kind::TextTiny},
    {"NUL byte in an included line", {"@FILE=$T/nul.txt,TXT"}, 1, folio::kind::BadBytes},
    {"byte-order mark of an included file",
     {"@FILE=$T/bom.txt,TXT"},
     1,
     folio::kind::ByteOrderMark},
};

TEST(Diagnostics, EachKindIsReportedAtItsLineAndLeavesThePagesAlone) {
    std::ofstream(tempDir() + "/glyph.txt") << "fine\nA\x02"
                                               "B\n";
    std::ofstream(tempDir() + "/nul.txt") << std::string("nul\0byte here\n", 14);
    std::ofstream(tempDir() + "/bom.txt") << "\xEF\xBB\xBFHello\n";
    for (const Case& c : kCases) {
        if (!(c.variants & (kLibrary ? 1 : 2)))
            continue;
        SCOPED_TRACE(c.what);
        Recorder recorder;
        MacroRun with = runMacro(c.lines, &recorder, c.gate);
        MacroRun without = runMacro(c.lines, nullptr, c.gate);
        EXPECT_EQ(with.threw, without.threw);
        expectSamePages(*with.fax, *without.fax);
        bool found = false;
        std::string all;
        for (const folio::Diagnostic& d : recorder.seen) {
            all += std::to_string(d.line) + " " + d.kind + ": " + d.message + "\n";
            found = found ||
                    (d.line == c.line && std::string(d.kind) == c.kind && d.severity == c.severity);
        }
        EXPECT_TRUE(found) << "expected " << c.kind << " at line " << c.line << ", got:\n" << all;
    }
}

TEST(Diagnostics, AMacroThatLosesNothingReportsNothing) {
    Recorder recorder;
    // Italic overhangs, descenders and underlines reach past their own
    // cells; the next cell or line set over them is no overlap.
    runMacro({"# a letter", "@FONT=Liberation Sans,12", "Dear customer,", "",
              "Your order \\Bhas shipped\\b.", "@LINE=100,300,1628,300", "@BOX=100,400,1528,200",
              "@TEXTBOX=120,420,1400,180", "A short note.", "@TEXT", "@PAGEBREAK", "Page two.",
              "\\Iff jiffy fluff of giraffe\\i f.", "\\U\\Bgjpqy Qgj jig\\u\\b",
              "\\I\\Ugjpqy \\Bstaff fjord\\b", "gjpqy\\i\\u below", "@FONT=Liberation Sans,3", "@FONT=Liberation Sans,4",
              "Small print.", "@END"},
             &recorder, false);
    for (const folio::Diagnostic& d : recorder.seen)
        ADD_FAILURE() << d.line << " " << d.kind << ": " << d.message;
}

TEST(Diagnostics, DroppedTextIsQuotedAndCounted) {
    Recorder recorder;
    runMacro({"@TEXTBOX=100,100,300,40",
              "first line fits then these words are lost: alpha beta gamma delta epsilon zeta "
              "eta theta"},
             &recorder, false);
    ASSERT_FALSE(recorder.seen.empty());
    const std::string& m = recorder.seen[0].message;
    EXPECT_NE(m.find("words dropped from \""), std::string::npos) << m;
    EXPECT_NE(m.find("...\""), std::string::npos) << m; // cut at about 40 bytes
}

#if !FOLIO_PROGRAM_VARIANT
// Text read as UTF-8 starts after its byte-order mark: the included file
// with the mark sets what the one without it sets.
TEST(Diagnostics, AnIncludedFileReadAsUtf8SkipsItsByteOrderMark) {
    std::ofstream(tempDir() + "/marked.txt") << "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F" "e\n";
    std::ofstream(tempDir() + "/plain.txt") << "Gr\xC3\xBC\xC3\x9F" "e\n";
    Recorder recorder;
    MacroRun marked = runMacro({"@CODEPAGE=65001", "@FILE=$T/marked.txt,TXT"}, &recorder, false);
    MacroRun plain = runMacro({"@CODEPAGE=65001", "@FILE=$T/plain.txt,TXT"}, nullptr, false);
    expectSamePages(*marked.fax, *plain.fax);
    for (const folio::Diagnostic& d : recorder.seen)
        ADD_FAILURE() << d.line << " " << d.kind << ": " << d.message;
}
#endif

TEST(Diagnostics, ControlBytesFromTheMacroNeverReachTheMessage) {
    Recorder recorder;
    runMacro({"@FROB\x1b]0;owned\x07=1", "@X=\x1b[2J"}, &recorder, false);
    ASSERT_EQ(recorder.seen.size(), 2u);
    for (const folio::Diagnostic& d : recorder.seen)
        for (char c : d.message)
            EXPECT_GE(static_cast<unsigned char>(c), 32) << d.message;
}

TEST(Diagnostics, ReportsFromAnIncludedFileNameItsLine) {
    std::ofstream(tempDir() + "/box.txt") << "fits\nA\x02"
                                             "B\n";
    Recorder recorder;
    runMacro({"@FILE=$T/box.txt,TXT"}, &recorder, false);
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].line, 1);
    EXPECT_NE(recorder.seen[0].message.find("box.txt, line 2)"), std::string::npos)
        << recorder.seen[0].message;
}

} // namespace
