// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The include root's one-step open: which paths it opens, which it refuses
// with a warning and which quietly, and that without openat2 it refuses to
// start instead of falling back to checking resolved paths.
#include "IncludeRoot.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path scratch(const char* name) {
    const char* base = std::getenv("FOLIO_TEST_TMP");
    fs::path dir = fs::path(base ? base : "/tmp") / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

} // namespace

TEST(IncludeRoot, OpensOnlyBeneathTheRoot) {
    const fs::path dir = scratch("include_root_open");
    fs::create_directories(dir / "root/sub");
    std::ofstream(dir / "root/sub/in.txt") << "inside\n";
    std::ofstream(dir / "secret.txt") << "SECRET\n";
    fs::create_symlink("sub/in.txt", dir / "root/near");
    fs::create_symlink("../secret.txt", dir / "root/far");
    fs::create_symlink(dir / "root/sub/in.txt", dir / "root/absolute"); // absolute: refused too
    fs::create_symlink("loop2", dir / "root/loop1");
    fs::create_symlink("loop1", dir / "root/loop2");
    const std::string root = (dir / "root").string();

    std::vector<std::string> warnings;
    folio::IncludeRoot gate;
    std::string error;
    ASSERT_TRUE(folio::IncludeRoot::Create(
        root, [&](const std::string& w) { warnings.push_back(w); }, gate, error))
        << error;

    const char* const kOutside = "is outside the include root";
    struct Case {
        std::string path;
        bool opens;
        const char* says; // a part of the warning; null: none
    } cases[] = {
        {root + "/sub/in.txt", true, nullptr},
        {root + "/sub/../sub/in.txt", true, nullptr},
        {root + "/near", true, nullptr},
        {root + "/sub", true, nullptr}, // a folder opens; the engine skips it
        {root + "/missing.txt", false, nullptr},
        {root + "/sub/in.txt/x", false, nullptr},
        {root + "/far", false, kOutside},
        {root + "/absolute", false, kOutside},
        {root + "/../secret.txt", false, kOutside},
        {root + "/sub/../../secret.txt", false, kOutside},
        {(dir / "secret.txt").string(), false, kOutside},
        {root, true, nullptr}, // the root opens as a folder in it would
        {root + "/", true, nullptr},
        // Spelled otherwise, found inside by the kernel.
        {dir.string() + "/./root/sub/in.txt", true, nullptr},
        {dir.string() + "//root//sub/in.txt", true, nullptr},
        {dir.string() + "/./root/far", false, kOutside},
        {dir.string() + "/./root/../secret.txt", false, kOutside},
        {"/proc/self/root" + root + "/sub/in.txt", false, kOutside},
        {"/proc/self/cwd/../secret.txt", false, kOutside},
        {"/dev/null", false, kOutside},
        // A loop of links inside the root is no way out of it.
        {root + "/loop1", false, "loop of symbolic links"},
    };
    for (const Case& c : cases) {
        warnings.clear();
        const int fd = gate.Open(c.path);
        EXPECT_EQ(fd >= 0, c.opens) << c.path;
        EXPECT_EQ(fd >= 0 ? 0 : fd, c.opens  ? 0
                                    : c.says ? FileGate::kRefused
                                             : FileGate::kMissing)
            << c.path;
        ASSERT_EQ(warnings.size(), c.says ? 1u : 0u) << c.path;
        if (c.says) {
            EXPECT_NE(warnings[0].find(c.says), std::string::npos) << warnings[0];
        }
        if (fd >= 0)
            ::close(fd);
    }
    folio::IncludeRoot none;
    EXPECT_FALSE(folio::IncludeRoot::Create("", nullptr, none, error));
    EXPECT_EQ(error, "the include root is an empty name: give a folder");
}

// A root given relative to the current folder, and files named from there
// in other spellings of the same place.
TEST(IncludeRoot, RelativeSpellingsOfTheRootAreInside) {
    const fs::path dir = scratch("include_root_spelling");
    fs::create_directories(dir / "R");
    std::ofstream(dir / "R/inside.txt") << "inside\n";
    std::ofstream(dir / "outside.txt") << "SECRET\n";
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    folio::IncludeRoot gate;
    std::string error;
    int warnings = 0;
    const bool created = folio::IncludeRoot::Create(
        "./R", [&](const std::string&) { ++warnings; }, gate, error);
    fs::current_path(before); // relative names still count from dir
    ASSERT_TRUE(created) << error;
    const struct {
        const char* path;
        bool opens;
    } cases[] = {
        {"./R/inside.txt", true}, {"R//inside.txt", true},      {"R/./inside.txt", true},
        {"R", true},              {"./R/", true},               {"R/../outside.txt", false},
        {"./outside.txt", false}, {"./R/../outside.txt", false},
    };
    for (const auto& c : cases) {
        warnings = 0;
        const int fd = gate.Open(c.path);
        EXPECT_EQ(fd >= 0, c.opens) << c.path;
        EXPECT_EQ(warnings, c.opens ? 0 : 1) << c.path;
        if (fd >= 0)
            ::close(fd);
    }
}

// Makes openat2 fail with ENOSYS in this process, as on a kernel before 5.6.
static bool withoutOpenat2() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(IncludeRoot, RefusesToStartWithoutOpenat2) {
    const fs::path dir = scratch("include_root_enosys");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!withoutOpenat2())
            ::_exit(3);
        folio::IncludeRoot gate;
        std::string error;
        const bool created = folio::IncludeRoot::Create(dir.string(), nullptr, gate, error);
        ::_exit(!created && error.find("openat2") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "no seccomp filter here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "started without openat2";
}
