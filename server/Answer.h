// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// One HTTP answer as the service makes it: status, body and the headers
// beyond the ones the HTTP layer adds. Errors carry a JSON body that names
// the cause, so a client never has to guess from a bare status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace folio::server {

struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Pages of the fax sent, for the log and the metrics; 0 for no fax.
    int pages = 0;

    // An error answer: {"error": why} as JSON, with any extra fields
    // already JSON text (`"diagnostics":[...]`), without its braces.
    static Answer Error(int status, const std::string& why, const std::string& extraJson = {});
};

// `text` as a JSON string with its quotes; non-ASCII and control
// characters escaped, so the result is safe in an HTTP header too.
std::string JsonString(const std::string& text);

} // namespace folio::server
