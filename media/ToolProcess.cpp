// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The child is made with fork and execv: between the two only system calls
// run (no allocation), as a child of a threaded process requires, so the
// program's path and arguments are prepared before the fork. Its standard
// input is one end of a socket pair, so that writing to a child that has
// gone never raises SIGPIPE in a process that has not ignored it.
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

bool RunTool(const std::vector<std::string>& argv, std::string_view input,
             const ToolLimits& limits, ToolResult& result, std::string& error) {
    result = ToolResult{};
    if (argv.empty()) {
        error = "no program to run";
        return false;
    }
    const std::string program = findOnPath(argv[0]);
    if (program.empty()) {
        result.notFound = true;
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
    int inFd = in[0], outFd = out[0], errFd = err[0];
    std::size_t sent = 0;
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    bool killed = false;
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        const auto left = limits.deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            result.timedOut = true;
            break;
        }
        const long long ms = std::min<long long>(
            1000, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1);
        pollfd p[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (::poll(p, 3, int(ms)) < 0 && errno != EINTR)
            break;
        if (inFd >= 0 && (p[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::send(inFd, input.data() + sent,
                                     std::min<std::size_t>(input.size() - sent, 1 << 16),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += std::size_t(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || sent == input.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? outFd : errFd;
            if (fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(fd);
                fd = -1;
                continue;
            }
            std::string& into = i == 0 ? result.output : result.errors;
            into.append(buffer, std::size_t(n));
            if (i == 1 && into.size() > 8192)
                into.erase(0, into.size() - 4096);
        }
        if (result.output.size() > limits.maxOutput) {
            result.tooMuchOutput = true;
            break;
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0)
            ::close(fd);
    if (result.timedOut || result.tooMuchOutput) {
        ::kill(pid, SIGKILL);
        killed = true;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (result.errors.size() > 4096)
        result.errors.erase(0, result.errors.size() - 4096);
    result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.status == 127 && result.output.empty())
        result.notFound = true;
    return true;
}

} // namespace folio
