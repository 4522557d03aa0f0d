// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// One fax to build, as a request asked for it, and the build itself: the
// macro (or a template by name) built in memory through the library, in the
// request's folder, within the service's limits, made into an answer.
#pragma once

#include "Answer.h"

#include <cstddef>
#include <string>

namespace folio::server {

struct FaxJob {
    enum class Format { Tiff, Pdf, Png };

    std::string macro;
    // Set instead of `macro`: the template's name, without ".fax".
    std::string templateName;
    // A JSON object that fills the template's fields; empty for none.
    std::string fields;
    // The only folder the macro may read, and where its relative names
    // start.
    std::string folder;
    Format format = Format::Tiff;
    // The page sent as PNG (1 for the first).
    int page = 1;
    bool pageGiven = false;
    // FOLIO_PAGE_*, FOLIO_CODING_*, FOLIO_RESOLUTION_*.
    int pageSize = 0;
    int coding = 0;
    int resolution = 0;
    bool strict = false;
};

// The service's limits on every build.
struct BuildLimits {
    std::string templates; // empty: no templates
    int maxPages = 100;
    int timeLimitMs = 30000;
    std::size_t maxMacroBytes = 32u << 20;
};

// Sets the option `key` (format, page, paper, coding, resolution, strict)
// from a query or form value. False with `error` set for a value it does
// not take; an unknown key is not an option (false, `error` empty).
bool SetFaxOption(const std::string& key, const std::string& value, FaxJob& job,
                  std::string& error);

// Whether `name` may name a template: a letter or digit, then up to 127
// letters, digits, dots, dashes and underscores.
bool IsTemplateName(const std::string& name);

// Builds `job`: 200 with the fax, 404 for a template that is not there,
// 422 when the build fails (its cause and diagnostics as JSON), 500 when the
// service cannot work. Runs on a worker thread.
Answer BuildFax(const FaxJob& job, const BuildLimits& limits);

// Pages of a TIFF file: its directories, counted along their chain (at most
// 10,000, each inside the file); 0 for bytes that are not TIFF.
int CountTiffPages(const unsigned char* data, std::size_t size);

} // namespace folio::server
