// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The HTTP side of folioset-server, on libmicrohttpd: routes, request
// bodies (text/plain or multipart/form-data through the library's own
// parser), limits and timeouts, and the hand-over of each build to the
// worker pool. One thread does all the network input and output; a
// connection waits for its build suspended, holding no thread, so a slow
// or stuck client never holds a worker and a long build never holds the
// network.
#pragma once

#include "ServerOptions.h"

#include <memory>
#include <string>

namespace folio::server {

class HttpServer {
  public:
    // Listens on `listenFd` when it is not -1 (a socket systemd passed),
    // else on options.listen; with `noListen`, on nothing (connections come
    // through AddConnection). Null with `error` set when it cannot start.
    static std::unique_ptr<HttpServer> Create(const ServerOptions& options, int listenFd,
                                              bool noListen, std::string& error);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The port listened on (the one the system chose for port 0).
    int Port() const;
    // Stops taking connections; the requests in hand go on, /healthz says
    // "stopping".
    void StopListening();
    // Waits until no request is in hand, at most `seconds`; true when none
    // is left.
    bool WaitIdle(int seconds);
    // Serves a connected socket (the fuzzer's); it is closed in any case.
    bool AddConnection(int fd);
    // One line per request on standard error (the default), or none.
    void SetLogging(bool on);

    class Impl;

  private:
    explicit HttpServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace folio::server
