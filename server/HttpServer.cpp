// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Requests, from their first header to their last byte sent. libmicrohttpd
// calls the access handler once when the head has arrived, once per piece
// of the body, and once at its end; a connection whose request is complete
// is suspended while a worker builds, and resumed to send the answer.
// Errors found while the body still arrives are kept and sent at its end
// (the library takes no answer then).
#include "HttpServer.h"

#include "Answer.h"
#include "BuildQueue.h"
#include "FaxJob.h"
#include "Metrics.h"
#include "RequestFolder.h"

#include <microhttpd.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace folio::server {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes libmicrohttpd keeps per connection for the head (a longer head is
// answered 431 by the library) and the post processor's buffer.
constexpr std::size_t kConnectionMemory = 64 * 1024;
constexpr std::size_t kPostBuffer = 64 * 1024;
// A form value other than the macro, fields or an asset.
constexpr std::size_t kMaxFormValue = 256;

enum class Route { Fax, Health, Metrics, Unknown };
// The body: a macro (text/plain), a PDF (application/pdf), both built from
// the bytes as they come, or a form.
enum class Body { None, Plain, Pdf, Multipart };

struct Request {
    HttpServer::Impl* owner = nullptr;
    std::uint64_t id = 0;
    Clock::time_point start = Clock::now();
    std::string method, path;
    Route route = Route::Unknown;
    Body body = Body::None;
    MHD_PostProcessor* post = nullptr;
    std::size_t received = 0;
    // The first error found while the body arrives; 0 for none.
    int failStatus = 0;
    std::string failWhy;
    FaxJob job;
    bool haveMacro = false;
    std::map<std::string, std::string> formOptions;
    std::unique_ptr<RequestFolder> folder;
    int assetFd = -1;
    std::string assetName;
    int assets = 0;
    // Set by the worker before it resumes the connection.
    Answer answer;
    bool answerReady = false;
    bool queued = false;
    int status = 0;

    ~Request() {
        if (post)
            MHD_destroy_post_processor(post);
        if (assetFd >= 0)
            ::close(assetFd);
    }
    void Fail(int status, std::string why) {
        if (failStatus == 0) {
            failStatus = status;
            failWhy = std::move(why);
        }
    }
};

// A connection's deadline for the request it is reading (see the reaper).
struct Watch {
    int fd = -1;
    Clock::time_point deadline;
    bool armed = false;
};

bool equalInConstantTime(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
    return diff == 0 && !b.empty();
}

std::string lowerMediaType(const char* header) {
    std::string type;
    for (const char* p = header; *p && *p != ';'; ++p)
        if (*p != ' ' && *p != '\t')
            type += char(*p >= 'A' && *p <= 'Z' ? *p + 32 : *p);
    return type;
}

} // namespace

class HttpServer::Impl {
  public:
    ServerOptions options;
    BuildLimits limits;
    MHD_Daemon* daemon = nullptr;
    std::unique_ptr<BuildQueue> queue;
    Metrics metrics;
    std::string root;        // the service's own folder, for request folders
    std::string emptyFolder; // the include root of requests without assets
    std::atomic<std::uint64_t> nextId{1};
    std::atomic<int> active{0}, connections{0};
    std::atomic<bool> stopping{false}, logging{true};
    std::mutex watchMutex;
    std::unordered_map<MHD_Connection*, Watch> watches;
    std::thread reaper;
    std::mutex reaperMutex;
    std::condition_variable reaperWake;
    bool reaperStop = false;

    ~Impl();
    bool Start(int listenFd, bool noListen, std::string& error);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // libmicrohttpd's callbacks.
    static MHD_Result access(void* cls, MHD_Connection* c, const char* url, const char* method,
                             const char* version, const char* data, size_t* size, void** slot);
    static void completed(void* cls, MHD_Connection* c, void** slot,
                          MHD_RequestTerminationCode why);
    static void connectionEvent(void* cls, MHD_Connection* c, void** socketSlot,
                                MHD_ConnectionNotificationCode what);
    static MHD_Result formPart(void* cls, MHD_ValueKind kind, const char* key,
                               const char* filename, const char* type, const char* encoding,
                               const char* data, uint64_t offset, size_t size);
    static void logger(void* cls, const char* format, va_list ap);

  private:
    MHD_Result begin(MHD_Connection* c, Request& r);
    void receive(Request& r, const char* data, std::size_t size);
    MHD_Result finish(MHD_Connection* c, Request& r);
    MHD_Result send(MHD_Connection* c, Request& r, Answer answer);
    bool takeForm(Request& r, const char* key, const char* filename, const char* data,
                  uint64_t offset, std::size_t size);
    void arm(MHD_Connection* c, bool on);
    void reap();
};

HttpServer::Impl::~Impl() {
    if (reaper.joinable()) {
        {
            std::lock_guard lock(reaperMutex);
            reaperStop = true;
        }
        reaperWake.notify_all();
        reaper.join();
    }
    // The builds in hand finish and resume their connections before the
    // daemon goes, which then closes what is left.
    queue.reset();
    if (daemon)
        MHD_stop_daemon(daemon);
    if (!emptyFolder.empty())
        ::rmdir(emptyFolder.c_str());
    if (!root.empty())
        ::rmdir(root.c_str());
}

void HttpServer::Impl::Log(const char* format, ...) {
    if (!logging.load(std::memory_order_relaxed))
        return;
    char line[1024];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(line, sizeof line - 1, format, ap);
    va_end(ap);
    if (n < 0)
        return;
    n = std::min(n, int(sizeof line - 2));
    line[n] = '\n';
    // One write per line: lines of concurrent requests never interleave.
    [[maybe_unused]] const ssize_t w = ::write(2, line, std::size_t(n) + 1);
}

void HttpServer::Impl::logger(void* cls, const char* format, va_list ap) {
    auto* self = static_cast<Impl*>(cls);
    char text[512];
    std::vsnprintf(text, sizeof text, format, ap);
    const std::size_t n = std::strlen(text);
    if (n && text[n - 1] == '\n')
        text[n - 1] = 0;
    self->Log("http: %s", text);
}

bool HttpServer::Impl::Start(int listenFd, bool noListen, std::string& error) {
    // The service's folder: request folders and the empty include root of
    // requests without assets (mode 0500: nothing can be put there).
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::vector<char> path(base.begin(), base.end());
    const char tail[] = "/folioset-server-XXXXXX";
    path.insert(path.end(), tail, tail + sizeof tail);
    if (!::mkdtemp(path.data())) {
        error = "cannot make a folder in " + base + ": " + std::strerror(errno);
        return false;
    }
    root = path.data();
    emptyFolder = root + "/empty";
    if (::mkdir(emptyFolder.c_str(), 0500) != 0) {
        error = "cannot make " + emptyFolder + ": " + std::strerror(errno);
        emptyFolder.clear();
        return false;
    }

    limits.templates = options.templates;
    limits.maxPages = options.maxPages;
    limits.timeLimitMs = options.buildTimeout * 1000;
    limits.maxMacroBytes = options.maxBody;
    int workers = options.workers;
    if (workers <= 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    queue = std::make_unique<BuildQueue>(workers, options.queue);

    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                     MHD_USE_ERROR_LOG;
    sockaddr_storage address{};
    if (noListen) {
        flags |= MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ITC;
    } else if (listenFd < 0) {
        // HOST:PORT, the host a numeric address ([v6] in brackets) or a
        // name looked up once, here.
        const std::string& l = options.listen;
        const std::size_t colon = l.rfind(':');
        std::string host = colon == std::string::npos ? "" : l.substr(0, colon);
        const std::string port = colon == std::string::npos ? "" : l.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        addrinfo hints{}, *found = nullptr;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV;
        int rc = host.empty() || port.empty() || port.size() > 5
                     ? EAI_NONAME
                     : ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        if (rc != 0 || !found) {
            error = "--listen " + l + ": not HOST:PORT with a host this machine knows" +
                    (rc != 0 && rc != EAI_NONAME ? std::string(" (") + gai_strerror(rc) + ")" : "");
            return false;
        }
        std::memcpy(&address, found->ai_addr, found->ai_addrlen);
        ::freeaddrinfo(found);
        if (address.ss_family == AF_INET6)
            flags |= MHD_USE_IPv6;
    }
    if (listenFd < 0 && !noListen) {
        // Beyond loopback the token guards the service.
        bool loopback = false;
        if (address.ss_family == AF_INET)
            loopback = (ntohl(reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
        else if (address.ss_family == AF_INET6)
            loopback = IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<sockaddr_in6&>(address).sin6_addr);
        if (!loopback && options.token.empty() && !options.allowNoToken) {
            error = "--listen " + options.listen +
                    " is reachable from other machines: give --token-file (or --allow-no-token "
                    "when something in front checks the clients)";
            return false;
        }
    }
    MHD_OptionItem items[16];
    int n = 0;
    auto add = [&](MHD_OPTION option, intptr_t value, void* pointer) {
        items[n++] = MHD_OptionItem{option, value, pointer};
    };
    // The logger first, so that the library's messages about the options
    // after it reach it.
    add(MHD_OPTION_EXTERNAL_LOGGER, intptr_t(&logger), this);
    add(MHD_OPTION_CONNECTION_LIMIT, options.maxConnections, nullptr);
    add(MHD_OPTION_CONNECTION_TIMEOUT, options.idleTimeout, nullptr);
    add(MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t(kConnectionMemory), nullptr);
    add(MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&completed), this);
    add(MHD_OPTION_NOTIFY_CONNECTION, intptr_t(&connectionEvent), this);
    add(MHD_OPTION_LISTEN_BACKLOG_SIZE, 256, nullptr);
    if (listenFd >= 0)
        add(MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr);
    else if (!noListen)
        add(MHD_OPTION_SOCK_ADDR, 0, &address);
    add(MHD_OPTION_END, 0, nullptr);
    daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &access, this, MHD_OPTION_ARRAY, items,
                              MHD_OPTION_END);
    if (!daemon) {
        error = listenFd >= 0 ? "cannot serve the socket systemd passed"
                              : "cannot listen on " + options.listen + ": " + std::strerror(errno);
        return false;
    }
    reaper = std::thread([this] { reap(); });
    return true;
}

// Closes the connections whose request did not arrive in time: a client that
// sends its head or body a byte at a time is never idle long enough for the
// library's own timeout.
void HttpServer::Impl::reap() {
    std::unique_lock lock(reaperMutex);
    while (!reaperWake.wait_for(lock, std::chrono::milliseconds(250), [this] { return reaperStop; })) {
        const Clock::time_point now = Clock::now();
        std::lock_guard watchLock(watchMutex);
        for (auto& [connection, w] : watches)
            if (w.armed && now > w.deadline && w.fd >= 0) {
                w.armed = false;
                // The library sees the end of the stream and closes the
                // connection itself, on its own thread.
                ::shutdown(w.fd, SHUT_RDWR);
                Log("request timeout: closed a connection after %d s", options.requestTimeout);
            }
    }
}

void HttpServer::Impl::arm(MHD_Connection* c, bool on) {
    std::lock_guard lock(watchMutex);
    auto it = watches.find(c);
    if (it == watches.end())
        return;
    it->second.armed = on;
    if (on)
        it->second.deadline = Clock::now() + std::chrono::seconds(options.requestTimeout);
}

void HttpServer::Impl::connectionEvent(void* cls, MHD_Connection* c, void**,
                                       MHD_ConnectionNotificationCode what) {
    auto* self = static_cast<Impl*>(cls);
    std::lock_guard lock(self->watchMutex);
    if (what == MHD_CONNECTION_NOTIFY_STARTED) {
        Watch w;
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
            w.fd = info->connect_fd;
        w.armed = true;
        w.deadline = Clock::now() + std::chrono::seconds(self->options.requestTimeout);
        self->watches[c] = w;
        ++self->connections;
    } else {
        self->watches.erase(c);
        --self->connections;
    }
}

MHD_Result HttpServer::Impl::access(void* cls, MHD_Connection* c, const char* url,
                                    const char* method, const char*, const char* data,
                                    size_t* size, void** slot) {
    auto* self = static_cast<Impl*>(cls);
    auto* r = static_cast<Request*>(*slot);
    if (!r) {
        r = new Request;
        r->owner = self;
        *slot = r;
        ++self->active;
        r->id = self->nextId++;
        r->method = method;
        r->path = url;
        return self->begin(c, *r);
    }
    if (*size != 0) {
        self->receive(*r, data, *size);
        // Far past the limit the rest is not worth reading: the connection
        // goes without an answer.
        if (r->received / 4 > self->options.maxBody)
            return MHD_NO;
        *size = 0;
        return MHD_YES;
    }
    return self->finish(c, *r);
}

void HttpServer::Impl::completed(void* cls, MHD_Connection* c, void** slot,
                                 MHD_RequestTerminationCode why) {
    auto* self = static_cast<Impl*>(cls);
    auto* r = static_cast<Request*>(*slot);
    if (!r)
        return;
    *slot = nullptr;
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - r->start).count();
    if (why == MHD_REQUEST_TERMINATED_COMPLETED_OK)
        self->Log("request %llu %s %s %d pages=%d ms=%.1f in=%zu out=%zu",
                  static_cast<unsigned long long>(r->id), r->method.c_str(), r->path.c_str(),
                  r->status, r->answer.pages, ms, r->received, r->answer.body.size());
    else
        self->Log("request %llu %s %s %d closed before its answer was sent (%s) ms=%.1f",
                  static_cast<unsigned long long>(r->id), r->method.c_str(), r->path.c_str(),
                  r->status,
                  why == MHD_REQUEST_TERMINATED_TIMEOUT_REACHED ? "idle timeout"
                  : why == MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN ? "shutdown"
                  : why == MHD_REQUEST_TERMINATED_CLIENT_ABORT    ? "client gone"
                                                                  : "error",
                  ms);
    delete r;
    --self->active;
    // The connection may carry another request: it has its own time.
    self->arm(c, true);
}

MHD_Result HttpServer::Impl::send(MHD_Connection* c, Request& r, Answer answer) {
    r.answer = std::move(answer);
    r.status = r.answer.status;
    metrics.CountAnswer(r.status);
    arm(c, false);
    // The body lives in the request, which outlives the sending.
    MHD_Response* response = MHD_create_response_from_buffer(
        r.answer.body.size(), r.answer.body.data(), MHD_RESPMEM_PERSISTENT);
    if (!response)
        return MHD_NO;
    if (!r.answer.contentType.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                r.answer.contentType.c_str());
    MHD_add_response_header(response, "X-Request-Id", std::to_string(r.id).c_str());
    for (const auto& [name, value] : r.answer.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(c, unsigned(r.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result HttpServer::Impl::begin(MHD_Connection* c, Request& r) {
    const std::string& m = r.method;
    if (r.path == "/healthz")
        r.route = Route::Health;
    else if (r.path == "/metrics")
        r.route = Route::Metrics;
    else if (r.path == "/v1/fax")
        r.route = Route::Fax;
    if (r.route == Route::Unknown)
        return send(c, r, Answer::Error(404, "no such path: POST /v1/fax, GET /healthz or "
                                             "GET /metrics"));
    const bool get = m == "GET" || m == "HEAD";
    if ((r.route == Route::Fax && m != "POST") || (r.route != Route::Fax && !get)) {
        Answer a = Answer::Error(405, r.path + " takes " + (r.route == Route::Fax ? "POST" : "GET"));
        a.headers.emplace_back("Allow", r.route == Route::Fax ? "POST" : "GET, HEAD");
        return send(c, r, std::move(a));
    }
    if (!options.token.empty() && r.route != Route::Health) {
        const char* auth = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Authorization");
        if (!auth || !equalInConstantTime(auth, "Bearer " + options.token)) {
            Answer a = Answer::Error(401, "this service needs Authorization: Bearer TOKEN");
            a.headers.emplace_back("WWW-Authenticate", "Bearer");
            return send(c, r, std::move(a));
        }
    }
    if (r.route == Route::Health) {
        Answer a;
        a.status = stopping ? 503 : 200;
        a.contentType = "application/json";
        a.body = std::string("{\"status\":\"") + (stopping ? "stopping" : "ready") +
                 "\",\"building\":" + std::to_string(queue->Running()) +
                 ",\"queued\":" + std::to_string(queue->Queued()) + "}\n";
        return send(c, r, std::move(a));
    }
    if (r.route == Route::Metrics) {
        Answer a;
        a.contentType = "text/plain; version=0.0.4";
        a.body = metrics.Text(queue->Running(), queue->Queued(), connections.load());
        return send(c, r, std::move(a));
    }

    // POST /v1/fax: what the head alone can refuse is refused before the
    // body is read.
    const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Length");
    const char* chunked = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Transfer-Encoding");
    if (!length && !chunked)
        return send(c, r, Answer::Error(411, "the request has no body length: send "
                                             "Content-Length or a chunked body"));
    if (length) {
        errno = 0;
        char* end = nullptr;
        const unsigned long long n = std::strtoull(length, &end, 10);
        if (errno == 0 && end != length && n > options.maxBody)
            return send(c, r, Answer::Error(413, "the body of " + std::to_string(n) +
                                                     " bytes is larger than this service takes (" +
                                                     std::to_string(options.maxBody) + " bytes)"));
    }
    const char* type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Content-Type");
    const std::string media = type ? lowerMediaType(type) : "";
    if (media == "text/plain") {
        r.body = Body::Plain;
    } else if (media == "application/pdf") {
        r.body = Body::Pdf;
    } else if (media == "multipart/form-data") {
        r.body = Body::Multipart;
        r.post = MHD_create_post_processor(c, kPostBuffer, &formPart, &r);
        if (!r.post)
            return send(c, r, Answer::Error(400, "a multipart/form-data body needs its "
                                                 "boundary in the Content-Type header"));
    } else {
        return send(c, r, Answer::Error(415, "send the macro as text/plain, a PDF as "
                                             "application/pdf, or a form as "
                                             "multipart/form-data" +
                                                 (type ? std::string(", not ") + type : "")));
    }
    // Options from the query; the form's, read at the end, come after.
    struct Query {
        Request* r;
        std::string error;
    } query{&r, {}};
    MHD_get_connection_values(
        c, MHD_GET_ARGUMENT_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
            auto* q = static_cast<Query*>(cls);
            if (!SetFaxOption(key, value ? value : "", q->r->job, q->error) && q->error.empty())
                q->error = std::string("unknown query parameter ") + key +
                           " (format, page, paper, coding, resolution or strict)";
            return q->error.empty() ? MHD_YES : MHD_NO;
        },
        &query);
    if (!query.error.empty())
        return send(c, r, Answer::Error(400, query.error));
    return MHD_YES;
}

void HttpServer::Impl::receive(Request& r, const char* data, std::size_t size) {
    r.received += size;
    if (r.failStatus)
        return; // read to its end, then answered
    if (r.route != Route::Fax || r.body == Body::None)
        return;
    if (r.received > options.maxBody) {
        r.Fail(413, "the body is larger than this service takes (" +
                        std::to_string(options.maxBody) + " bytes)");
        return;
    }
    if (r.body == Body::Plain || r.body == Body::Pdf) {
        r.job.macro.append(data, size);
        return;
    }
    if (MHD_post_process(r.post, data, size) != MHD_YES)
        r.Fail(400, "the multipart/form-data body is malformed");
}

// One piece of a form part. Parts: macro (a file or text), template,
// fields, asset (files, by file name) and the options.
MHD_Result HttpServer::Impl::formPart(void* cls, MHD_ValueKind, const char* key,
                                      const char* filename, const char*, const char*,
                                      const char* data, uint64_t offset, size_t size) {
    auto* r = static_cast<Request*>(cls);
    if (r->failStatus == 0)
        r->owner->takeForm(*r, key ? key : "", filename, data, offset, size);
    return r->failStatus == 0 ? MHD_YES : MHD_NO;
}

bool HttpServer::Impl::takeForm(Request& r, const char* key, const char* filename,
                                const char* data, uint64_t offset, std::size_t size) {
    const std::string k = key;
    if (k == "macro") {
        r.haveMacro = true;
        r.job.macro.append(data, size);
        return true;
    }
    if (k == "fields") {
        r.job.fields.append(data, size);
        return true;
    }
    if (k == "asset") {
        const std::string name = filename ? filename : "";
        // A new part begins at offset 0; the pieces after it continue it.
        if (offset == 0 || name != r.assetName || r.assetFd < 0) {
            if (r.assetFd >= 0 && ::close(r.assetFd) != 0) {
                r.assetFd = -1;
                r.Fail(500, "cannot store asset \"" + r.assetName + "\"");
                return false;
            }
            r.assetFd = -1;
            if (name.empty()) {
                r.Fail(400, "an asset part needs a file name (filename=...)");
                return false;
            }
            if (++r.assets > options.maxAssets) {
                r.Fail(413, "more than " + std::to_string(options.maxAssets) +
                                " assets in one request");
                return false;
            }
            std::string error;
            if (!r.folder && !(r.folder = RequestFolder::Create(root, error))) {
                r.Fail(500, error);
                return false;
            }
            int status = 0;
            r.assetName = name;
            if ((r.assetFd = r.folder->CreateFile(name, error, status)) < 0) {
                r.Fail(status, error);
                return false;
            }
        }
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(r.assetFd, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                r.Fail(500, "cannot store asset \"" + name + "\": " +
                                std::strerror(n < 0 ? errno : EIO));
                return false;
            }
            done += std::size_t(n);
        }
        return true;
    }
    if (k == "template" || k == "format" || k == "page" || k == "paper" || k == "coding" ||
        k == "resolution" || k == "strict") {
        std::string& value = k == "template" ? r.job.templateName : r.formOptions[k];
        if (value.size() + size > kMaxFormValue) {
            r.Fail(400, "form field " + k + " is too long");
            return false;
        }
        value.append(data, size);
        return true;
    }
    r.Fail(400, "unknown form field \"" + k +
                    "\" (macro, template, fields, asset, format, page, paper, coding, "
                    "resolution or strict)");
    return false;
}

MHD_Result HttpServer::Impl::finish(MHD_Connection* c, Request& r) {
    if (r.answerReady) {
        r.answerReady = false;
        return send(c, r, std::move(r.answer));
    }
    if (r.queued)
        return MHD_YES; // still building; the worker resumes the connection
    if (r.route != Route::Fax)
        return MHD_YES;
    arm(c, false);
    if (r.post) {
        // The closing boundary must have come: a cut-off form is refused,
        // never built from what arrived.
        const MHD_Result whole = MHD_destroy_post_processor(r.post);
        r.post = nullptr;
        if (whole != MHD_YES)
            r.Fail(400, "the multipart/form-data body is cut off or malformed");
    }
    if (r.assetFd >= 0) {
        if (::close(r.assetFd) != 0)
            r.Fail(500, "cannot store asset \"" + r.assetName + "\"");
        r.assetFd = -1;
    }
    if (r.failStatus)
        return send(c, r, Answer::Error(r.failStatus, r.failWhy));
    std::string error;
    for (const auto& [key, value] : r.formOptions)
        if (!SetFaxOption(key, value, r.job, error))
            return send(c, r, Answer::Error(400, error));
    FaxJob& job = r.job;
    if (r.body == Body::Plain && job.macro.empty())
        return send(c, r, Answer::Error(400, "the body is empty: send the macro"));
    // The library tells a PDF from a macro by its first bytes: a body said
    // to be a PDF that lacks them would be built as a macro.
    if (r.body == Body::Pdf && job.macro.compare(0, 5, "%PDF-") != 0)
        return send(c, r, Answer::Error(400, "the application/pdf body is no PDF: it does not "
                                             "begin with %PDF-"));
    if (r.body == Body::Multipart) {
        if (r.haveMacro && !job.templateName.empty())
            return send(c, r, Answer::Error(400, "send a macro or a template name, not both"));
        if (!r.haveMacro && job.templateName.empty())
            return send(c, r, Answer::Error(400, "the form has no macro part and no template "
                                                 "name"));
        if (r.haveMacro && job.macro.empty())
            return send(c, r, Answer::Error(400, "the macro part is empty"));
        if (!job.templateName.empty() && !IsTemplateName(job.templateName))
            return send(c, r, Answer::Error(400, "template name \"" + job.templateName +
                                                     "\" is not a plain name (letters, digits, "
                                                     "dots, dashes, underscores)"));
    }
    if (!job.fields.empty()) {
        const nlohmann::json fields = nlohmann::json::parse(job.fields, nullptr, false);
        if (fields.is_discarded() || !fields.is_object())
            return send(c, r, Answer::Error(400, "fields: not a JSON object"));
    }
    if (job.pageGiven && job.format != FaxJob::Format::Png)
        return send(c, r, Answer::Error(400, "page= picks the page of format=png"));
    job.folder = r.folder ? r.folder->Path() : emptyFolder;

    Request* request = &r;
    const bool taken = queue->TrySubmit([this, c, request] {
        const Clock::time_point start = Clock::now();
        Answer a = BuildFax(request->job, limits);
        metrics.CountBuild(a.status == 200, a.status == 200 ? a.pages : 0,
                           std::chrono::duration<double>(Clock::now() - start).count());
        request->answer = std::move(a);
        request->answerReady = true;
        MHD_resume_connection(c);
    });
    if (!taken) {
        Answer busy = Answer::Error(503, "every worker is busy and the queue is full; try again");
        busy.headers.emplace_back("Retry-After", "1");
        return send(c, r, std::move(busy));
    }
    r.queued = true;
    MHD_suspend_connection(c);
    return MHD_YES;
}

HttpServer::HttpServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

HttpServer::~HttpServer() = default;

std::unique_ptr<HttpServer> HttpServer::Create(const ServerOptions& options, int listenFd,
                                               bool noListen, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    if (!impl->Start(listenFd, noListen, error))
        return nullptr;
    return std::unique_ptr<HttpServer>(new HttpServer(std::move(impl)));
}

int HttpServer::Port() const {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? int(info->port) : 0;
}

void HttpServer::StopListening() {
    impl_->stopping = true;
    const MHD_socket fd = MHD_quiesce_daemon(impl_->daemon);
    if (fd != MHD_INVALID_SOCKET)
        ::close(fd);
}

bool HttpServer::WaitIdle(int seconds) {
    const Clock::time_point until = Clock::now() + std::chrono::seconds(seconds);
    while (impl_->active.load() > 0) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool HttpServer::AddConnection(int fd) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return MHD_add_connection(impl_->daemon, fd, reinterpret_cast<sockaddr*>(&peer),
                              sizeof peer) == MHD_YES;
}

void HttpServer::SetLogging(bool on) {
    impl_->logging = on;
}

} // namespace folio::server
