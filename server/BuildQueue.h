// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A fixed set of worker threads and a bounded queue in front of them. The
// HTTP thread only hands work over: a full queue is refused at once (the
// client gets 503 and Retry-After) rather than waiting, so no connection
// blocks the thread that serves all the others.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace folio::server {

class BuildQueue {
  public:
    BuildQueue(int workers, int maxQueued);
    // Lets the work in hand and queued finish, then joins the workers.
    ~BuildQueue();
    BuildQueue(const BuildQueue&) = delete;
    BuildQueue& operator=(const BuildQueue&) = delete;

    // False when every worker is busy and `maxQueued` jobs wait already.
    bool TrySubmit(std::function<void()> job);
    int Running() const;
    int Queued() const;

  private:
    void work();

    const int maxQueued_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace folio::server
