#include "deltamaker/parallel/task_pool_p.h"

#include <algorithm>
#include <system_error>

namespace deltamaker::detail {

int machine_threads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, kMaxBuildThreads));
}

int resolve_threads(int requested)
{
    return requested <= 0 ? machine_threads() : std::min(requested, kMaxBuildThreads);
}

struct TaskPool::Job {
    const std::function<void(size_t)> *task = nullptr;
    size_t count = 0;
    size_t next = 0;     // next index to hand out
    size_t finished = 0; // calls that have returned
    bool failed = false;
};

TaskPool::TaskPool(int threads) : threads_(std::max(1, std::min(threads, kMaxBuildThreads))) {}

TaskPool::~TaskPool()
{
    {
        std::lock_guard<std::mutex> hold(mu_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : workers_)
        t.join();
}

bool TaskPool::start()
{
    if (started_)
        return !workers_.empty();
    started_ = true;
    // A thread that cannot be started leaves its share to the others and the caller.
    for (int i = 1; i < threads_; ++i) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break;
        }
    }
    return !workers_.empty();
}

bool TaskPool::take(Job &job, size_t &index)
{
    if (job.next >= job.count)
        return false;
    index = job.next++;
    return true;
}

void TaskPool::execute(Job &job, size_t index)
{
    bool ok = true;
    try {
        (*job.task)(index);
    } catch (...) {
        ok = false;
    }
    std::lock_guard<std::mutex> hold(mu_);
    job.failed = job.failed || !ok;
    ++job.finished;
    // Notified under the lock: the caller cannot see the last finish and return (destroying
    // the job) before this thread is done with it.
    done_.notify_all();
}

void TaskPool::work()
{
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return; // stopping, nothing left
        Job &job = *queue_.front();
        size_t index = 0;
        if (!take(job, index)) {
            queue_.erase(queue_.begin());
            continue;
        }
        lock.unlock();
        execute(job, index);
        lock.lock();
    }
}

bool TaskPool::run(size_t count, const std::function<void(size_t)> &task)
{
    if (count == 0)
        return true;
    Job job;
    job.task = &task;
    job.count = count;
    bool shared = false;
    if (count > 1 && threads_ > 1) {
        std::lock_guard<std::mutex> hold(mu_);
        shared = start();
        if (shared)
            queue_.push_back(&job);
    }
    if (shared)
        wake_.notify_all();
    std::unique_lock<std::mutex> lock(mu_);
    size_t index = 0;
    while (take(job, index)) {
        lock.unlock();
        execute(job, index);
        lock.lock();
    }
    if (shared) {
        const auto at = std::find(queue_.begin(), queue_.end(), &job);
        if (at != queue_.end())
            queue_.erase(at);
    }
    done_.wait(lock, [&job] { return job.finished == job.count; });
    return !job.failed;
}

} // namespace deltamaker::detail
