// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fax builds for the service, through the library's in-memory entry points
// (nothing of a build touches the disk but the request's own folder).
#include "FaxJob.h"

#include "Error.h"
#include "PngEncoder.h"
#include "TextFile.h"
#include "foliolib.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace folio::server {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    auto escape = [&out](unsigned code) {
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
        out += escaped;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x7f) {
            out += char(c);
            ++i;
            continue;
        }
        // A UTF-8 sequence becomes its code point; any other byte (text in
        // a code page a diagnostic quotes) is taken as Latin-1, so the
        // result is always ASCII and always valid JSON.
        const int length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
        unsigned code = length == 4 ? c & 0x07u : length == 3 ? c & 0x0Fu : c & 0x1Fu;
        bool valid = length > 1 && i + std::size_t(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + std::size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3Fu);
        }
        valid = valid && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) &&
                !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
        if (!valid) {
            escape(c);
            ++i;
        } else if (code >= 0x10000) {
            escape(0xD800 + ((code - 0x10000) >> 10));
            escape(0xDC00 + ((code - 0x10000) & 0x3FF));
            i += std::size_t(length);
        } else {
            escape(code);
            i += std::size_t(length);
        }
    }
    return out + "\"";
}

Answer Answer::Error(int status, const std::string& why, const std::string& extraJson) {
    Answer a;
    a.status = status;
    a.contentType = "application/json";
    a.body = "{\"error\":" + JsonString(why) + (extraJson.empty() ? "" : "," + extraJson) + "}\n";
    return a;
}

namespace {

struct Named {
    const char* name;
    int value;
};

bool lookUp(const Named* table, std::size_t count, const std::string& value, int& out) {
    for (std::size_t i = 0; i < count; ++i)
        if (value == table[i].name) {
            out = table[i].value;
            return true;
        }
    return false;
}

std::string names(const Named* table, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += (i ? (i + 1 == count ? " or " : ", ") : "") + std::string(table[i].name);
    return out;
}

// The diagnostics of one build, gathered as JSON objects.
struct Collected {
    std::vector<std::string> items;
};

void collect(void* context, const FolioDiagnostic* d) {
    static const char* const severities[] = {"note", "warning", "error"};
    const int s = d->severity >= 0 && d->severity <= 2 ? d->severity : 2;
    auto* c = static_cast<Collected*>(context);
    // Enough for any fax's story; a macro that reports more is cut short
    // rather than growing the answer without bound.
    if (c->items.size() >= 1000)
        return;
    c->items.push_back("{\"line\":" + std::to_string(d->line) + ",\"severity\":\"" +
                       severities[s] + "\",\"kind\":" + JsonString(d->kind ? d->kind : "") +
                       ",\"message\":" + JsonString(d->message ? d->message : "") + "}");
}

std::string jsonArray(const std::vector<std::string>& items, std::size_t count) {
    std::string out = "[";
    for (std::size_t i = 0; i < count; ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

// Headers stay small enough for every client and proxy (8 KiB is a common
// limit for all headers together): the diagnostics that fit in 4 KiB, and
// how many did not.
void addDiagnosticHeaders(Answer& a, const Collected& c) {
    std::size_t fit = c.items.size();
    std::string json = jsonArray(c.items, fit);
    while (json.size() > 4096 && fit > 0)
        json = jsonArray(c.items, --fit);
    a.headers.emplace_back("X-Fax-Diagnostics", json);
    if (fit < c.items.size())
        a.headers.emplace_back("X-Fax-Diagnostics-Omitted", std::to_string(c.items.size() - fit));
}

// The template's bytes; 0 when read, else the HTTP status with `error`.
int readTemplate(const std::string& folder, const std::string& name, std::size_t limit,
                 std::string& text, std::string& error) {
    if (folder.empty()) {
        error = "unknown template \"" + name + "\": the service has no templates folder";
        return 404;
    }
    const std::string path = folder + "/" + name + ".fax";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno == ENOENT || errno == ENOTDIR
                    ? "unknown template \"" + name + "\""
                    : "template \"" + name + "\" cannot be read: " + std::strerror(errno);
        return errno == ENOENT || errno == ENOTDIR ? 404 : 500;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::size_t(st.st_size) > limit) {
        ::close(fd);
        error = "template \"" + name + "\" is not a file of at most " + std::to_string(limit) +
                " bytes";
        return S_ISREG(st.st_mode) ? 500 : 404;
    }
    try {
        text = ReadWholeFd(fd, path, limit);
    } catch (const Error&) {
        error = "template \"" + name + "\" cannot be read";
        ::close(fd);
        return 500;
    }
    ::close(fd);
    return 0;
}

struct PngPage {
    int want = 1;
    int pages = 0;
    std::vector<std::uint8_t> png;
    bool encoded = false;
};

int takePage(void* context, int page, const unsigned char* rows, int width, int height) {
    auto* p = static_cast<PngPage*>(context);
    p->pages = page;
    if (page == p->want)
        p->encoded = EncodeBilevelPng(rows, width, height, (std::size_t(width) + 7) / 8, p->png);
    return 0;
}

std::uint32_t read32(const unsigned char* p, bool little) {
    return little ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24
                  : std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 |
                        std::uint32_t(p[0]) << 24;
}

} // namespace

int CountTiffPages(const unsigned char* data, std::size_t size) {
    if (!data || size < 8)
        return 0;
    const bool little = data[0] == 'I' && data[1] == 'I';
    if (!little && !(data[0] == 'M' && data[1] == 'M'))
        return 0;
    std::uint64_t at = read32(data + 4, little);
    int pages = 0;
    while (at != 0 && pages < 10000) {
        if (at + 2 > size)
            break;
        const unsigned entries =
            little ? unsigned(data[at]) | unsigned(data[at + 1]) << 8
                   : unsigned(data[at + 1]) | unsigned(data[at]) << 8;
        const std::uint64_t next = at + 2 + std::uint64_t(entries) * 12;
        if (next + 4 > size)
            break;
        ++pages;
        const std::uint64_t following = read32(data + next, little);
        // A chain must move forward, or a loop in it would count forever.
        if (following <= at)
            break;
        at = following;
    }
    return pages;
}

bool IsTemplateName(const std::string& name) {
    if (name.empty() || name.size() > 128)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && (i == 0 || (c != '.' && c != '-' && c != '_')))
            return false;
    }
    return true;
}

bool SetFaxOption(const std::string& key, const std::string& value, FaxJob& job,
                  std::string& error) {
    static const Named formats[] = {{"tiff", int(FaxJob::Format::Tiff)},
                                    {"pdf", int(FaxJob::Format::Pdf)},
                                    {"png", int(FaxJob::Format::Png)}};
    static const Named papers[] = {{"a4", FOLIO_PAGE_A4},
                                   {"letter", FOLIO_PAGE_LETTER},
                                   {"legal", FOLIO_PAGE_LEGAL},
                                   {"default", FOLIO_PAGE_DEFAULT}};
    static const Named codings[] = {
        {"g3", FOLIO_CODING_G3}, {"g3-2d", FOLIO_CODING_G3_2D}, {"g4", FOLIO_CODING_G4}};
    static const Named resolutions[] = {{"fine", FOLIO_RESOLUTION_FINE},
                                        {"normal", FOLIO_RESOLUTION_NORMAL}};
    static const Named yesNo[] = {{"1", 1}, {"true", 1}, {"yes", 1},
                                  {"0", 0}, {"false", 0}, {"no", 0}};
    error.clear();
    auto pick = [&](const Named* table, std::size_t count, int& out) {
        if (lookUp(table, count, value, out))
            return true;
        error = key + "=" + value + ": not one of " + names(table, count);
        return false;
    };
#define PICK(table, out) pick(table, sizeof table / sizeof table[0], out)
    if (key == "format") {
        int f = 0;
        if (!PICK(formats, f))
            return false;
        job.format = FaxJob::Format(f);
        return true;
    }
    if (key == "paper")
        return PICK(papers, job.pageSize);
    if (key == "coding")
        return PICK(codings, job.coding);
    if (key == "resolution")
        return PICK(resolutions, job.resolution);
    if (key == "strict") {
        int s = 0;
        if (!PICK(yesNo, s))
            return false;
        job.strict = s != 0;
        return true;
    }
#undef PICK
    if (key == "page") {
        int n = 0;
        bool digits = !value.empty() && value.size() <= 4;
        for (const char c : value)
            digits = digits && c >= '0' && c <= '9';
        if (digits)
            n = std::stoi(value);
        if (!digits || n < 1) {
            error = "page=" + value + ": not a page number from 1 to 9999";
            return false;
        }
        job.page = n;
        job.pageGiven = true;
        return true;
    }
    return false;
}

Answer BuildFax(const FaxJob& job, const BuildLimits& limits) {
    std::string templateText, error;
    const std::string* macro = &job.macro;
    if (!job.templateName.empty()) {
        if (const int status = readTemplate(limits.templates, job.templateName,
                                            limits.maxMacroBytes, templateText, error))
            return Answer::Error(status, error);
        macro = &templateText;
    }
    Collected diagnostics;
    FolioBuildOptions o = FOLIO_BUILD_OPTIONS_INIT;
    o.resolution = job.resolution;
    o.coding = job.coding;
    o.pageSize = job.pageSize;
    o.strict = job.strict ? 1 : 0;
    o.includeRoot = job.folder.c_str();
    o.baseDir = job.folder.c_str();
    o.macroName = job.templateName.empty() ? "macro" : job.templateName.c_str();
    o.fields = job.fields.empty() ? nullptr : job.fields.c_str();
    o.maxPages = limits.maxPages;
    o.timeLimitMs = limits.timeLimitMs;
    o.diagnostic = collect;
    o.diagnosticContext = &diagnostics;

    Answer a;
    bool ok = false;
    if (job.format == FaxJob::Format::Png) {
        PngPage page;
        page.want = job.page;
        ok = BuildFaxPageBitmaps(macro->data(), macro->size(), &o, takePage, &page);
        if (ok && !page.encoded) {
            const std::string why = page.pages < job.page
                                        ? "page=" + std::to_string(job.page) + ": the fax has " +
                                              std::to_string(page.pages) +
                                              (page.pages == 1 ? " page" : " pages")
                                        : "the page could not be encoded as PNG";
            return Answer::Error(page.pages < job.page ? 422 : 500, why,
                                 "\"diagnostics\":" +
                                     jsonArray(diagnostics.items, diagnostics.items.size()));
        }
        if (ok) {
            a.contentType = "image/png";
            a.body.assign(page.png.begin(), page.png.end());
            a.pages = page.pages;
        }
    } else {
        FolioBuffer tiff{}, pdf{};
        ok = BuildFaxInMemory(macro->data(), macro->size(), &o, &tiff,
                              job.format == FaxJob::Format::Pdf ? &pdf : nullptr);
        if (ok) {
            a.pages = CountTiffPages(tiff.data, tiff.size);
            const FolioBuffer& sent = job.format == FaxJob::Format::Pdf ? pdf : tiff;
            a.contentType = job.format == FaxJob::Format::Pdf ? "application/pdf" : "image/tiff";
            a.body.assign(reinterpret_cast<const char*>(sent.data), sent.size);
        }
        FolioBufferFree(&tiff);
        FolioBufferFree(&pdf);
    }
    if (!ok)
        return Answer::Error(422, BuildFaxLastError(),
                             "\"diagnostics\":" +
                                 jsonArray(diagnostics.items, diagnostics.items.size()));
    a.headers.emplace_back("X-Fax-Pages", std::to_string(a.pages));
    addDiagnosticHeaders(a, diagnostics);
    return a;
}

} // namespace folio::server
