// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Prometheus text exposition of the service's counters (format 0.0.4).
#include "Metrics.h"

#include <cstdio>

namespace folio::server {

void Metrics::CountAnswer(int status) {
    if (status >= 100 && status < 600)
        answers_[std::size_t(status - 100)].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::CountBuild(bool ok, int pages, double seconds) {
    (ok ? buildsOk_ : buildsFailed_).fetch_add(1, std::memory_order_relaxed);
    if (pages > 0)
        pages_.fetch_add(std::uint64_t(pages), std::memory_order_relaxed);
    std::size_t i = 0;
    while (i < kBounds.size() && seconds > kBounds[i])
        ++i;
    buckets_[i].fetch_add(1, std::memory_order_relaxed);
    if (seconds > 0)
        microsSum_.fetch_add(std::uint64_t(seconds * 1e6), std::memory_order_relaxed);
}

std::string Metrics::Text(int running, int queued, int connections) const {
    std::string out;
    char line[160];
    auto add = [&](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        out += line;
    };
    out += "# HELP folioset_requests_total HTTP requests answered, by status.\n"
           "# TYPE folioset_requests_total counter\n";
    for (std::size_t i = 0; i < answers_.size(); ++i)
        if (const std::uint64_t n = answers_[i].load(std::memory_order_relaxed))
            add("folioset_requests_total{status=\"%zu\"} %llu\n", i + 100,
                static_cast<unsigned long long>(n));
    out += "# HELP folioset_builds_total Fax builds, by outcome.\n"
           "# TYPE folioset_builds_total counter\n";
    add("folioset_builds_total{result=\"ok\"} %llu\n",
        static_cast<unsigned long long>(buildsOk_.load()));
    add("folioset_builds_total{result=\"failed\"} %llu\n",
        static_cast<unsigned long long>(buildsFailed_.load()));
    out += "# HELP folioset_pages_total Fax pages built and sent.\n"
           "# TYPE folioset_pages_total counter\n";
    add("folioset_pages_total %llu\n", static_cast<unsigned long long>(pages_.load()));
    out += "# HELP folioset_build_seconds Wall time of each build.\n"
           "# TYPE folioset_build_seconds histogram\n";
    unsigned long long cumulative = 0;
    for (std::size_t i = 0; i < buckets_.size(); ++i) {
        cumulative += buckets_[i].load(std::memory_order_relaxed);
        if (i < kBounds.size())
            add("folioset_build_seconds_bucket{le=\"%g\"} %llu\n", kBounds[i], cumulative);
        else
            add("folioset_build_seconds_bucket{le=\"+Inf\"} %llu\n", cumulative);
    }
    add("folioset_build_seconds_sum %.6f\n", double(microsSum_.load()) / 1e6);
    add("folioset_build_seconds_count %llu\n", cumulative);
    out += "# HELP folioset_builds_running Builds running now.\n"
           "# TYPE folioset_builds_running gauge\n";
    add("folioset_builds_running %d\n", running);
    out += "# HELP folioset_queue_depth Requests waiting for a build.\n"
           "# TYPE folioset_queue_depth gauge\n";
    add("folioset_queue_depth %d\n", queued);
    out += "# HELP folioset_connections Open HTTP connections.\n"
           "# TYPE folioset_connections gauge\n";
    add("folioset_connections %d\n", connections);
    return out;
}

} // namespace folio::server
