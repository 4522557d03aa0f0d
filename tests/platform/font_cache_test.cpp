// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The font lookup cache file: a warm file answers with fontconfig's face and
// a changed configuration, a damaged, oversized, linked or foreign file is
// passed over (fontconfig answers) and then rewritten. Every file lives in
// the scratch folder; FONTCONFIG_FILE names a configuration there that
// includes the system's, so that touching it stands for an edit.
#include "FontCache.h"
#include "FontLibrary.h"
#include "scratch_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace folio {
namespace {

struct Lookup {
    std::string file;
    fontcache::Counts counts;
};

// One process's look-up of Arial, as a new process would make it.
Lookup lookUp() {
    ForgetFontLookups();
    Lookup l;
    l.file = AcquireTypeface("Arial", 20, false, false)->File();
    l.counts = fontcache::LookupCounts();
    return l;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

class FontCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = test::ScratchDir() /
               ("font-cache-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::permissions(dir_, fs::perms::owner_all);
        conf_ = dir_ / "fonts.conf";
        writeAll(conf_, "<?xml version=\"1.0\"?>\n<fontconfig>"
                        "<include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>"
                        "</fontconfig>\n");
        cache_ = dir_ / "fonts-v1";
        ::setenv("FONTCONFIG_FILE", conf_.c_str(), 1);
        ::setenv("FOLIOSET_FONT_CACHE", cache_.c_str(), 1);
    }
    void TearDown() override {
        ::setenv("FOLIOSET_FONT_CACHE", "0", 1);
        ForgetFontLookups();
    }
    fs::path dir_, conf_, cache_;
};

TEST_F(FontCacheTest, WarmFileAnswersWithFontconfigsFace) {
    const Lookup cold = lookUp();
    ASSERT_FALSE(cold.file.empty());
    EXPECT_EQ(cold.counts.hits, 0u);
    const FaceMatch coldMatch = MatchFace("Arial");
    const Lookup warm = lookUp();
    EXPECT_EQ(warm.file, cold.file);
    EXPECT_EQ(warm.counts.hits, 1u);
    EXPECT_EQ(warm.counts.misses, 0u);
    const FaceMatch warmMatch = MatchFace("Arial");
    EXPECT_EQ(fontcache::LookupCounts().hits, 2u);
    EXPECT_EQ(warmMatch.kind, coldMatch.kind);
    EXPECT_EQ(warmMatch.family, coldMatch.family);
    struct stat st;
    ASSERT_EQ(::stat(cache_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FontCacheTest, OffWritesNothing) {
    ::setenv("FOLIOSET_FONT_CACHE", "0", 1);
    EXPECT_FALSE(lookUp().file.empty());
    EXPECT_FALSE(lookUp().file.empty());
    EXPECT_EQ(fontcache::LookupCounts().hits, 0u);
    EXPECT_FALSE(fs::exists(cache_));
}

// Each change made to a warm file or to fontconfig's inputs: the next
// process asks fontconfig, gets the same face and leaves a file that the
// process after it uses.
TEST_F(FontCacheTest, PassesOverChangedOrUntrustedFiles) {
    const struct {
        const char* what;
        std::function<void(const fs::path& cache, const fs::path& conf)> change;
    } cases[] = {
        {"configuration edited",
         [](const fs::path&, const fs::path& conf) {
             const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
             ::utimensat(AT_FDCWD, conf.c_str(), times, 0);
         }},
        {"environment changed",
         [](const fs::path&, const fs::path&) { ::setenv("FC_LANG", "de", 1); }},
        {"cut short",
         [](const fs::path& c, const fs::path&) {
             const std::string b = readAll(c);
             writeAll(c, b.substr(0, b.size() - 4));
         }},
        {"no end line",
         [](const fs::path& c, const fs::path&) {
             const std::string b = readAll(c);
             writeAll(c, b.substr(0, b.size() - 4) + "face\tArial\t0\t0\t%ZZ\t0\t-\nend\n");
         }},
        {"wrong version",
         [](const fs::path& c, const fs::path&) {
             writeAll(c, "folioset-font-cache 2" + readAll(c).substr(21));
         }},
        {"oversized",
         [](const fs::path& c, const fs::path&) {
             std::string b = readAll(c);
             b.insert(b.find("face"), std::string(300 * 1024, '#') + "\n");
             writeAll(c, b);
         }},
        {"writable by others",
         [](const fs::path& c, const fs::path&) { ::chmod(c.c_str(), 0666); }},
        {"a symbolic link",
         [](const fs::path& c, const fs::path&) {
             fs::rename(c, c.string() + ".target");
             fs::create_symlink(c.string() + ".target", c);
         }},
        {"another user's",
         [](const fs::path& c, const fs::path&) {
             if (::geteuid() == 0)
                 ::chown(c.c_str(), 1, 1);
             else
                 ::chmod(c.c_str(), 0620); // what the test can do without root
         }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        fs::remove(cache_);
        ::unsetenv("FC_LANG");
        const Lookup cold = lookUp();
        ASSERT_EQ(lookUp().counts.hits, 1u);
        k.change(cache_, conf_);
        const Lookup changed = lookUp();
        EXPECT_EQ(changed.counts.hits, 0u);
        EXPECT_EQ(changed.file, cold.file);
        const Lookup after = lookUp();
        EXPECT_EQ(after.counts.hits, 1u);
        EXPECT_EQ(after.file, cold.file);
    }
    ::unsetenv("FC_LANG");
}

} // namespace
} // namespace folio
