// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Templates and data: filling fields with hostile values (line breaks before
// a command, style escapes, a template's own backslash), literal braces,
// nested names, missing values and code pages; the CSV and JSON readers'
// records, line numbers and bad records; and a filled macro run by the
// engine, whose hostile value must set text and read no file.
#include "DataReader.h"
#include "Fields.h"
#include "MacroRunner.h"
#include "tiflib32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using folio::FilterPlace;
using folio::Record;

struct FillCase {
    const char* what;
    std::string text;
    FilterPlace place;
    std::uint16_t codePage;
    std::string expected;
    std::vector<std::string> missing;
    std::size_t replaced;
};

TEST(FillText, ValuesStayText) {
    const Record record = {
        {"name", "x\n@CONVERT:FILE=/etc/passwd,TXT"},
        {"bold", "\\B"},
        {"crlf", "a\r\nb\rc"},
        {"nul", std::string("a\0b", 3)},
        {"a.b", "deep"},
        {"word", "B"},
        {"cafe", "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83"}, // Café € ☃
        {"kanji", "\xE8\xA1\xA8"},                         // 表: 0x95 0x5C in 932
        {"bad", "a\xFF"},
    };
    const FillCase cases[] = {
        {"a line break sets a second text line",
         "Name: {{name}}!",
         FilterPlace::Text,
         0,
         "Name: x\n@CONVERT:FILE=/etc/passwd,TXT!",
         {},
         0},
        {"a backslash is drawn as itself", "{{bold}}", FilterPlace::Text, 0, "\\\\B", {}, 0},
        {"the template's lone backslash cannot join the value",
         "\\{{word}}",
         FilterPlace::Text,
         0,
         "\\\\B",
         {},
         0},
        {"the template's own escapes stay",
         "\\B{{word}}\\b \\\\{{word}}",
         FilterPlace::Text,
         0,
         "\\BB\\b \\\\B",
         {},
         0},
        {"CR LF, CR and LF each break a line",
         "{{crlf}}",
         FilterPlace::IncludedText,
         0,
         "a\nb\nc",
         {},
         0},
        {"NUL bytes are dropped", "{{nul}}", FilterPlace::Text, 0, "ab", {}, 0},
        {"{{{{ is a literal {{", "{{{{name}} {{{{", FilterPlace::Text, 0, "{{name}} {{", {}, 0},
        {"nested members", "{{a.b}}", FilterPlace::Text, 0, "deep", {}, 0},
        {"not field names",
         "{{a b}} {{.a}} {{a.}} {{a..b}} {{}}",
         FilterPlace::Text,
         0,
         "{{a b}} {{.a}} {{a.}} {{a..b}} {{}}",
         {},
         0},
        {"a missing value sets nothing", "[{{nope}}]", FilterPlace::Text, 0, "[]", {"nope"}, 0},
        {"UTF-8 written in 1252", "{{cafe}}", FilterPlace::Text, 1252, "Caf\xE9 \x80 ?", {}, 1},
        {"UTF-8 kept in 65001",
         "{{cafe}}",
         FilterPlace::Text,
         65001,
         "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x98\x83",
         {},
         0},
        {"bad UTF-8 is replaced", "{{bad}}", FilterPlace::Text, 1252, "a?", {}, 1},
        {"a trail byte equal to \\ is not doubled",
         "{{kanji}}",
         FilterPlace::Text,
         932,
         "\x95\x5C",
         {},
         0},
        {"barcode data: no escapes, line breaks kept",
         "{{bold}}|{{crlf}}",
         FilterPlace::BarcodeData,
         0,
         "\\B|a\r\nb\rc",
         {},
         0},
    };
    for (const FillCase& c : cases) {
        folio::FillNotes notes;
        EXPECT_EQ(folio::FillText(c.text, record, c.place, c.codePage, notes), c.expected)
            << c.what;
        EXPECT_EQ(notes.missing, c.missing) << c.what;
        std::size_t replaced = 0;
        for (const auto& r : notes.replaced)
            replaced += r.second;
        EXPECT_EQ(replaced, c.replaced) << c.what;
    }
}

TEST(FillText, FieldsInCommands) {
    EXPECT_EQ(folio::FieldsIn("@CONVERT:FILE={{dir}}/x,{{a.b}} {{{{c}}"),
              (std::vector<std::string>{"dir", "a.b"}));
}

struct Expected {
    int number, line;
    std::string error; // a part of the reason; empty for a good record
    Record values;
};

struct ReadCase {
    const char* what;
    bool json;
    std::string data;
    std::vector<Expected> records;
};

std::vector<folio::DataRecord> readAll(bool json, const std::string& data, std::string& error) {
    auto in = std::make_unique<std::istringstream>(data);
    auto reader =
        json ? folio::ReadJson(std::move(in), error) : folio::ReadCsv(std::move(in), error);
    std::vector<folio::DataRecord> out;
    folio::DataRecord r;
    while (reader && reader->Next(r) && out.size() < 100)
        out.push_back(r);
    return out;
}

TEST(DataReader, Records) {
    const ReadCase cases[] = {
        {"quotes, commas and line breaks in quotes",
         false,
         "a,b\n\"x, y\",\"he said \"\"hi\"\"\"\n\"two\nlines\", z \n",
         {{1, 2, "", {{"a", "x, y"}, {"b", "he said \"hi\""}}},
          {2, 3, "", {{"a", "two\nlines"}, {"b", " z "}}}}},
        {"byte-order mark, CR LF and blank lines",
         false,
         "\xEF\xBB\xBFname\r\n\r\nAnn\r\nBo",
         {{1, 3, "", {{"name", "Ann"}}}, {2, 4, "", {{"name", "Bo"}}}}},
        {"lone CR line ends, one in quotes, and a blank line",
         false,
         "a,b\r1,2\r\"x\ry\",3\r\r4,5",
         {{1, 2, "", {{"a", "1"}, {"b", "2"}}},
          {2, 3, "", {{"a", "x\ry"}, {"b", "3"}}},
          {3, 6, "", {{"a", "4"}, {"b", "5"}}}}},
        {"CR LF in quotes; a CR LF split between two blocks is one line end",
         false,
         "a\r\n\"p\r\nq\"\r\n" + std::string(65536 - 12, 'x') + "\r\nlast\r\n",
         {{1, 2, "", {{"a", "p\r\nq"}}},
          {2, 4, "", {{"a", std::string(65536 - 12, 'x')}}},
          {3, 5, "", {{"a", "last"}}}}},
        {"a ragged row fails alone",
         false,
         "a,b\n1,2\n3\n4,5,6\n7,8\n",
         {{1, 2, "", {{"a", "1"}, {"b", "2"}}},
          {2, 3, "1 field where the header has 2", {}},
          {3, 4, "3 fields", {}},
          {4, 5, "", {{"a", "7"}, {"b", "8"}}}}},
        {"bad quoting ends the file",
         false,
         "a\nok\nx\"y\nlater\n",
         {{1, 2, "", {{"a", "ok"}}}, {2, 3, "bad quoting", {}}}},
        {"an unclosed quote", false, "a\n\"open\n", {{1, 2, "not closed", {}}}},
        {"JSON: values, nesting, null and bad elements",
         true,
         "[\n {\"n\": 12.5, \"ok\": true, \"no\": null, \"c\": {\"city\": \"Oslo\"}, "
         "\"l\": [1]},\n 7,\n {\"a\": }\n, {\"s\": \"x\\ny\"}]",
         {{1, 2, "", {{"n", "12.5"}, {"ok", "true"}, {"c.city", "Oslo"}, {"l", "[1]"}}},
          {2, 3, "not a JSON object", {}},
          {3, 4, "not valid JSON", {}},
          {4, 5, "", {{"s", "x\ny"}}}}},
        {"JSON: one object", true, " {\"a\": \"b\"}", {{1, 1, "", {{"a", "b"}}}}},
        {"JSON: lone CR and CR LF line ends",
         true,
         "[\r{\"a\": 1},\r\n\r{\"a\": 2}]",
         {{1, 2, "", {{"a", "1"}}}, {2, 4, "", {{"a", "2"}}}}},
        {"JSON: an unclosed array",
         true,
         "[{\"a\": \"b\"},",
         {{1, 1, "", {{"a", "b"}}}, {2, 1, "not closed", {}}}},
        {"JSON: too deep",
         true,
         "[" + std::string(100, '[') + std::string(100, ']') + "]",
         {{1, 1, "nested deeper", {}}}},
    };
    for (const ReadCase& c : cases) {
        std::string error;
        const auto records = readAll(c.json, c.data, error);
        EXPECT_EQ(error, "") << c.what;
        ASSERT_EQ(records.size(), c.records.size()) << c.what;
        for (std::size_t i = 0; i < records.size(); ++i) {
            const Expected& e = c.records[i];
            EXPECT_EQ(records[i].number, e.number) << c.what << " #" << i;
            EXPECT_EQ(records[i].line, e.line) << c.what << " #" << i;
            if (e.error.empty()) {
                EXPECT_EQ(records[i].error, "") << c.what << " #" << i;
                EXPECT_EQ(records[i].values, e.values) << c.what << " #" << i;
            } else {
                EXPECT_NE(records[i].error.find(e.error), std::string::npos)
                    << c.what << " #" << i << ": " << records[i].error;
            }
        }
    }
}

TEST(DataReader, FilesThatCannotStart) {
    for (const auto& [json, data] :
         std::vector<std::pair<bool, std::string>>{{false, ""}, {true, "\"text\""}, {true, ""}}) {
        std::string error;
        auto in = std::make_unique<std::istringstream>(data);
        EXPECT_EQ(json ? folio::ReadJson(std::move(in), error)
                       : folio::ReadCsv(std::move(in), error),
                  nullptr);
        EXPECT_NE(error, "");
    }
}

// The engine with a filler: the hostile value sets two text lines and reads
// no file, exactly as the same two lines included as text do.
TEST(FieldFiller, HostileValueSetsTextOnly) {
    const char* tmp = std::getenv("FOLIO_TEST_TMP");
    const std::filesystem::path dir =
        std::filesystem::path(tmp ? tmp : "/tmp") / ("fields-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string secret = (dir / "secret.txt").string();
    std::ofstream(secret) << "SECRET SECRET SECRET\n";
    const std::string hostile = "x\n@CONVERT:FILE=" + secret + ",TXT";
    std::ofstream(dir / "plain.txt") << hostile << "\n";
    const Record record = {{"v", hostile}};
    folio::FieldFiller filler(record);

    folio::BuildOptions options;
    options.resolution = TIFLIB_FAX_FINE;
    std::string error;
    const std::string filled = (dir / "filled.tif").string();
    const std::string plain = (dir / "plain.tif").string();
    const std::string secretFax = (dir / "secret.tif").string();
    options.lineFilter = &filler;
    const std::string templ = "{{v}}\n";
    ASSERT_TRUE(
        folio::BuildFaxBytes(templ.data(), templ.size(), "t", filled.c_str(), options, error))
        << error;
    options.lineFilter = nullptr;
    const std::string include = "@CONVERT:FILE=" + (dir / "plain.txt").string() + ",TXT\n";
    ASSERT_TRUE(
        folio::BuildFaxBytes(include.data(), include.size(), "p", plain.c_str(), options, error))
        << error;
    // And what reading the file would have set, which must differ.
    const std::string read = "x\n@CONVERT:FILE=" + secret + ",TXT\n";
    ASSERT_TRUE(
        folio::BuildFaxBytes(read.data(), read.size(), "s", secretFax.c_str(), options, error))
        << error;
    auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes(filled), bytes(plain));
    EXPECT_NE(bytes(filled), bytes(secretFax));
    std::filesystem::remove_all(dir);
}

} // namespace
