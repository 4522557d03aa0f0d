// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Output files against every kind of target, all made in a scratch folder:
// new and regular files and chains of links to them are replaced whole and
// leave no other name behind; pipes, sockets and character devices receive
// the bytes and stay what they were; a full device and a reader that went
// away are reported with the system's reason, never by a signal; folders and
// block devices are refused untouched. Device nodes need root (mknod).
#include "OutputFile.h"
#include "scratch_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <grp.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using folio::OutputFile;

namespace {

// A folder of its own for each case, removed afterwards.
struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (folio::test::ScratchDir() / "output-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string operator/(const std::string& leaf) const { return (path / leaf).string(); }
    std::vector<std::string> names(const std::string& sub = "") const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path / sub))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// More than a pipe holds, so that a reader that goes away is met mid-write.
std::string document() {
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 2654435761u) >> 13);
    return bytes;
}

bool fill(const OutputFile& out, const std::string& bytes) {
    return ::pwrite(out.Fd(), bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
}

std::string readAll(int fd) {
    std::string got;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        got.append(buffer, std::size_t(n));
    return got;
}

std::string contents(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::string got = fd >= 0 ? readAll(fd) : "(missing)";
    ::close(fd);
    return got;
}

mode_t typeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// A character or block device node with the given numbers; false (and a
// note) where this process may not make one.
bool makeNode(const std::string& path, mode_t type, unsigned major, unsigned minor) {
    if (::mknod(path.c_str(), type | 0666, makedev(major, minor)) == 0)
        return true;
    std::printf("note: device node case skipped (mknod: %s; needs root)\n", std::strerror(errno));
    return false;
}

struct LinkCase {
    const char* what;
    std::function<void(const Folder&)> make; // lays out the folder
    const char* given;                       // the name the output is made for
    const char* written;                     // where the bytes must end up
    std::vector<const char*> links;          // names that must stay links
};

TEST(OutputFile, NewRegularAndLinkedTargetsAreReplacedWhole) {
    const std::string bytes = document();
    const LinkCase cases[] = {
        {"new name", [](const Folder&) {}, "new.tif", "new.tif", {}},
        {"regular file",
         [](const Folder& f) { folio::test::WriteScratchFile(f / "old.tif", "old"); },
         "old.tif",
         "old.tif",
         {}},
        {"chain of links into another folder",
         [](const Folder& f) {
             fs::create_directory(f / "sub");
             std::ofstream(f / "sub/real.tif") << "old";
             fs::create_symlink("link2", f / "link1");
             fs::create_symlink("sub/real.tif", f / "link2");
         },
         "link1",
         "sub/real.tif",
         {"link1", "link2"}},
        {"link to a name not yet there",
         [](const Folder& f) {
             fs::create_directory(f / "sub");
             fs::create_symlink(f / "sub/fresh.tif", f / "dangling");
         },
         "dangling",
         "sub/fresh.tif",
         {"dangling"}},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        c.make(folder);
        const std::vector<std::string> before = folder.names();
        std::string error;
        auto out = OutputFile::Create(folder / c.given, error);
        ASSERT_TRUE(out) << error;
        EXPECT_EQ(out->kind(), OutputFile::Kind::Replace);
        ASSERT_TRUE(fill(*out, bytes));
        // Until the commit the work file has no name anywhere.
        EXPECT_EQ(folder.names(), before);
        EXPECT_TRUE(out->Commit(error)) << error;
        out.reset();
        EXPECT_TRUE(contents(folder / c.written) == bytes);
        for (const char* link : c.links)
            EXPECT_EQ(typeOf(folder / link), mode_t(S_IFLNK)) << link;
        std::vector<std::string> after = before;
        if (std::find(after.begin(), after.end(), c.written) == after.end() &&
            std::string(c.written).find('/') == std::string::npos)
            after.push_back(c.written);
        std::sort(after.begin(), after.end());
        EXPECT_EQ(folder.names(), after);
        if (fs::exists(folder / "sub")) {
            EXPECT_EQ(folder.names("sub").size(), 1u);
        }
    }
}

TEST(OutputFile, DroppedOutputLeavesTheOldFile) {
    Folder folder;
    folio::test::WriteScratchFile(folder / "keep.tif", "old");
    std::string error;
    auto out = OutputFile::Create(folder / "keep.tif", error);
    ASSERT_TRUE(out) << error;
    ASSERT_TRUE(fill(*out, document()));
    out.reset();
    EXPECT_EQ(contents(folder / "keep.tif"), "old");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"keep.tif"});
}

// A rebuilt file keeps what its owner set: mode, owner and group (the owner
// only where this process may give files away, as root may). A new file
// gets the mode the umask leaves of 0666.
TEST(OutputFile, ReplacedFileKeepsItsModeOwnerAndGroup) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* what;
        bool exists;
        mode_t mode;    // of the old file
        uid_t uid;      // of the old file (root only)
        gid_t gid;
        mode_t umask;
        mode_t expected;
    } cases[] = {
        {"new file, umask 022", false, 0, 0, 0, 022, 0644},
        {"new file, umask 077", false, 0, 0, 0, 077, 0600},
        {"private file", true, 0600, 65534, 65534, 022, 0600},
        {"group-writable file", true, 0664, 65534, 0, 077, 0664},
        {"executable file", true, 0751, 0, 65534, 022, 0751},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        const std::string path = folder / "fax.tif";
        if (c.exists) {
            folio::test::WriteScratchFile(path, "old");
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
            if (root) {
                ASSERT_EQ(::chown(path.c_str(), c.uid, c.gid), 0);
            }
        }
        const mode_t old = ::umask(c.umask);
        std::string error;
        auto out = OutputFile::Create(path, error);
        ::umask(old);
        ASSERT_TRUE(out) << error;
        ASSERT_TRUE(fill(*out, "new"));
        ASSERT_TRUE(out->Commit(error)) << error;
        out.reset();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(contents(path), "new");
        EXPECT_EQ(st.st_mode & 07777, c.expected);
        if (root && c.exists) {
            EXPECT_EQ(st.st_uid, c.uid);
            EXPECT_EQ(st.st_gid, c.gid);
        }
    }
}

// A user who may not give the file back to its owner still keeps its group
// where the user is a member of it. Run as root: a child takes the user
// nobody with one more group and rebuilds a root-owned file of that group.
TEST(OutputFile, ReplacedFileKeepsItsGroupWhenTheOwnerIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    Folder folder;
    const std::string path = folder / "fax.tif";
    folio::test::WriteScratchFile(path, "old");
    constexpr gid_t kShared = 4321;
    ASSERT_EQ(::chown(path.c_str(), 0, kShared), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    ASSERT_EQ(::chmod(folder.path.c_str(), 0777), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t groups[] = {65534, kShared};
        if (::setgroups(2, groups) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        // A folder below one the other user may not pass (a build tree in
        // /root) cannot be reached at all: nothing to test there.
        if (::access(folder.path.c_str(), W_OK | X_OK) != 0)
            ::_exit(4);
        std::string error;
        auto out = OutputFile::Create(path, error);
        ::_exit(out && fill(*out, "new") && out->Commit(error) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot become another user here";
    if (WEXITSTATUS(status) == 4)
        GTEST_SKIP() << "the test folder is not reachable for another user";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(st.st_uid, 65534u); // the owner could not be kept
    EXPECT_EQ(st.st_gid, kShared);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

// A node that receives the bytes: `receive` runs on a thread of its own
// from before the output is made until the bytes are in.
struct NodeCase {
    const char* what;
    mode_t type;
    std::function<bool(const std::string& path)> make;
    std::function<std::string(const std::string& path)> receive; // null: nothing to read
};

int listenOn(const std::string& path) {
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, 1) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

TEST(OutputFile, PipesSocketsAndDevicesAreWrittenIntoAndStay) {
    const std::string bytes = document();
    int listener = -1;
    const NodeCase cases[] = {
        {"named pipe", S_IFIFO, [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; },
         [](const std::string& p) {
             const int fd = ::open(p.c_str(), O_RDONLY);
             std::string got = readAll(fd);
             ::close(fd);
             return got;
         }},
        {"socket", S_IFSOCK, [&](const std::string& p) { return (listener = listenOn(p)) >= 0; },
         [&](const std::string&) {
             const int fd = ::accept(listener, nullptr, nullptr);
             std::string got = readAll(fd);
             ::close(fd);
             ::close(listener);
             return got;
         }},
        {"character device (/dev/null's numbers)", S_IFCHR,
         [](const std::string& p) { return makeNode(p, S_IFCHR, 1, 3); }, nullptr},
    };
    for (const NodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        const std::string path = folder / "node";
        if (!c.make(path))
            continue;
        std::string received;
        std::thread reader;
        if (c.receive)
            reader = std::thread([&] { received = c.receive(path); });
        std::string error;
        auto out = OutputFile::Create(path, error);
        EXPECT_TRUE(out) << error;
        if (out) {
            EXPECT_EQ(out->kind(), OutputFile::Kind::Stream);
            EXPECT_TRUE(fill(*out, bytes));
            EXPECT_TRUE(out->Commit(error)) << error;
            out.reset();
        } else if (c.type == S_IFIFO) {
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK)); // the reader's end
        } else if (c.type == S_IFSOCK) {
            ::shutdown(listener, SHUT_RDWR);
        }
        if (reader.joinable())
            reader.join();
        if (c.receive) {
            EXPECT_TRUE(received == bytes) << received.size() << " bytes received";
        }
        EXPECT_EQ(typeOf(path), c.type);
        EXPECT_EQ(folder.names(), std::vector<std::string>{"node"});
    }
}

// Regression: a full device or a pipe whose reader has gone was renamed
// over, or the process was ended by SIGPIPE. Now the write fails with the
// system's reason and the node stays.
TEST(OutputFile, FullDeviceAndBrokenPipeFailWithTheReason) {
    const std::string bytes = document();
    Folder folder;
    // /dev/full's numbers.
    const std::string full = folder / "full";
    if (makeNode(full, S_IFCHR, 1, 7)) {
        std::string error;
        auto out = OutputFile::Create(full, error);
        ASSERT_TRUE(out) << error;
        ASSERT_TRUE(fill(*out, bytes));
        EXPECT_FALSE(out->Commit(error));
        EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
        EXPECT_EQ(typeOf(full), mode_t(S_IFCHR));
    }
    // A pipe reached through its name in /proc; its reader closes before the
    // document goes out.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::string error;
    auto out = OutputFile::Create("/proc/self/fd/" + std::to_string(ends[1]), error);
    ::close(ends[0]);
    ASSERT_TRUE(out) << error;
    ASSERT_TRUE(fill(*out, bytes));
    EXPECT_FALSE(out->Commit(error));
    EXPECT_NE(error.find(std::strerror(EPIPE)), std::string::npos) << error;
    out.reset();
    ::close(ends[1]);
    sigset_t pending;
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "SIGPIPE left pending";
}

TEST(OutputFile, FoldersAndBlockDevicesAreRefusedUntouched) {
    struct Case {
        const char* what;
        std::function<bool(const std::string&)> make;
        const char* reason;
    } cases[] = {
        {"folder", [](const std::string& p) { return fs::create_directory(p); }, "folder"},
        {"link to a folder",
         [](const std::string& p) {
             fs::create_directory(p + ".d");
             fs::create_symlink(p + ".d", p);
             return true;
         },
         "folder"},
        {"block device", [](const std::string& p) { return makeNode(p, S_IFBLK, 7, 0); },
         "block device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        const std::string path = folder / "target";
        if (!c.make(path))
            continue;
        const std::vector<std::string> before = folder.names();
        const mode_t type = typeOf(path);
        std::string error;
        EXPECT_FALSE(OutputFile::Create(path, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(folder.names(), before);
        EXPECT_EQ(typeOf(path), type);
    }
}

} // namespace
