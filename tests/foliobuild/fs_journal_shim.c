// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// An LD_PRELOAD library for the power-cut test: logs, in the order they take
// effect, the calls that change which names a folder holds (create, link,
// rename, unlink) and the syncs that make files and folders durable. At each
// file sync it copies the file's bytes aside, as the data a power cut would
// keep. The log goes to $FOLIO_FSLOG, the copies into $FOLIO_FSLOG_BLOBS.
// One line per call: "create PATH INODE new|old", "tmpfile INODE",
// "link PATH INODE", "rename FROM TO", "unlink PATH", "syncdir PATH",
// "syncfile INODE BLOB". Paths are absolute as the process named them.
// For the spool's retry of a failed claim it can also refuse renames:
// FOLIO_FAIL_RENAME=NAME:COUNT makes the first COUNT renames of a file
// named NAME fail with EROFS, as on a file system remounted read-only;
// FOLIO_FAIL_SYNCDIR=NAME:COUNT the first COUNT syncs of a folder named
// NAME with EIO.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define FULL (2 * PATH_MAX + 2) // a folder's name, a slash and a name in it

static pthread_mutex_t lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
static int logFd = -2;
static unsigned long blobs;

static void record(const char* format, ...) {
    if (logFd == -2) {
        const char* path = getenv("FOLIO_FSLOG");
        logFd = path ? (int)syscall(SYS_openat, AT_FDCWD, path,
                                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)
                     : -1;
    }
    if (logFd < 0)
        return;
    char line[3 * FULL];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0 || n > (int)sizeof line - 2)
        n = (int)sizeof line - 2;
    line[n++] = '\n';
    (void)!write(logFd, line, (size_t)n);
}

// `path` as an absolute name, taken from `dirFd`.
static void absolute(int dirFd, const char* path, char* out) {
    char base[PATH_MAX] = "";
    if (path[0] == '/') {
        snprintf(out, FULL, "%s", path);
        return;
    }
    if (dirFd == AT_FDCWD) {
        if (!getcwd(base, sizeof base))
            base[0] = 0;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirFd);
        const ssize_t n = readlink(link, base, sizeof base - 1);
        base[n > 0 ? n : 0] = 0;
    }
    snprintf(out, FULL, "%s/%s", base, path);
}

static unsigned long long inodeAt(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (unsigned long long)st.st_ino : 0;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static int opened(int dirFd, const char* path, int flags, mode_t mode) {
    static __typeof__(&openat) real;
    if (!real)
        real = REAL(openat);
    pthread_mutex_lock(&lock);
    struct stat before;
    const int existed = (flags & O_CREAT) && fstatat(dirFd, path, &before, 0) == 0;
    const int fd = real(dirFd, path, flags, mode);
    if (fd >= 0) {
        struct stat st;
        if ((flags & O_TMPFILE) == O_TMPFILE && fstat(fd, &st) == 0) {
            record("tmpfile %llu", (unsigned long long)st.st_ino);
        } else if ((flags & O_CREAT) && fstat(fd, &st) == 0) {
            char full[FULL];
            absolute(dirFd, path, full);
            record("create %s %llu %s", full, (unsigned long long)st.st_ino,
                   existed ? "old" : "new");
        }
    }
    pthread_mutex_unlock(&lock);
    return fd;
}

static mode_t modeArg(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    return opened(AT_FDCWD, path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    return opened(AT_FDCWD, path, flags, mode);
}
int openat(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    return opened(dirFd, path, flags, mode);
}
int openat64(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArg(flags, args);
    va_end(args);
    return opened(dirFd, path, flags, mode);
}

int linkat(int oldDir, const char* oldPath, int newDir, const char* newPath, int flags) {
    pthread_mutex_lock(&lock);
    const int rc = REAL(linkat)(oldDir, oldPath, newDir, newPath, flags);
    if (rc == 0) {
        char full[FULL];
        absolute(newDir, newPath, full);
        record("link %s %llu", full, inodeAt(full));
    }
    pthread_mutex_unlock(&lock);
    return rc;
}
int link(const char* oldPath, const char* newPath) {
    return linkat(AT_FDCWD, oldPath, AT_FDCWD, newPath, 0);
}

// Calls refused by a setting NAME:COUNT: how many are left, on what name.
struct Refusal {
    const char* variable;
    long left; // -1 until the setting is read
    char name[NAME_MAX + 1];
};
static struct Refusal renames = {"FOLIO_FAIL_RENAME", -1, ""};
static struct Refusal folderSyncs = {"FOLIO_FAIL_SYNCDIR", -1, ""};

// Whether this call on `path` is one `r` refuses; under the lock.
static int refused(struct Refusal* r, const char* path) {
    if (r->left < 0) {
        const char* setting = getenv(r->variable);
        const char* colon = setting ? strrchr(setting, ':') : NULL;
        r->left = 0;
        if (colon && colon - setting <= NAME_MAX) {
            memcpy(r->name, setting, (size_t)(colon - setting));
            r->name[colon - setting] = 0;
            r->left = strtol(colon + 1, NULL, 10);
        }
    }
    const char* slash = strrchr(path, '/');
    if (r->left <= 0 || strcmp(slash ? slash + 1 : path, r->name) != 0)
        return 0;
    --r->left;
    return 1;
}

static int renamed(int oldDir, const char* oldPath, int newDir, const char* newPath,
                   unsigned flags) {
    char from[FULL], to[FULL];
    absolute(oldDir, oldPath, from);
    absolute(newDir, newPath, to);
    pthread_mutex_lock(&lock);
    if (refused(&renames, oldPath)) {
        pthread_mutex_unlock(&lock);
        errno = EROFS;
        return -1;
    }
    const int rc = (int)syscall(SYS_renameat2, oldDir, oldPath, newDir, newPath, flags);
    if (rc == 0)
        record("rename %s %s", from, to);
    pthread_mutex_unlock(&lock);
    return rc;
}
int renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath, unsigned flags) {
    return renamed(oldDir, oldPath, newDir, newPath, flags);
}
int renameat(int oldDir, const char* oldPath, int newDir, const char* newPath) {
    return renamed(oldDir, oldPath, newDir, newPath, 0);
}
int rename(const char* oldPath, const char* newPath) {
    return renamed(AT_FDCWD, oldPath, AT_FDCWD, newPath, 0);
}

int unlinkat(int dirFd, const char* path, int flags) {
    char full[FULL];
    absolute(dirFd, path, full);
    pthread_mutex_lock(&lock);
    const int rc = REAL(unlinkat)(dirFd, path, flags);
    if (rc == 0)
        record("unlink %s", full);
    pthread_mutex_unlock(&lock);
    return rc;
}
int unlink(const char* path) {
    return unlinkat(AT_FDCWD, path, 0);
}

static int synced(int fd, int (*real)(int)) {
    pthread_mutex_lock(&lock);
    struct stat st;
    char full[FULL];
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        absolute(fd, ".", full);
        full[strlen(full) - 2] = 0; // the "/." added
        if (refused(&folderSyncs, full)) {
            pthread_mutex_unlock(&lock);
            errno = EIO;
            return -1;
        }
    }
    const int rc = real(fd);
    if (rc == 0 && fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            record("syncdir %s", full);
        } else if (S_ISREG(st.st_mode)) {
            const char* folder = getenv("FOLIO_FSLOG_BLOBS");
            char name[PATH_MAX];
            snprintf(name, sizeof name, "%s/%lu", folder ? folder : "/nonexistent", ++blobs);
            const int out = (int)syscall(SYS_openat, AT_FDCWD, name,
                                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            // Read through a descriptor of its own: the file may be open
            // for writing only.
            char self[64], buffer[65536];
            snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
            const int in = (int)syscall(SYS_openat, AT_FDCWD, self, O_RDONLY | O_CLOEXEC);
            off_t at = 0;
            for (ssize_t n; in >= 0 && out >= 0 && (n = pread(in, buffer, sizeof buffer, at)) > 0;
                 at += n)
                (void)!write(out, buffer, (size_t)n);
            if (in >= 0)
                close(in);
            if (out >= 0)
                close(out);
            record("syncfile %llu %lu", (unsigned long long)st.st_ino, blobs);
        }
    }
    pthread_mutex_unlock(&lock);
    return rc;
}
int fsync(int fd) {
    static __typeof__(&fsync) real;
    if (!real)
        real = REAL(fsync);
    return synced(fd, real);
}
int fdatasync(int fd) {
    static __typeof__(&fdatasync) real;
    if (!real)
        real = REAL(fdatasync);
    return synced(fd, real);
}
