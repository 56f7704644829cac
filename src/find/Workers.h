#pragma once

#include "core/TimeSlice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace workers {
// Thrown inside a worker when the search is called off.
struct Stopped {};

// Runs task(0, pause) to task(count - 1, pause) on threads of their own while the caller
// keeps taking its turns, telling at each how far the work has come (done()); a task calls
// pause() now and then. Every way out, a closing window
// included, first calls the workers off and waits for them: they read the caller's items.
template <class Task, class Done>
void runThreaded(size_t count, TimeSlice *slice, const Done &done, const Task &task) {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    size_t left = count;
    std::vector<std::exception_ptr> failures(count);
    std::vector<std::thread> workers;
    struct CallOff {
        std::atomic<bool> &stop;
        std::vector<std::thread> &workers;
        ~CallOff() {
            stop = true;
            for (std::thread &w : workers)
                if (w.joinable())
                    w.join();
        }
    } callOff{stop, workers};

    for (size_t p = 0; p < count; ++p)
        workers.emplace_back([&, p] {
            try {
                task(p, [&] {
                    if (stop.load(std::memory_order_relaxed))
                        throw Stopped{};
                });
            } catch (const Stopped &) {
            } catch (...) {
                failures[p] = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            --left;
            finished.notify_all();
        });

    std::unique_lock lock(mutex);
    while (left > 0) {
        finished.wait_for(lock, std::chrono::milliseconds(slice ? 2 : 100));
        if (slice && slice->due()) {
            lock.unlock();
            slice->setStepDone(done());
            slice->yield();
            lock.lock();
        }
    }
    lock.unlock();
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}
} // namespace workers
