// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The child is made with fork and execv: between the two only system calls
// run (no allocation), as a child of a threaded process requires, so the
// program's path and arguments are prepared before the fork. Its standard
// input is one end of a socket pair, so that writing to a child that has
// gone never raises SIGPIPE in a process that has not ignored it. Every
// descriptor but its three is closed in the child, so that a child started
// by another thread at the same moment keeps no end of this one's pipes.
#include "ToolProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace folio {

namespace {

std::string findOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate =
            (end > start ? folders.substr(start, end - start) : ".") + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

void closeBoth(int (&fds)[2]) {
    for (int& fd : fds)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
}

} // namespace

bool ToolProcess::Start(const std::vector<std::string>& argv, std::string_view input,
                        const ToolLimits& limits, std::string& error) {
    Stop();
    input_.clear();
    buffer_.clear();
    errors_.clear();
    sent_ = taken_ = outputBytes_ = 0;
    status_ = -1;
    notFound_ = timedOut_ = tooMuchOutput_ = false;
    if (argv.empty()) {
        error = "no program to run";
        return false;
    }
    const std::string program = findOnPath(argv[0]);
    if (program.empty()) {
        notFound_ = true;
        return true;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 ||
        ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno);
        closeBoth(in);
        closeBoth(out);
        closeBoth(err);
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    const long long cpuSeconds =
        limits.deadline == std::chrono::steady_clock::time_point::max()
            ? 3600
            : std::max<long long>(1, std::chrono::duration_cast<std::chrono::seconds>(
                                         limits.deadline - now)
                                             .count() +
                                         1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child: only system calls from here to execv.
        ::dup2(in[1], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close_range(3, ~0u, 0);
        const rlimit memory{rlim_t(limits.memory), rlim_t(limits.memory)};
        const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)};
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_AS, &memory);
        ::setrlimit(RLIMIT_CPU, &cpu);
        ::setrlimit(RLIMIT_FSIZE, &none); // it writes no files
        ::setrlimit(RLIMIT_CORE, &none);
        ::execv(program.c_str(), args.data());
        ::_exit(127);
    }
    ::close(in[1]);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        error = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno);
        ::close(in[0]);
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    pid_ = pid;
    in_ = in[0];
    out_ = out[0];
    err_ = err[0];
    // A larger pipe than the 64 KiB a pipe starts with: a renderer's page
    // of several megabytes comes in fewer rounds of writing and reading
    // (the system's limit for an unprivileged process is 1 MiB, and less
    // is taken without complaint).
    ::fcntl(out_, F_SETPIPE_SZ, 1 << 20);
    maxOutput_ = limits.maxOutput;
    if (input.empty()) {
        ::close(in_);
        in_ = -1;
    } else {
        input_.assign(input);
    }
    return true;
}

void ToolProcess::sendSome() {
    const ssize_t n =
        ::send(in_, input_.data() + sent_, std::min<std::size_t>(input_.size() - sent_, 1 << 16),
               MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
        sent_ += std::size_t(n);
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || sent_ == input_.size()) {
        ::close(in_);
        in_ = -1;
        input_ = std::string();
    }
}

void ToolProcess::readErrors() {
    char text[4096];
    const ssize_t n = ::read(err_, text, sizeof text);
    if (n > 0) {
        errors_.append(text, std::size_t(n));
        if (errors_.size() > 8192)
            errors_.erase(0, errors_.size() - 4096);
    } else if (n == 0 || errno != EINTR) {
        ::close(err_);
        err_ = -1;
    }
}

bool ToolProcess::readOutput(char* to, std::size_t room, std::size_t& got) {
    got = 0;
    // Onto the buffer through a scratch area of its own, a large read at a
    // time: a page of several megabytes comes in a few rounds.
    constexpr std::size_t kScratch = std::size_t(1) << 20;
    if (!to) {
        if (!scratch_)
            scratch_.reset(new char[kScratch]);
        to = scratch_.get();
        room = kScratch;
    }
    const ssize_t n = ::read(out_, to, room);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0) {
        ::close(out_);
        out_ = -1;
        return false;
    }
    if (to == scratch_.get())
        buffer_.append(to, std::size_t(n));
    outputBytes_ += std::size_t(n);
    got = std::size_t(n);
    return true;
}

bool ToolProcess::pump(char* to, std::size_t room, std::size_t& got,
                       std::chrono::steady_clock::time_point deadline) {
    got = 0;
    if (out_ < 0)
        return false;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        timedOut_ = true;
        Stop();
        return false;
    }
    const long long ms = std::min<long long>(
        1000, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1);
    // This tool's three descriptors, then those of each one read alongside
    // (its output only while its buffer has room).
    std::vector<pollfd> p = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
    for (const ToolProcess* other : alongside_) {
        p.push_back({other->Buffered().size() < spare_ ? other->out_ : -1, POLLIN, 0});
        p.push_back({other->err_, POLLIN, 0});
        p.push_back({other->in_, POLLOUT, 0});
    }
    if (::poll(p.data(), nfds_t(p.size()), int(ms)) < 0)
        return errno == EINTR;
    bool open = true;
    for (std::size_t i = 0; i < p.size(); i += 3) {
        ToolProcess& t = i == 0 ? *this : *alongside_[i / 3 - 1];
        if (t.in_ >= 0 && (p[i + 2].revents & (POLLOUT | POLLERR | POLLHUP)))
            t.sendSome();
        if (t.err_ >= 0 && (p[i + 1].revents & (POLLIN | POLLHUP | POLLERR)))
            t.readErrors();
        if (t.out_ >= 0 && p[i].fd >= 0 && (p[i].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::size_t n = 0;
            if (i == 0)
                open = readOutput(to, room, got);
            else
                t.readOutput(nullptr, 0, n);
        }
    }
    return open;
}

bool ToolProcess::SendInput(std::chrono::steady_clock::time_point deadline) {
    std::size_t got = 0;
    while (in_ >= 0 && pump(nullptr, 0, got, deadline)) {
    }
    return in_ < 0;
}

bool ToolProcess::Fill(std::size_t n, std::chrono::steady_clock::time_point deadline) {
    std::size_t got = 0;
    while (Buffered().size() < n && pump(nullptr, 0, got, deadline)) {
    }
    return Buffered().size() >= n;
}

void ToolProcess::Consume(std::size_t n) {
    taken_ += std::min(n, buffer_.size() - taken_);
    // What was taken goes once it is at least half the buffer: each byte
    // is moved at most once on average.
    if (taken_ == buffer_.size()) {
        buffer_.clear();
        taken_ = 0;
    } else if (taken_ >= buffer_.size() / 2 && taken_ >= 65536) {
        buffer_.erase(0, taken_);
        taken_ = 0;
    }
}

void ToolProcess::ReadAlongside(std::vector<ToolProcess*> others, std::size_t spare) {
    alongside_.clear();
    for (ToolProcess* other : others)
        if (other != this)
            alongside_.push_back(other);
    spare_ = spare;
}

std::size_t ToolProcess::Read(char* to, std::size_t n,
                              std::chrono::steady_clock::time_point deadline) {
    const std::size_t first = std::min(n, Buffered().size());
    std::memcpy(to, buffer_.data() + taken_, first);
    Consume(first);
    std::size_t done = first, got = 0;
    while (done < n && pump(to + done, n - done, got, deadline))
        done += got;
    return done;
}

int ToolProcess::Finish(std::chrono::steady_clock::time_point deadline) {
    std::size_t got = 0;
    while (pump(nullptr, 0, got, deadline))
        if (outputBytes_ > maxOutput_) {
            tooMuchOutput_ = true;
            Stop();
            return status_;
        }
    if (pid_ <= 0)
        return status_; // stopped at the deadline, or never started
    // The output has ended. A child still waiting for input gets its end,
    // and its last words on standard error may come after its output.
    if (in_ >= 0) {
        ::close(in_);
        in_ = -1;
    }
    while (err_ >= 0) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            timedOut_ = true;
            Stop();
            return status_;
        }
        pollfd p{err_, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<long long>(
            1000, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        readErrors(); // closes err_ at its end, which ends the loop
    }
    closeAll();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (status_ == 127 && outputBytes_ == 0)
        notFound_ = true;
    return status_;
}

void ToolProcess::Stop() {
    closeAll();
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        status_ = -1;
    }
}

void ToolProcess::closeAll() {
    for (int* fd : {&in_, &out_, &err_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

std::string ToolProcess::Errors() const {
    return errors_.size() > 4096 ? errors_.substr(errors_.size() - 4096) : errors_;
}

bool RunTool(const std::vector<std::string>& argv, std::string_view input,
             const ToolLimits& limits, ToolResult& result, std::string& error) {
    result = ToolResult{};
    ToolProcess tool;
    if (!tool.Start(argv, input, limits, error))
        return false;
    if (tool.NotFound()) {
        result.notFound = true;
        return true;
    }
    result.status = tool.Finish(limits.deadline);
    result.timedOut = tool.TimedOut();
    result.tooMuchOutput = tool.TooMuchOutput();
    result.notFound = tool.NotFound();
    result.output.assign(tool.Buffered());
    result.errors = tool.Errors();
    return true;
}

} // namespace folio
