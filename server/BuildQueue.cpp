// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The worker pool behind the service's builds.
#include "BuildQueue.h"

namespace folio::server {

BuildQueue::BuildQueue(int workers, int maxQueued) : maxQueued_(maxQueued) {
    threads_.reserve(std::size_t(workers));
    for (int i = 0; i < workers; ++i)
        threads_.emplace_back([this] { work(); });
}

BuildQueue::~BuildQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

bool BuildQueue::TrySubmit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        // A job counts from its submission until its worker is done: the
        // workers' share plus the queue's is the whole room.
        if (stopping_ || running_ + int(jobs_.size()) >= int(threads_.size()) + maxQueued_)
            return false;
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
}

int BuildQueue::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

int BuildQueue::Queued() const {
    std::lock_guard lock(mutex_);
    return int(jobs_.size());
}

void BuildQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping, nothing left
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
        lock.unlock();
        job();
        lock.lock();
        --running_;
    }
}

} // namespace folio::server
