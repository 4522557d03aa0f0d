// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The service's counters, read by GET /metrics in Prometheus's text format:
// answers by status, builds by outcome, pages, build seconds as a
// histogram. Counters are atomics: workers and the HTTP thread add to them
// without a lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace folio::server {

class Metrics {
  public:
    void CountAnswer(int status);
    // A build's outcome, its pages (0 when it failed) and its wall time.
    void CountBuild(bool ok, int pages, double seconds);
    // The exposition text; `running` and `queued` are the build queue's now.
    std::string Text(int running, int queued, int connections) const;

  private:
    // Statuses 100..599, one counter each.
    std::array<std::atomic<std::uint64_t>, 500> answers_{};
    std::atomic<std::uint64_t> buildsOk_{0}, buildsFailed_{0}, pages_{0};
    // Build seconds: upper bounds of the buckets, then +Inf.
    static constexpr std::array<double, 12> kBounds = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                       0.5,   1,    2.5,   5,    10,  30};
    std::array<std::atomic<std::uint64_t>, kBounds.size() + 1> buckets_{};
    // Sum of build seconds in microseconds, to stay an integer atomic.
    std::atomic<std::uint64_t> microsSum_{0};
};

} // namespace folio::server
