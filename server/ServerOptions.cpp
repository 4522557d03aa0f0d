// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The command line of folioset-server: one table of numeric limits with
// their ranges, so that every limit is parsed and checked the same way.
#include "ServerOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace folio::server {

const char* const kServerUsage =
    "Usage: folioset-server [options]\n"
    "Builds fax TIFF, PDF or PNG files from fax macros posted over HTTP.\n"
    "  POST /v1/fax   the macro as text/plain, a PDF as application/pdf, or\n"
    "                 multipart/form-data with macro, template, fields, asset\n"
    "                 and option parts\n"
    "  GET /healthz   readiness;  GET /metrics  Prometheus metrics\n"
    "\n"
    "  --listen HOST:PORT     where to listen (127.0.0.1:8080; [::1]:8080 for IPv6);\n"
    "                         a socket passed by systemd takes its place\n"
    "  --templates DIR        templates, posted by name as template=NAME (DIR/NAME.fax)\n"
    "  --token-file FILE      requests but /healthz need Authorization: Bearer TOKEN,\n"
    "                         TOKEN being the file's first line\n"
    "  --allow-no-token       listen beyond loopback without a token\n"
    "  --workers N            builds at once (the number of cores)\n"
    "  --queue N              requests waiting for a build, then 503 (64)\n"
    "  --max-body BYTES       largest request body, suffix K, M or G (32M)\n"
    "  --max-assets N         asset files per request (32)\n"
    "  --max-pages N          pages per fax (100)\n"
    "  --build-timeout SEC    longest build (30)\n"
    "  --request-timeout SEC  longest wait for a request's head and body (30)\n"
    "  --idle-timeout SEC     longest idle connection (15)\n"
    "  --max-connections N    open connections (512)\n"
    "  --version, --help\n";

namespace {

// A whole decimal number in [low, high], with an optional K/M/G suffix
// (powers of 1024) when `sizes`.
bool readNumber(const std::string& text, long long low, long long high, bool sizes,
                long long& value) {
    if (text.empty() || text.size() > 20)
        return false;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0)
        return false;
    int shift = 0;
    if (digits != text.size()) {
        if (!sizes || digits + 1 != text.size())
            return false;
        switch (text.back()) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default: return false;
        }
    }
    errno = 0;
    const long long n = std::strtoll(text.substr(0, digits).c_str(), nullptr, 10);
    if (errno == ERANGE || n > (std::numeric_limits<long long>::max() >> shift))
        return false;
    value = n << shift;
    return value >= low && value <= high;
}

bool readToken(const std::string& path, std::string& token, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "--token-file " + path + ": cannot be read";
        return false;
    }
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    // A token is sent in a header: printable ASCII without spaces.
    for (const char c : token)
        if (c <= ' ' || c > '~') {
            error = "--token-file " + path + ": the token holds a space or a character that is "
                                             "not printable ASCII";
            return false;
        }
    if (token.size() < 16) {
        error = "--token-file " + path + ": the token on its first line is shorter than 16 "
                                         "characters";
        return false;
    }
    return true;
}

} // namespace

int ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options,
                       std::string& error) {
    struct Limit {
        const char* name;
        long long low, high;
        bool sizes;
        void (*set)(ServerOptions&, long long);
    };
    static const Limit limits[] = {
        {"--workers", 1, 256, false, [](ServerOptions& o, long long v) { o.workers = int(v); }},
        {"--queue", 0, 100000, false, [](ServerOptions& o, long long v) { o.queue = int(v); }},
        {"--max-body", 1024, 1ll << 30, true,
         [](ServerOptions& o, long long v) { o.maxBody = std::size_t(v); }},
        {"--max-assets", 0, 10000, false,
         [](ServerOptions& o, long long v) { o.maxAssets = int(v); }},
        {"--max-pages", 1, 4000, false, [](ServerOptions& o, long long v) { o.maxPages = int(v); }},
        {"--build-timeout", 1, 3600, false,
         [](ServerOptions& o, long long v) { o.buildTimeout = int(v); }},
        {"--request-timeout", 1, 3600, false,
         [](ServerOptions& o, long long v) { o.requestTimeout = int(v); }},
        {"--idle-timeout", 1, 3600, false,
         [](ServerOptions& o, long long v) { o.idleTimeout = int(v); }},
        {"--max-connections", 1, 100000, false,
         [](ServerOptions& o, long long v) { o.maxConnections = int(v); }},
    };
    std::string tokenFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        bool inlineValue = false;
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        auto takeValue = [&]() {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kServerUsage, stdout);
            return 1;
        }
        if (arg == "--version") {
            std::printf("folioset-server %s\n", FOLIO_VERSION);
            return 1;
        }
        if (arg == "--allow-no-token") {
            options.allowNoToken = true;
            continue;
        }
        if (arg == "--listen" || arg == "--templates" || arg == "--token-file") {
            if (!takeValue())
                return 2;
            if (value.empty()) {
                error = arg + " needs a value";
                return 2;
            }
            (arg == "--listen" ? options.listen : arg == "--templates" ? options.templates
                                                                       : tokenFile) = value;
            continue;
        }
        const Limit* limit = nullptr;
        for (const Limit& l : limits)
            if (arg == l.name)
                limit = &l;
        if (!limit) {
            error = "unknown option " + arg + " (see --help)";
            return 2;
        }
        if (!takeValue())
            return 2;
        long long n = 0;
        if (!readNumber(value, limit->low, limit->high, limit->sizes, n)) {
            error = arg + " " + value + ": not a whole number from " + std::to_string(limit->low) +
                    " to " + std::to_string(limit->high) + (limit->sizes ? " (K, M or G may follow)" : "");
            return 2;
        }
        limit->set(options, n);
    }
    if (!tokenFile.empty() && !readToken(tokenFile, options.token, error))
        return 2;
    return 0;
}

} // namespace folio::server
