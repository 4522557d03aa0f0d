// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The font lookup cache file. It is text, one record a line, fields split by
// tabs, every field percent-escaped (bytes up to space, '%' and DEL), ending
// with an "end" line so that a cut file is seen:
//
//   folioset-font-cache 1
//   env  <name> 0 | env <name> 1 <value>          fontconfig's environment
//   stat <path> - | stat <path> <identity>         a watched file or folder
//   face <family> <bold> <italic> <file> <index> <identity of the file>
//   match <family> <kind> <served family>
//   end
//
// An identity is device, inode, size, mtime and ctime (seconds and
// nanoseconds), so a font added to or removed from a folder (its mtime), a
// configuration edited, or a face file replaced all show. Reading is
// bounded (kMaxFileBytes, kMaxEntries, kMaxWatched) and any record that does
// not parse throws the whole file away.
#include "FontCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <tuple>

namespace folio::fontcache {

namespace {

constexpr std::size_t kMaxFileBytes = 256 * 1024;
constexpr std::size_t kMaxEntries = 256;
constexpr std::size_t kMaxWatched = 2048;
constexpr std::size_t kMaxNameBytes = 1024;
constexpr std::string_view kMagic = "folioset-font-cache 1";

// The environment fontconfig's configuration and matching depend on.
constexpr const char* kEnvNames[] = {"FONTCONFIG_FILE",
                                     "FONTCONFIG_PATH",
                                     "FONTCONFIG_SYSROOT",
                                     "HOME",
                                     "XDG_CONFIG_HOME",
                                     "XDG_DATA_HOME",
                                     "XDG_CACHE_HOME",
                                     "FC_LANG",
                                     "LC_ALL",
                                     "LC_CTYPE",
                                     "LANG",
                                     "LANGUAGE"};

std::string escape(std::string_view s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c <= 0x20 || c == '%' || c == 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            // The run up to the next escape in one piece: start-up reads
            // a hundred entries or more.
            const std::size_t end = std::min(s.find('%', i), s.size());
            out.append(s.data() + i, end - i);
            i = end - 1;
            continue;
        }
        if (i + 2 >= s.size())
            return false;
        const int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// A file's identity, as text; "-" when it cannot be seen.
std::string identity(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return "-";
    std::string s;
    for (unsigned long long v :
         {(unsigned long long)st.st_dev, (unsigned long long)st.st_ino,
          (unsigned long long)st.st_size, (unsigned long long)st.st_mtim.tv_sec,
          (unsigned long long)st.st_mtim.tv_nsec, (unsigned long long)st.st_ctim.tv_sec,
          (unsigned long long)st.st_ctim.tv_nsec}) {
        if (!s.empty())
            s += ':';
        s += std::to_string(v);
    }
    return s;
}

std::string envValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? "1\t" + escape(v) : "0";
}

// The configuration files and folders fontconfig may read, known without
// starting it: the main file, the system folders, the user's folders. A
// path that does not exist is watched too, so that creating it shows.
std::set<std::string> knownInputs() {
    std::set<std::string> paths;
    const char* file = std::getenv("FONTCONFIG_FILE");
    paths.insert(file && *file ? file : "/etc/fonts/fonts.conf");
    if (const char* p = std::getenv("FONTCONFIG_PATH")) {
        std::string_view rest(p);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view part = rest.substr(0, colon);
            if (!part.empty())
                paths.insert(std::string(part));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    std::vector<std::string> folders = {"/etc/fonts", "/etc/fonts/conf.d"};
    const char* home = std::getenv("HOME");
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string user;
    if (xdg && *xdg)
        user = std::string(xdg) + "/fontconfig";
    else if (home && *home)
        user = std::string(home) + "/.config/fontconfig";
    if (!user.empty()) {
        paths.insert(user);
        paths.insert(user + "/fonts.conf");
        folders.push_back(user + "/conf.d");
    }
    if (home && *home) {
        paths.insert(std::string(home) + "/.fonts.conf");
        folders.push_back(std::string(home) + "/.fonts.conf.d");
    }
    for (const std::string& folder : folders) {
        paths.insert(folder);
        if (DIR* d = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                if (e->d_name[0] == '.' || paths.size() >= kMaxWatched)
                    continue;
                paths.insert(folder + "/" + e->d_name);
            }
            ::closedir(d);
        }
    }
    return paths;
}

struct FaceKey {
    std::string name;
    bool bold;
    bool italic;
    bool operator<(const FaceKey& o) const {
        return std::tie(name, bold, italic) < std::tie(o.name, o.bold, o.italic);
    }
};

struct FaceRecord {
    FaceAnswer answer;
    std::string fileIdentity;
};

struct State {
    std::mutex mutex;
    bool loaded = false;
    bool enabled = false;
    std::string path;
    // The answers of a file whose fingerprint matched, plus those of this process.
    std::map<FaceKey, FaceRecord> faces;
    std::map<std::string, MatchAnswer> matches;
    // The fingerprint to write: the watched paths and their identities.
    std::map<std::string, std::string> watched;
    // Whether `watched` holds this process's fingerprint (taken once, when
    // fontconfig first answered), how often the file was written, and the
    // answers not written yet.
    bool fingerprinted = false;
    unsigned writes = 0;
    unsigned unwritten = 0;
    bool flushAtExit = false;
    Counts counts;
};

State& state() {
    static State* s = new State; // used up to the end of the process
    return *s;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            return fields;
        line.remove_prefix(tab + 1);
    }
}

template <typename T> bool number(std::string_view s, T& out) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A folder the cache file may be in: ours or root's, and nobody else may
// replace what is in it (not writable by others unless sticky, as /tmp).
bool trustedFolder(int dirFd) {
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
std::string baseOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads the file whole, when it may be trusted. Empty when not.
std::string readTrusted(const std::string& path) {
    const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return {};
    std::string bytes;
    if (trustedFolder(dir)) {
        const int fd = ::openat(dir, baseOf(path).c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && st.st_size > 0 &&
            std::size_t(st.st_size) <= kMaxFileBytes) {
            // One byte more than the file holds shows a file that grew while
            // read; sizing by the file, not the limit, spares clearing 256 KiB
            // on every start.
            bytes.resize(std::size_t(st.st_size) + 1);
            std::size_t got = 0;
            while (got < bytes.size()) {
                const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += std::size_t(n);
            }
            bytes.resize(got > std::size_t(st.st_size) ? 0 : got);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ::close(dir);
    return bytes;
}

// Parses the file into `s` when it is whole and its fingerprint matches the
// machine now; else leaves `s` without answers.
void parse(const std::string& bytes, State& s) {
    std::map<FaceKey, FaceRecord> faces;
    std::map<std::string, MatchAnswer> matches;
    std::map<std::string, std::string> watched;
    std::map<std::string, std::string> env;
    std::string_view rest(bytes);
    bool first = true, ended = false;
    std::string a, b;
    while (!rest.empty() && !ended) {
        const std::size_t nl = rest.find('\n');
        if (nl == std::string_view::npos)
            return; // cut short
        const std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        if (first) {
            if (line != kMagic)
                return;
            first = false;
            continue;
        }
        const std::vector<std::string_view> f = split(line);
        if (f[0] == "end" && f.size() == 1) {
            ended = true;
        } else if (f[0] == "env" && (f.size() == 3 || f.size() == 4)) {
            std::string value(f[2]);
            if (f.size() == 4)
                value += "\t" + std::string(f[3]);
            env[std::string(f[1])] = value;
        } else if (f[0] == "stat" && f.size() == 3) {
            if (!unescape(f[1], a) || watched.size() >= kMaxWatched)
                return;
            watched[a] = std::string(f[2]);
        } else if (f[0] == "face" && f.size() == 7) {
            FaceRecord r;
            int bold = 0, italic = 0;
            if (!unescape(f[1], a) || !number(f[2], bold) || !number(f[3], italic) ||
                !unescape(f[4], r.answer.file) || !number(f[5], r.answer.index) ||
                r.answer.index < 0 || faces.size() >= kMaxEntries || r.answer.file.empty())
                return;
            r.fileIdentity = std::string(f[6]);
            faces[FaceKey{a, bold != 0, italic != 0}] = r;
        } else if (f[0] == "match" && f.size() == 4) {
            MatchAnswer m;
            if (!unescape(f[1], a) || !number(f[2], m.kind) || m.kind < 0 || m.kind > 2 ||
                !unescape(f[3], m.family) || matches.size() >= kMaxEntries)
                return;
            matches[a] = m;
        } else {
            return;
        }
    }
    if (!ended || !rest.empty())
        return;
    // The environment must be the one the answers were found in, and every
    // configuration path known now must have been watched then.
    for (const char* name : kEnvNames) {
        auto it = env.find(name);
        if (it == env.end() || it->second != envValue(name))
            return;
    }
    for (const std::string& p : knownInputs())
        if (watched.find(p) == watched.end())
            return;
    for (const auto& [p, id] : watched)
        if (identity(p) != id)
            return;
    s.faces = std::move(faces);
    s.matches = std::move(matches);
    s.watched = std::move(watched);
}

// Called with the mutex held: reads the file on the first look-up.
void load(State& s) {
    if (s.loaded)
        return;
    s.loaded = true;
    s.enabled = false;
    const char* setting = std::getenv("FOLIOSET_FONT_CACHE");
    if (setting && std::string_view(setting) == "0")
        return;
    if (setting && *setting) {
        s.path = setting;
    } else {
        const char* xdg = std::getenv("XDG_CACHE_HOME");
        const char* home = std::getenv("HOME");
        if (xdg && xdg[0] == '/')
            s.path = std::string(xdg) + "/folioset/fonts-v1";
        else if (home && home[0] == '/')
            s.path = std::string(home) + "/.cache/folioset/fonts-v1";
        else
            return;
    }
    s.enabled = true;
    parse(readTrusted(s.path), s);
}

// Makes the folder of the default cache file (mode 0700) when it is missing.
void makeFolders(const std::string& path) {
    const std::string folder = folderOf(path);
    if (baseOf(path) != "fonts-v1" || baseOf(folder) != "folioset")
        return; // a file named by FOLIOSET_FONT_CACHE: its folder must exist
    ::mkdir(folderOf(folder).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
}

// Writes the file anew (a temporary file in the same folder, renamed over
// it). Called with the mutex held. Failures leave the old file.
void write(State& s, const std::vector<std::string>& reported) {
    if (s.faces.empty() && s.matches.empty())
        return;
    // The fingerprint as of fontconfig's first answer: what is known
    // without fontconfig, what it reported, and what an earlier matching
    // file watched.
    if (!s.fingerprinted) {
        s.fingerprinted = true;
        for (const std::string& p : knownInputs())
            s.watched[p] = identity(p);
        for (const std::string& p : reported)
            if (!p.empty())
                s.watched[p] = identity(p);
    }
    s.unwritten = 0;
    ++s.writes;
    // A fingerprint cut short would miss changes: no file rather than that.
    if (s.watched.size() > kMaxWatched)
        return;
    std::string out(kMagic);
    out += '\n';
    for (const char* name : kEnvNames)
        out += std::string("env\t") + name + "\t" + envValue(name) + "\n";
    for (const auto& [p, id] : s.watched)
        out += "stat\t" + escape(p) + "\t" + id + "\n";
    for (const auto& [k, r] : s.faces)
        out += "face\t" + escape(k.name) + "\t" + (k.bold ? "1" : "0") + "\t" +
               (k.italic ? "1" : "0") + "\t" + escape(r.answer.file) + "\t" +
               std::to_string(r.answer.index) + "\t" + r.fileIdentity + "\n";
    for (const auto& [k, m] : s.matches)
        out +=
            "match\t" + escape(k) + "\t" + std::to_string(m.kind) + "\t" + escape(m.family) + "\n";
    out += "end\n";
    if (out.size() > kMaxFileBytes)
        return;

    makeFolders(s.path);
    const int dir = ::open(folderOf(s.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    if (trustedFolder(dir)) {
        static std::atomic<unsigned> serial{0};
        const std::string temp = "." + baseOf(s.path) + "." + std::to_string(::getpid()) + "." +
                                 std::to_string(serial++);
        const int fd =
            ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            std::size_t done = 0;
            while (done < out.size()) {
                const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                done += std::size_t(n);
            }
            const bool ok = ::close(fd) == 0 && done == out.size();
            if (!ok || ::renameat(dir, temp.c_str(), dir, baseOf(s.path).c_str()) != 0)
                ::unlinkat(dir, temp.c_str(), 0);
        }
    }
    ::close(dir);
}

// After a new answer: writes the file at once for the first few, then
// after every kBatch, and whatever is left when the process ends, so that
// a macro naming hundreds of fonts does not write it hundreds of times.
void answered(State& s, const std::vector<std::string>& reported) {
    constexpr unsigned kAtOnce = 4, kBatch = 32;
    ++s.unwritten;
    if (s.writes < kAtOnce || s.unwritten >= kBatch) {
        write(s, reported);
        return;
    }
    if (!s.flushAtExit) {
        s.flushAtExit = true;
        std::atexit([] {
            State& st = state();
            std::lock_guard lock(st.mutex);
            if (st.enabled && st.unwritten > 0)
                write(st, {});
        });
    }
}

} // namespace

bool FindFace(const std::string& name, bool bold, bool italic, FaceAnswer& out) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    load(s);
    auto it = s.faces.find(FaceKey{name, bold, italic});
    if (!s.enabled || it == s.faces.end() ||
        identity(it->second.answer.file) != it->second.fileIdentity) {
        ++s.counts.misses;
        return false;
    }
    ++s.counts.hits;
    out = it->second.answer;
    return true;
}

bool FindMatch(const std::string& name, MatchAnswer& out) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    load(s);
    auto it = s.matches.find(name);
    if (!s.enabled || it == s.matches.end()) {
        ++s.counts.misses;
        return false;
    }
    ++s.counts.hits;
    out = it->second;
    return true;
}

void AddFace(const std::string& name, bool bold, bool italic, const FaceAnswer& answer,
             const std::vector<std::string>& watched) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    load(s);
    if (!s.enabled || answer.file.empty() || name.size() > kMaxNameBytes ||
        answer.file.size() > kMaxNameBytes)
        return;
    const FaceKey key{name, bold, italic};
    // Full (a macro naming hundreds of fonts): start afresh rather than
    // keep such names for good and the fonts of later runs out.
    if (s.faces.size() >= kMaxEntries)
        s.faces.clear();
    s.faces[key] = FaceRecord{answer, identity(answer.file)};
    answered(s, watched);
}

void AddMatch(const std::string& name, const MatchAnswer& answer,
              const std::vector<std::string>& watched) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    load(s);
    if (!s.enabled || name.size() > kMaxNameBytes || answer.family.size() > kMaxNameBytes)
        return;
    if (s.matches.size() >= kMaxEntries)
        s.matches.clear();
    s.matches[name] = answer;
    answered(s, watched);
}

void Forget() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.loaded = false;
    s.enabled = false;
    s.path.clear();
    s.faces.clear();
    s.matches.clear();
    s.watched.clear();
    s.fingerprinted = false;
    s.writes = s.unwritten = 0;
    s.counts = Counts{};
}

Counts LookupCounts() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.counts;
}

} // namespace folio::fontcache
