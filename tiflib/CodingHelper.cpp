// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The coding helper thread. Its state is held by one function-local static,
// so that the thread is made on first use and joined by the static's
// destructor, which runs at exit and when the library is unloaded. A forked
// child has the state but not the thread: the helper remembers the process
// that made it, and a child neither hands it work nor touches it at exit.
#include "CodingHelper.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace folio::tiflib {
namespace {

class Helper {
  public:
    // Ends the thread once it has finished its job, if any. Returns false in
    // a forked child, which must leave everything as it is: the mutex may be
    // held and the condition variables waited on by threads it does not have.
    bool stop() {
        if (forked())
            return false;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_) {
            thread_->join();
            delete thread_;
            thread_ = nullptr;
        }
        return true;
    }

    bool start(SideJob& job) {
        if (forked())
            return false;
        std::lock_guard lock(mutex_);
        if (stopping_ || unavailable_ || busy_)
            return false;
        if (!thread_) {
            try {
                thread_ = new std::thread([this] { serve(); });
                owner_.store(::getpid());
            } catch (const std::exception&) {
                // std::system_error (no thread) or std::bad_alloc: code on the
                // calling thread from now on.
                unavailable_ = true;
                return false;
            }
        }
        busy_ = true;
        job_ = &job;
        wake_.notify_one();
        return true;
    }

    void await(SideJob& job) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&] { return job.done; });
    }

  private:
    // Whether the thread was made by another process (this one's parent).
    // Then the thread object stands for a thread of the parent and is left
    // alone: destroying it would end the process.
    bool forked() const {
        const pid_t owner = owner_.load();
        return owner != 0 && owner != ::getpid();
    }

    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return job_ != nullptr || stopping_; });
            if (!job_)
                return; // stopping, and no job left
            SideJob* job = job_;
            job_ = nullptr;
            lock.unlock();
            try {
                job->run(job->context);
            } catch (...) {
                job->error = std::current_exception();
            }
            lock.lock();
            // The job belongs to the waiting caller: not touched after this.
            job->done = true;
            busy_ = false;
            finished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    SideJob* job_ = nullptr;
    bool busy_ = false, stopping_ = false, unavailable_ = false;
    std::thread* thread_ = nullptr;
    std::atomic<pid_t> owner_{0};
};

// The helper is stopped and freed by the holder's destructor, except in a
// forked child, where it stays as it is (and reachable) until the end.
struct Holder {
    Helper* helper = new Helper;
    ~Holder() {
        if (helper->stop())
            delete helper;
    }
};

thread_local bool tAlone = false;

Helper& helper() {
    static Holder holder;
    return *holder.helper;
}

} // namespace

bool StartBeside(SideJob& job) {
    return !tAlone && helper().start(job);
}

void AwaitBeside(SideJob& job) {
    helper().await(job);
}

CodeAlone::CodeAlone() : before_(tAlone) {
    tAlone = true;
}

CodeAlone::~CodeAlone() {
    tAlone = before_;
}

} // namespace folio::tiflib
