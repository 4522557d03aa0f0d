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
#include <iterator>
#include <string>
#include <utility>
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

// The memory and the file build refuse it alike and write nothing.
TEST(FieldsOption, TextThatIsNoJsonObjectFailsTheBuild) {
    const std::string macro = scratch("template.fax"), tiff = scratch("failed.tif");
    std::ofstream(macro) << "Dear {{name}}\n";
    const std::pair<std::string, std::string> cases[] = {
        {"{\"name\": ", "parse error"},
        {"", "parse error"},
        {"[{\"name\": \"Ada\"}]", "it is an array"},
        {"null", "it is null"},
        {std::string(100000, '['), "nested deeper than 64 levels"},
    };
    for (const auto& [fields, why] : cases) {
        const std::string error = "fields: not a JSON object: " + why;
        const Result r = build("Dear {{name}}\n", fields.c_str());
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.substr(0, error.size()), error);
        FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
        o.fields = fields.c_str();
        EXPECT_FALSE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &o));
        EXPECT_EQ(std::string(BuildFaxLastError()).substr(0, error.size()), error);
        EXPECT_FALSE(fs::exists(tiff));
    }
}

// Without fields a template is read as it always was, {{ and all; a 1.1
// caller's structure ends before `fields`, so whatever lies there is not
// read. The file build fills them as the memory build does.
TEST(FieldsOption, WithoutFieldsTheFaxIsAsBefore) {
    const std::string macro = "Dear {{name}}, a {{{{ b\n";
    FolioBuffer none{};
    ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), nullptr, &none, nullptr));
    const std::string expected(reinterpret_cast<const char*>(none.data), none.size);
    FolioBufferFree(&none);
    EXPECT_EQ(build(macro, nullptr).tiff, expected);
    EXPECT_EQ(build(macro, "[not read", 72).tiff, expected);

    const std::string file = scratch("entry.fax"), tiff = scratch("entry.tif");
    std::ofstream(file) << macro;
    FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
    o.fields = R"({"name": "Ada"})";
    ASSERT_TRUE(BuildFaxWithOptions(file.c_str(), tiff.c_str(), &o)) << BuildFaxLastError();
    std::ifstream in(tiff, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              build("Dear Ada, a {{ b\n", nullptr).tiff);
}

} // namespace
