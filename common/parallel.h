// Work shared out over threads that all end before the call returns.
#pragma once

#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Runs task(i) for each i below `count`, each on a thread of its own (the
// calling thread takes i = 0), and returns when all have ended. The first
// exception a task throws is thrown again here, after the others ended. A
// thread the system does not give is no failure: its task runs on the
// calling thread instead.
template <typename Task>
void runInParallel(std::size_t count, Task&& task) {
    if (count <= 1) {
        if (count == 1) task(std::size_t{0});
        return;
    }
    std::mutex failureLock;
    std::exception_ptr failure;
    auto guarded = [&](std::size_t i) {
        try {
            task(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureLock);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> others;
    std::vector<std::size_t> leftOver;
    for (std::size_t i = 1; i < count; ++i) {
        try {
            others.emplace_back(guarded, i);
        } catch (const std::system_error&) {
            leftOver.push_back(i);
        }
    }
    guarded(0);
    for (std::size_t i : leftOver) guarded(i);
    for (std::thread& thread : others) thread.join();
    if (failure) std::rethrow_exception(failure);
}
