// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// folioset-server: builds faxes from macros posted over HTTP. Starts the
// HTTP side on the address given or the socket systemd passes, then waits
// for SIGTERM or SIGINT: it stops taking connections, lets the requests in
// hand finish (at most the build timeout and ten seconds more), and exits 0.
#include "HttpServer.h"
#include "ProcessMemory.h"
#include "ServerOptions.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The first socket of systemd's socket activation, or -1 when none was
// passed to this process.
int activationSocket() {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (!pid || !fds || std::strtol(pid, nullptr, 10) != long(::getpid()) ||
        std::strtol(fds, nullptr, 10) < 1)
        return -1;
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    constexpr int kFirst = 3;
    ::fcntl(kFirst, F_SETFD, FD_CLOEXEC);
    return kFirst;
}

bool isLoopbackSocket(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    if (address.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<sockaddr_in6&>(address).sin6_addr);
    return address.ss_family == AF_UNIX;
}

} // namespace

int main(int argc, char** argv) {
    using namespace folio::server;
    ServerOptions options;
    std::string error;
    const int parsed = ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                          error);
    if (parsed == 1)
        return 0;
    if (parsed != 0) {
        std::fprintf(stderr, "folioset-server: %s\n", error.c_str());
        return 2;
    }
    folio::KeepPageMemory();
    // Blocked before any thread starts, so that every thread inherits the
    // mask and only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const int passed = activationSocket();
    if (passed >= 0 && !isLoopbackSocket(passed) && options.token.empty() &&
        !options.allowNoToken) {
        std::fprintf(stderr, "folioset-server: the socket systemd passed is reachable from other "
                             "machines: give --token-file (or --allow-no-token when something in "
                             "front checks the clients)\n");
        return 1;
    }
    std::unique_ptr<HttpServer> server = HttpServer::Create(options, passed, false, error);
    if (!server) {
        std::fprintf(stderr, "folioset-server: %s\n", error.c_str());
        return 1;
    }
    const unsigned workers =
        options.workers > 0 ? unsigned(options.workers) : std::max(1u, std::thread::hardware_concurrency());
    std::string where = passed >= 0 ? "the socket systemd passed" : options.listen;
    if (passed < 0 && where.size() > 2 && where.compare(where.size() - 2, 2, ":0") == 0)
        where = where.substr(0, where.size() - 1) + std::to_string(server->Port());
    std::fprintf(stderr, "folioset-server %s: listening on %s, port %d, %u workers\n",
                 FOLIO_VERSION, where.c_str(), server->Port(), workers);

    int signal = 0;
    sigwait(&stop, &signal);
    std::fprintf(stderr, "folioset-server: %s: finishing the requests in hand\n",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    server->StopListening();
    const bool idle = server->WaitIdle(options.buildTimeout + 10);
    if (!idle)
        std::fprintf(stderr, "folioset-server: stopping with requests still in hand\n");
    server.reset();
    return 0;
}
