// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// folioset-server's command line: where it listens and every limit that
// keeps one client from holding the service, each with a default sized for
// a fax gateway's box.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace folio::server {

struct ServerOptions {
    // HOST:PORT; an IPv6 host in brackets ([::1]:8080). Port 0 takes a free
    // one (tests), which the start line reports.
    std::string listen = "127.0.0.1:8080";
    // Templates are DIR/NAME.fax, read-only; empty: none.
    std::string templates;
    // The bearer token every request but /healthz must carry; empty: none.
    std::string token;
    // Listening beyond loopback without a token takes this on purpose.
    bool allowNoToken = false;
    // Builds at once; 0 (the default) takes the cores.
    int workers = 0;
    // Requests waiting for a worker; more are answered 503.
    int queue = 64;
    // Largest request body, bytes.
    std::size_t maxBody = 32u << 20;
    // Asset files per request.
    int maxAssets = 32;
    // Pages per fax.
    int maxPages = 100;
    // Seconds a build may run.
    int buildTimeout = 30;
    // Seconds for a request's head and body to arrive, from its first byte
    // (or the end of the request before it on the connection).
    int requestTimeout = 30;
    // Seconds a connection may sit idle.
    int idleTimeout = 15;
    // Open connections at once.
    int maxConnections = 512;
};

// Fills `options` from the arguments after the program name. Returns 0 to
// run, 1 when --help or --version printed what they print, 2 with `error`
// set for a bad command line. The token file is read here: a missing or
// empty one is an error.
int ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options,
                       std::string& error);

extern const char* const kServerUsage;

} // namespace folio::server
