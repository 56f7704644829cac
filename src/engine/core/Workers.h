#pragma once

#include "TimeSlice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace workers {
// Thrown inside a worker when the search is called off.
struct Stopped {};

// How long a caller waiting for its workers sleeps at most: one that takes turns of the event
// loop wakes often enough to take each in time; one that does not only wakes for a change.
constexpr std::chrono::milliseconds TurnPoll{2};
constexpr std::chrono::milliseconds QuietPoll{100};

// Threads running task(0) to task(count - 1), and the one lock and signal they share with
// the caller. The first task to fail calls the others off, and so does every way out of the
// caller, a closing window included: the destructor waits for them, since they read the
// caller's items.
class Crew {
public:
    Crew() = default;
    Crew(const Crew &) = delete;
    Crew &operator=(const Crew &) = delete;
    ~Crew() { callOff(); }

    void start(size_t count, std::function<void(size_t)> task) {
        task_ = std::move(task);
        left_ = count;
        failures_.resize(count);
        // Should a thread fail to start, the destructor calls off those that did.
        threads_.reserve(count);
        for (size_t p = 0; p < count; ++p)
            threads_.emplace_back([this, p] { run(p); });
    }

    // For a task, now and then: throws Stopped once the crew is called off.
    void pause() const {
        if (stop_.load(std::memory_order_relaxed))
            throw Stopped{};
    }
    // Guards what the tasks share with the caller.
    std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }
    // Wakes whoever waits, after a change to what is shared.
    void notify() { changed_.notify_all(); }
    // For a task, with the lock held: waits until ready() holds; throws Stopped when called off.
    template <class Ready> void waitUntil(std::unique_lock<std::mutex> &lock, const Ready &ready) {
        changed_.wait(lock, [&] { return stop_.load() || ready(); });
        pause();
    }
    // For the caller, with the lock held: waits for a change, a task's end or the time.
    void waitFor(std::unique_lock<std::mutex> &lock, std::chrono::milliseconds time) {
        changed_.wait_for(lock, time);
    }
    // With the lock held: whether every task has ended.
    bool finished() const { return left_ == 0; }
    // For the caller: waits until every task has ended, taking its turns meanwhile and telling
    // at each how far the work has come (done()). Throws nothing of the tasks'.
    template <class Done> void waitAll(TimeSlice *slice, const Done &done) {
        auto lock = this->lock();
        while (!finished()) {
            waitFor(lock, slice ? TurnPoll : QuietPoll);
            if (slice && slice->idleDue()) {
                lock.unlock();
                slice->setStepDone(done());
                slice->yield();
                lock.lock();
            }
        }
    }
    // Once finished: throws what the first failing task threw.
    void rethrowFailure() const {
        for (const std::exception_ptr &failure : failures_)
            if (failure)
                std::rethrow_exception(failure);
    }

private:
    void run(size_t p) {
        bool failed = false;
        try {
            task_(p);
        } catch (const Stopped &) {
        } catch (...) {
            failures_[p] = std::current_exception();
            failed = true;
        }
        const std::lock_guard lock(mutex_);
        if (failed)
            stop_ = true;
        --left_;
        changed_.notify_all();
    }
    void callOff() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        for (std::thread &t : threads_)
            if (t.joinable())
                t.join();
    }

    std::function<void(size_t)> task_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stop_{false};
    size_t left_ = 0;
    std::vector<std::exception_ptr> failures_;
    std::vector<std::thread> threads_;
};

// Runs task(0, pause) to task(count - 1, pause) on a crew while the caller keeps taking its
// turns, telling at each how far the work has come (done()); a task calls pause() now and
// then. A single task runs on the caller's thread, taking the turns in its pauses.
template <class Task, class Done>
void runThreaded(size_t count, TimeSlice *slice, const Done &done, const Task &task) {
    if (count == 1) {
        task(0, [&] {
            if (slice)
                slice->turnIfDue(done());
        });
        return;
    }
    Crew crew;
    crew.start(count, [&](size_t p) { task(p, [&] { crew.pause(); }); });
    crew.waitAll(slice, done);
    crew.rethrowFailure();
}
} // namespace workers
