// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: raw bytes as one client connection to folioset-server's
// request handling (heads, bodies, forms, options, limits, builds). One
// service runs for the whole process with small limits; each input is
// written into a fresh socket pair handed to it, and the answer is read to
// the end, so every input is handled whole before the next.
#include "HttpServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

folio::server::HttpServer* service() {
    static folio::server::HttpServer* server = [] {
        char folder[] = "/tmp/server-fuzz-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        std::ofstream(std::string(folder) + "/cover.fax") << "To: {{to}}\n@CONVERT:PAGEBREAK\nx\n";
        ::setenv("TMPDIR", folder, 1);
        folio::server::ServerOptions o;
        o.templates = folder;
        o.workers = 1;
        o.queue = 2;
        o.maxBody = 64 * 1024;
        o.maxAssets = 4;
        o.maxPages = 4;
        o.buildTimeout = 2;
        o.requestTimeout = 2;
        o.idleTimeout = 2;
        std::string error;
        // Kept for the process's life: the fuzzer never stops it.
        auto s = folio::server::HttpServer::Create(o, -1, true, error);
        if (!s) {
            std::fprintf(stderr, "server: %s\n", error.c_str());
            std::abort();
        }
        s->SetLogging(false);
        return s.release();
    }();
    return server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    if (!service()->AddConnection(pair[1])) {
        ::close(pair[0]);
        return 0;
    }
    // Written and read at once: the service may answer (and stop reading)
    // before the input ends.
    std::size_t sent = 0;
    bool writing = true;
    char buffer[65536];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        if (writing && sent == size) {
            ::shutdown(pair[0], SHUT_WR);
            writing = false;
        }
        pollfd p{pair[0], short(POLLIN | (writing ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 100) < 0 || std::chrono::steady_clock::now() > until)
            break;
        if (p.revents & POLLOUT) {
            const ssize_t n = ::send(pair[0], data + sent, size - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += std::size_t(n);
            else
                writing = false;
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(pair[0], buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
        }
    }
    ::close(pair[0]);
    return 0;
}
