// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Hostile input from end to end, as a fax server meets it: numbers at and
// beyond the ends of the range in every command, fonts of absurd sizes,
// empty and huge prefixes, endless lines, binary garbage, included files that
// are folders or devices, outputs that cannot be written and a disk that
// fills up. Every case ends in a fax or in one clear error; a build that
// fails leaves the earlier file of that name and no temporary file behind.
#include "Error.h"
#include "FaxImage.h"
#include "MacroRunner.h"
#include "foliolib.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh, empty folder for one test (named after it: CTest runs the tests
// as separate processes side by side).
fs::path folder(const std::string& name) {
    const char* env = std::getenv("FOLIO_TEST_TMP");
    const fs::path base = env && *env ? fs::path(env) : fs::temp_directory_path() / "folio-tests";
    std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : test)
        if (c == '/')
            c = '-';
    const fs::path dir = base / "robustness" / test / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::set<std::string> entries(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

int tiffPages(const fs::path& path) {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return 0;
    const int pages = TIFFNumberOfDirectories(tif);
    TIFFClose(tif);
    return pages;
}

constexpr const char* kEarlier = "the fax of an earlier build";

struct Outcome {
    bool built = false;
    std::string error;
    int pages = 0;
};

// Builds `macro` from dir/in.fax into dir/out.tif, which holds an earlier
// file, and checks what every build must keep: a success has no error and a
// readable TIFF; a failure has a message and leaves the earlier file; either
// way the folder holds the same files as before.
Outcome build(const fs::path& dir, const std::string& macro, folio::BuildOptions options = {}) {
    const fs::path in = dir / "in.fax", out = dir / "out.tif";
    writeFile(in, macro);
    writeFile(out, kEarlier);
    const std::set<std::string> before = entries(dir);
    Outcome o;
    o.built = folio::BuildFaxFile(in.c_str(), out.c_str(), options, o.error);
    if (o.built) {
        EXPECT_EQ(o.error, "");
        o.pages = tiffPages(out);
        EXPECT_GE(o.pages, 1) << "not a TIFF";
    } else {
        EXPECT_NE(o.error, "");
        EXPECT_EQ(readFile(out), kEarlier) << "the earlier file was changed";
    }
    EXPECT_EQ(entries(dir), before) << "a file was left behind or removed";
    return o;
}

struct CommandCase {
    const char* line;
    int maxPages; // the text after the command may flow onto new pages, but no further
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.line;
}

class HostileCommand : public testing::TestWithParam<CommandCase> {};

// Each command with numbers at, beyond and below the 32-bit range, followed
// by text: the fax is built, and the text after it makes at most a page or two.
TEST_P(HostileCommand, BuildsAFaxWithoutRunningAway) {
    const fs::path dir = folder("command");
    const std::string macro = std::string("Text before the command.\n") + GetParam().line +
                              "\nText after the command, several words long, "
                              "\\Bbold\\b and \\Iitalic\\i.\nA second line.\n";
    const Outcome o = build(dir, macro);
    EXPECT_TRUE(o.built) << o.error;
    EXPECT_LE(o.pages, GetParam().maxPages);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HostileCommand,
    testing::Values(
        CommandCase{"@CONVERT:X=99999999999999999999", 2},
        CommandCase{"@CONVERT:X=-99999999999999999999", 1},
        // The pen below the page: the text starts a new page.
        CommandCase{"@CONVERT:Y=2147483647", 2}, CommandCase{"@CONVERT:Y=-2147483648", 1},
        CommandCase{"@CONVERT:MARGIN=2147483647", 2}, CommandCase{"@CONVERT:MARGIN=-2147483648", 1},
        CommandCase{"@CONVERT:LINE=-2147483648,-2147483648,2147483647,2147483647", 1},
        CommandCase{"@CONVERT:LINE=2147483647,1,-2147483648,2", 1},
        CommandCase{"@CONVERT:LINE=99999999999,-99999999999,5,5", 1},
        CommandCase{"@CONVERT:BOX=2147483647,2147483647,2147483647,2147483647", 1},
        CommandCase{"@CONVERT:BOX=-2147483648,-2147483648,-2147483648,-2147483648", 1},
        CommandCase{"@CONVERT:BOX=-100,-100,2147483647,2147483647", 1},
        CommandCase{"@CONVERT:TEXTBOX=2147483000,2147483000,99999,99999", 1},
        CommandCase{"@CONVERT:TEXTBOX=-2147483648,-2147483648,-1,-1", 1},
        CommandCase{"@CONVERT:TEXTBOX=-2147483648,-2147483648,2147483647,2147483647", 1},
        // Fonts of absurd sizes: the line is taller than the page and dropped.
        CommandCase{"@CONVERT:FONT=Arial,2147483647", 1},
        CommandCase{"@CONVERT:FONT=Arial,-2147483648", 1},
        CommandCase{"@CONVERT:FONT=Arial,30000", 1}, CommandCase{"@CONVERT:FONT=Arial,-30000", 1},
        CommandCase{"@CONVERT:FONT=Arial,99999999999999999999999", 1},
        // Glyphs larger than the page but lines that still fit: one word a page.
        CommandCase{"@CONVERT:FONT=Arial,500", 20}, CommandCase{"@CONVERT:FONT=Arial,12,-99999", 1},
        CommandCase{"@CONVERT:FONT=Arial,12,99999", 1}, CommandCase{"@CONVERT:FONTSCALE=1e308", 1},
        CommandCase{"@CONVERT:FONTSCALE=-1e308", 1}, CommandCase{"@CONVERT:FONTSCALE=1e99999", 1},
        CommandCase{"@CONVERT:FONTSCALE=1e-320", 1}, CommandCase{"@CONVERT:FONTSCALE=nan", 1},
        CommandCase{"@CONVERT:CODEPAGE=-1", 1}, CommandCase{"@CONVERT:CODEPAGE=99999999999", 1},
        // A lead byte at the very end of the following lines.
        CommandCase{"@CONVERT:CODEPAGE=932\n\x82\n\x81\x40\x82", 1},
        CommandCase{"@CONVERT:CODEPAGE=65001\n\xF0\x9F\n\xE2", 1},
        // Marks drawn at the end: a glyph larger than the page, a margin past
        // its edge, a lead byte as the last byte.
        CommandCase{"@CONVERT:FONT=Arial,2147483647\n@CONVERT:FOOTER={pages}\n@CONVERT:FONT", 1},
        CommandCase{"@CONVERT:MARGIN=-2147483648\n@CONVERT:HEADER={page}\n@CONVERT:MARGIN", 1},
        CommandCase{"@CONVERT:CODEPAGE=932\n@CONVERT:HEADER=\x82", 1}));

// Font names of no face on the machine, empty, very long or not UTF-8: the
// platform substitutes a face and the text is set.
TEST(HostileFont, NamesThatAreNoFaceGetASubstitute) {
    const fs::path dir = folder("font-names");
    for (const std::string& name :
         {std::string(), std::string(400, 'Q'), std::string("\xff\xfe\x80 Arial"),
          std::string("Arial\x01\x02"), std::string("../../etc/passwd")}) {
        const Outcome o = build(dir, "@CONVERT:FONT=" + name + ",12\nSome text\n");
        EXPECT_TRUE(o.built) << o.error;
        EXPECT_EQ(o.pages, 1);
    }
}

char* copyText(const std::string& text) {
    char* s = new char[text.size() + 1];
    std::memcpy(s, text.c_str(), text.size() + 1);
    return s;
}

// Feeds lines to an engine and counts the black pixels of its first page.
std::size_t inkAfter(FaxImage& fax, std::initializer_list<const char*> lines) {
    for (const char* l : lines) {
        std::string line = l;
        if (!fax.ProcessCommand(line.data()))
            break;
    }
    // Counted here: the bitmap's own calls stay inside the library.
    const folio::Bitmap& page = static_cast<FaxPage*>(fax.Pages->First())->PageImage.Picture();
    std::size_t black = 0;
    for (int y = 0; y < page.Height(); ++y)
        for (int i = 0; i < page.Stride(); ++i)
            black += std::size_t(__builtin_popcount(page.Row(y)[i]));
    return black;
}

// The prefixes are public fields of the library engine; a client may set
// them to anything.
TEST(HostilePrefix, EmptyAndHugePrefixes) {
    {
        // An empty command prefix makes every line a command: text lines are
        // keywords that match nothing.
        FaxImage fax;
        delete[] fax.MacroStart;
        fax.MacroStart = copyText("");
        EXPECT_EQ(inkAfter(fax, {"Hello world", "BOX=10,10,100,100"}), 400u);
        EXPECT_EQ(inkAfter(fax, {"PAGEBREAK"}), 400u);
        EXPECT_EQ(fax.PageCount, 2);
    }
    {
        // An empty comment prefix drops every line that is no command.
        FaxImage fax;
        delete[] fax.CommentStart;
        fax.CommentStart = copyText("");
        EXPECT_EQ(inkAfter(fax, {"Hello world", "more text"}), 0u);
        EXPECT_EQ(inkAfter(fax, {"@CONVERT:LINE=0,0,10,0"}), 10u);
    }
    {
        // A prefix longer than any line matches none: everything is text.
        FaxImage fax;
        delete[] fax.MacroStart;
        fax.MacroStart = copyText(std::string(100000, '@'));
        delete[] fax.CommentStart;
        fax.CommentStart = copyText(std::string(100000, '#'));
        EXPECT_GT(inkAfter(fax, {"@CONVERT:END", "#", std::string(499, '@').c_str()}), 0u);
        EXPECT_EQ(fax.PageCount, 1);
    }
}

// A macro that is one endless line arrives in 499-byte parts: the memory it
// takes is one part plus the pages it fills.
TEST(HostileMacro, EndlessLinesArriveInParts) {
    const fs::path dir = folder("endless");
    std::string words;
    while (words.size() < 100000)
        words += "endless words without a line end ";
    const Outcome text = build(dir, words);
    EXPECT_TRUE(text.built) << text.error;
    EXPECT_GE(text.pages, 2);
    EXPECT_LE(text.pages, 40);

    // Bytes that are no text at all: NUL ends every part at once.
    const Outcome nul = build(dir, std::string(1 << 20, '\0'));
    EXPECT_TRUE(nul.built) << nul.error;
    EXPECT_EQ(nul.pages, 1);

    // One endless word is cut into words of 100 bytes.
    const Outcome word = build(dir, std::string(50000, 'W'));
    EXPECT_TRUE(word.built) << word.error;
    EXPECT_GE(word.pages, 1);
}

// Binary garbage as a macro is text (and now and then a command): it builds.
TEST(HostileMacro, BinaryGarbageBuilds) {
    const fs::path dir = folder("garbage");
    std::mt19937 random(20261207);
    for (int round = 0; round < 6; ++round) {
        std::string bytes(16384, '\0');
        for (char& c : bytes)
            c = char(random());
        // Some rounds salted with command prefixes so that commands get garbage arguments.
        if (round % 2)
            for (std::size_t at = 0; at + 20 < bytes.size(); at += 300)
                std::memcpy(&bytes[at], "\n@CONVERT:", 10);
        const Outcome o = build(dir, bytes);
        // Only an error of the engine at a line may stop it (a page limit, a bitmap).
        if (!o.built) {
            EXPECT_NE(o.error.find("in.fax:"), std::string::npos) << o.error;
        }
    }
}

// The macro file is a folder or a device.
TEST(HostileMacro, MacroFileThatIsNoRegularFile) {
    const fs::path dir = folder("macro-file");
    const fs::path out = dir / "out.tif";
    std::string error;
    EXPECT_FALSE(folio::BuildFaxFile(dir.c_str(), out.c_str(), {}, error));
    EXPECT_NE(error.find("it is a directory"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out));

    // /dev/null is an empty macro: one blank page.
    EXPECT_TRUE(folio::BuildFaxFile("/dev/null", out.c_str(), {}, error)) << error;
    EXPECT_EQ(tiffPages(out), 1);
}

// An endless device as the macro file stops at the macro size limit.
TEST(HostileMacro, EndlessDeviceStopsAtTheSizeLimit) {
    const fs::path dir = folder("macro-device");
    const fs::path out = dir / "out.tif";
    writeFile(out, kEarlier);
    std::string error;
    EXPECT_FALSE(folio::BuildFaxFile("/dev/zero", out.c_str(), {}, error));
    EXPECT_NE(error.find("larger than 512 MiB"), std::string::npos) << error;
    EXPECT_EQ(readFile(out), kEarlier);
}

struct IncludeCase {
    const char* what;
    std::string line;    // the FILE command; {dir} is the test folder
    const char* refusal; // the error's text, or null when the build succeeds
};

// Files the FILE command names that are folders, devices, pipes, too large or
// not what their type says.
TEST(HostileInclude, FoldersDevicesAndOversizedFiles) {
    const fs::path dir = folder("include");
    const std::string d = dir.string();
    fs::create_directories(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    writeFile(dir / "empty", "");
    writeFile(dir / "text.txt", "plain text\n");
    // Sparse files one byte over each limit; reading them would take long.
    fs::resize_file((writeFile(dir / "huge.txt", "x"), dir / "huge.txt"), (64u << 20) + 1);
    fs::resize_file((writeFile(dir / "huge.bmp", "BM"), dir / "huge.bmp"), (64u << 20) + 1);
    // A BMP header claiming 2^31 - 1 pixels a side.
    std::string giant = "BM";
    giant.resize(54, '\0');
    giant[10] = 54;
    giant[14] = 40;
    for (int at : {18, 22}) {
        giant[at] = char(0xFF), giant[at + 1] = char(0xFF), giant[at + 2] = char(0xFF);
        giant[at + 3] = 0x7F;
    }
    giant[26] = 1;
    giant[28] = 1;
    writeFile(dir / "giant.bmp", giant);

    const std::vector<IncludeCase> cases = {
        {"folder as text", "@CONVERT:FILE=" + d + "/folder,TXT", nullptr},
        {"folder as bitmap", "@CONVERT:FILE=" + d + "/folder,BMP", nullptr},
        {"missing file", "@CONVERT:FILE=" + d + "/missing,TXT", nullptr},
        {"endless device as text", "@CONVERT:FILE=/dev/zero,TXT", "Cannot open file /dev/zero"},
        {"endless device as bitmap", "@CONVERT:FILE=/dev/urandom,BMP",
         "Cannot open file /dev/urandom"},
        {"empty device", "@CONVERT:FILE=/dev/null,TXT", "Cannot open file /dev/null"},
        {"named pipe without a writer", "@CONVERT:FILE=" + d + "/pipe,TXT", "Cannot open file"},
        {"text over 64 MiB", "@CONVERT:FILE=" + d + "/huge.txt,TXT", "Cannot open file"},
        {"bitmap over 64 MiB", "@CONVERT:FILE=" + d + "/huge.bmp,BMP", "Cannot open file"},
        {"empty bitmap", "@CONVERT:FILE=" + d + "/empty,BMP", "Bitmap image is not valid"},
        {"text as bitmap", "@CONVERT:FILE=" + d + "/text.txt,BMP", "Bitmap image is not valid"},
        {"gigantic bitmap header", "@CONVERT:FILE=" + d + "/giant.bmp,BMP",
         "Bitmap image is not valid"},
        {"bitmap as text", "@CONVERT:FILE=" + d + "/giant.bmp,TXT", nullptr},
    };
    const fs::path work = folder("include-build");
    for (const IncludeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = build(work, "before\n" + c.line + "\nafter\n");
        if (!c.refusal) {
            EXPECT_TRUE(o.built) << o.error;
            continue;
        }
        EXPECT_FALSE(o.built);
        // The message names the macro line and the cause.
        EXPECT_NE(o.error.find("in.fax:2: "), std::string::npos) << o.error;
        EXPECT_NE(o.error.find(c.refusal), std::string::npos) << o.error;
    }
}

// Outputs that cannot be written: a missing folder, a folder in the way, an
// empty name. Nothing is created and what was there stays.
TEST(HostileOutput, UnwritableTargetsFailCleanly) {
    const fs::path dir = folder("output");
    writeFile(dir / "in.fax", "Some text\n");
    fs::create_directories(dir / "taken");
    writeFile(dir / "taken" / "inside", "kept");
    const std::set<std::string> before = entries(dir);
    for (const std::string& target :
         {(dir / "missing" / "out.tif").string(), (dir / "taken").string(), std::string()}) {
        SCOPED_TRACE(target);
        std::string error;
        EXPECT_FALSE(folio::BuildFaxFile((dir / "in.fax").c_str(), target.c_str(), {}, error));
        EXPECT_NE(error.find("cannot write the fax file"), std::string::npos) << error;
        EXPECT_EQ(entries(dir), before);
    }
    EXPECT_EQ(readFile(dir / "taken" / "inside"), "kept");
    EXPECT_FALSE(BuildFax(nullptr, (dir / "x.tif").c_str()));
    EXPECT_STRNE(BuildFaxLastError(), "");
    EXPECT_FALSE(BuildFax((dir / "in.fax").c_str(), nullptr));
    EXPECT_STRNE(BuildFaxLastError(), "");
}

// A macro whose page is expensive to code: 400 vertical lines across it.
std::string densePage() {
    std::string macro;
    for (int x = 100; x < 1700; x += 4)
        macro += "@CONVERT:LINE=" + std::to_string(x) + ",100," + std::to_string(x) + ",2100\n";
    return macro;
}

// The disk fills up while the fax is written (a file size limit stands in
// for a full disk: the write fails the same way). The build fails with the
// cause, the earlier file survives and no temporary file is left. Runs in a
// child process, which may set its own limit.
TEST(HostileOutput, DiskFullFailsAndKeepsTheEarlierFile) {
    const fs::path dir = folder("disk-full");
    writeFile(dir / "in.fax", densePage());
    writeFile(dir / "out.tif", kEarlier);
    const std::set<std::string> before = entries(dir);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        // Without this the kernel ends the process at the limit: a write then
        // fails with EFBIG instead, as one to a full disk fails with ENOSPC.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{32 * 1024, 32 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool built =
            folio::BuildFaxFile((dir / "in.fax").c_str(), (dir / "out.tif").c_str(), {}, error);
        const std::string report = (built ? "built" : "failed: ") + error;
        (void)!::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        report.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the build was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(report.rfind("failed: ", 0), 0u) << report;
    // The writer holds the file's tail in memory, so the failing write comes
    // with a later page or at the end; the reason is the system's either way.
    EXPECT_NE(report.find("out.tif: cannot write the fax file: cannot write the "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(": File too large"), std::string::npos) << report;
    EXPECT_EQ(readFile(dir / "out.tif"), kEarlier);
    EXPECT_EQ(entries(dir), before);

    // Without the limit the same macro builds.
    std::string error;
    EXPECT_TRUE(folio::BuildFaxFile((dir / "in.fax").c_str(), (dir / "out.tif").c_str(), {}, error))
        << error;
    EXPECT_GT(fs::file_size(dir / "out.tif"), 32u * 1024);
}

// The page limit: a document may not grow past it, whether by page breaks or
// by text flowing on; a server may set a lower one.
TEST(HostileMacro, PagesStopAtTheLimit) {
    const fs::path dir = folder("pages");
    folio::BuildOptions three;
    three.maxPages = 3;
    const Outcome fits = build(dir, "1\n@CONVERT:PAGEBREAK\n2\n@CONVERT:PAGEBREAK\n3\n", three);
    EXPECT_TRUE(fits.built) << fits.error;
    EXPECT_EQ(fits.pages, 3);

    std::string breaks;
    for (int i = 0; i < 10; ++i)
        breaks += "@CONVERT:PAGEBREAK\n";
    const Outcome over = build(dir, breaks, three);
    EXPECT_FALSE(over.built);
    EXPECT_NE(over.error.find("in.fax:3: The fax has more than 3 pages"), std::string::npos)
        << over.error;

    std::string flow;
    for (int i = 0; i < 500; ++i)
        flow += "A line of text\n";
    const Outcome flowing = build(dir, flow, three);
    EXPECT_FALSE(flowing.built);
    EXPECT_NE(flowing.error.find("more than 3 pages"), std::string::npos) << flowing.error;

    // Outside 1 .. kMaxPages the engine's own limit holds.
    FaxImage fax;
    fax.SetPageLimit(0);
    EXPECT_EQ(fax.PageLimit(), FaxImage::kMaxPages);
    fax.SetPageLimit(FaxImage::kMaxPages + 1);
    EXPECT_EQ(fax.PageLimit(), FaxImage::kMaxPages);
}

} // namespace
