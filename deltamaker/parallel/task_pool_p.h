// A small pool of worker threads for the independent pieces of one build.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace deltamaker::detail {

// Largest thread count a build accepts.
constexpr int kMaxBuildThreads = 64;

// The machine's hardware threads, 1 when it cannot tell, at most kMaxBuildThreads.
int machine_threads();

// `requested` as a thread count: 0 (or less) means every core, anything else is capped at
// kMaxBuildThreads.
int resolve_threads(int requested);

// Owned by the call that builds with it: its threads start on the first parallel run and are
// joined by the destructor, so no thread outlives the build (the plug-in may be unloaded right
// after). Holds no thread-local state.
class TaskPool {
public:
    // `threads`: the threads that work on a run, the caller included (see resolve_threads).
    explicit TaskPool(int threads);
    ~TaskPool();
    TaskPool(const TaskPool &) = delete;
    TaskPool &operator=(const TaskPool &) = delete;

    int threads() const { return threads_; }

    // Calls task(i) once for every i in [0, count), spread over the pool's threads and the
    // caller, and returns when every call has returned. With one thread (or one task) the calls
    // run on the caller, in order. Tasks must not throw: one that does counts as failed and the
    // run returns false (the other tasks still run). A task may start a run of its own.
    bool run(size_t count, const std::function<void(size_t)> &task);

private:
    struct Job;
    void work();
    bool start();
    // Takes the next index of `job`, or false when all are taken. Called with mu_ held.
    static bool take(Job &job, size_t &index);
    void execute(Job &job, size_t index);

    const int threads_;
    std::mutex mu_;
    std::condition_variable wake_;  // a job was queued, or the pool stops
    std::condition_variable done_;  // a task finished
    std::vector<Job *> queue_;      // jobs with indices left to take, oldest first; not owned
    std::vector<std::thread> workers_;
    bool stopping_ = false;
    bool started_ = false;
};

} // namespace deltamaker::detail
