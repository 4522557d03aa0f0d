// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// FolioBuildOptions.fields: a template filled from a JSON object gives the
// fax of the macro with the values written in, a hostile value sets text
// and reads no file, text that is no JSON object fails with its reason,
// and without fields (null, or a caller whose structure ends before them)
// the fax is byte for byte the one built without options.
#include "foliolib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/fields-option";
    fs::create_directories(base);
    return base + "/" + name;
}

void collect(void* context, const FolioDiagnostic* d) {
    static_cast<std::vector<std::string>*>(context)->push_back(d->kind);
}

struct Result {
    bool ok = false;
    std::string tiff, error;
    std::vector<std::string> kinds;
};

Result build(const std::string& macro, const char* fields, unsigned size = 0) {
    FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
    if (size)
        o.size = size;
    o.fields = fields;
    Result r;
    o.diagnostic = collect;
    o.diagnosticContext = &r.kinds;
    FolioBuffer tiff{};
    r.ok = BuildFaxInMemory(macro.data(), macro.size(), &o, &tiff, nullptr);
    r.tiff.assign(reinterpret_cast<const char*>(tiff.data), tiff.size);
    FolioBufferFree(&tiff);
    r.error = BuildFaxLastError();
    return r;
}

TEST(FieldsOption, FilledTemplateIsTheMacroWithItsValues) {
    // The secret must never be read: the value only names it.
    const std::string secret = scratch("secret.txt");
    std::ofstream(secret) << "SECRET SECRET SECRET\n";
    const std::string hostile = "x\n@CONVERT:FILE=" + secret + ",TXT";
    // The same two lines as text: read from an included text file.
    std::ofstream(scratch("plain.txt")) << hostile << "\n";
    const std::string hostileJson = "{\"v\": \"x\\n@CONVERT:FILE=" + secret + ",TXT\"}";
    struct Case {
        const char* what;
        std::string macro, fields, plain;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"a text line", "Dear {{name}},\n", R"({"name": "Ada"})", "Dear Ada,\n", {}},
        {"nested and a number", "Order {{o.id}}\n", R"({"o": {"id": 7}})", "Order 7\n", {}},
        {"a value that would be a command",
         "{{v}}\n",
         hostileJson,
         "@CONVERT:FILE=" + scratch("plain.txt") + ",TXT\n",
         {}},
        {"a missing field", "Dear {{name}}!\n", "{}", "Dear !\n", {"field-missing"}},
        {"a literal {{", "a {{{{ b\n", "{}", "a {{ b\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result filled = build(c.macro, c.fields.c_str());
        ASSERT_TRUE(filled.ok) << filled.error;
        EXPECT_EQ(filled.kinds, c.kinds);
        const Result plain = build(c.plain, nullptr);
        ASSERT_TRUE(plain.ok) << plain.error;
        EXPECT_EQ(filled.tiff, plain.tiff);
    }
    // Reading the secret would have drawn something else.
    EXPECT_NE(build("x\n@CONVERT:FILE=" + secret + ",TXT\n", nullptr).tiff,
              build("{{v}}\n", hostileJson.c_str()).tiff);
}

TEST(FieldsOption, TextThatIsNoJsonObjectFailsTheBuild) {
    struct Case {
        std::string fields, error;
    };
    const Case cases[] = {
        {"{\"name\": ", "fields: not a JSON object: parse error"},
        {"", "fields: not a JSON object: parse error"},
        {"[{\"name\": \"Ada\"}]", "fields: not a JSON object: it is an array"},
        {"\"Ada\"", "fields: not a JSON object: it is a string"},
        {"null", "fields: not a JSON object: it is null"},
        {std::string(100000, '['), "fields: not a JSON object: nested deeper than 64 levels"},
    };
    const std::string macro = scratch("template.fax");
    std::ofstream(macro) << "Dear {{name}}\n";
    const std::string tiff = scratch("failed.tif");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.substr(0, 20));
        const Result r = build("Dear {{name}}\n", c.fields.c_str());
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.tiff.empty());
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error);
        // The file build refuses it the same way and writes nothing.
        FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
        o.fields = c.fields.c_str();
        EXPECT_FALSE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &o));
        EXPECT_EQ(std::string(BuildFaxLastError()).substr(0, c.error.size()), c.error);
        EXPECT_FALSE(fs::exists(tiff));
    }
}

// Without fields a template is read as it always was, {{ and all; a 1.1
// caller's structure ends before `fields`, so whatever lies there is not
// read.
TEST(FieldsOption, WithoutFieldsTheFaxIsAsBefore) {
    const std::string macro = "Dear {{name}}, a {{{{ b\n";
    FolioBuffer none{};
    ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), nullptr, &none, nullptr));
    const std::string expected(reinterpret_cast<const char*>(none.data), none.size);
    FolioBufferFree(&none);
    EXPECT_EQ(build(macro, nullptr).tiff, expected);
    EXPECT_EQ(build(macro, "[not read", 72).tiff, expected);
    EXPECT_NE(build(macro, R"({"name": "Ada"})").tiff, expected);
}

// The file build and the page bitmaps take the fields too.
TEST(FieldsOption, EveryEntryPointFillsTheFields) {
    const std::string macro = scratch("entry.fax"), tiff = scratch("entry.tif");
    std::ofstream(macro) << "Dear {{name}}\n";
    FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
    o.fields = R"({"name": "Ada"})";
    ASSERT_TRUE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &o)) << BuildFaxLastError();
    std::ifstream in(tiff, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              build("Dear Ada\n", nullptr).tiff);

    auto bitmap = [](const std::string& text, const char* fields) {
        FolioBuildOptions b = FOLIO_BUILD_OPTIONS_INIT;
        b.fields = fields;
        FolioBuffer rows{};
        int w = 0, h = 0;
        EXPECT_TRUE(BuildFaxPageBitmap(text.data(), text.size(), &b, 1, &rows, &w, &h));
        std::string s(reinterpret_cast<const char*>(rows.data), rows.size);
        FolioBufferFree(&rows);
        return s;
    };
    EXPECT_EQ(bitmap("Dear {{name}}\n", o.fields), bitmap("Dear Ada\n", nullptr));
}

} // namespace
