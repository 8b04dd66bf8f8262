#include "deltamaker/parallel/task_pool_p.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace detail = deltamaker::detail;

TEST(TaskPool, ThreadCounts)
{
    EXPECT_GE(detail::machine_threads(), 1);
    EXPECT_LE(detail::machine_threads(), detail::kMaxBuildThreads);
    EXPECT_EQ(detail::resolve_threads(0), detail::machine_threads());
    EXPECT_EQ(detail::resolve_threads(-3), detail::machine_threads());
    EXPECT_EQ(detail::resolve_threads(1), 1);
    EXPECT_EQ(detail::resolve_threads(7), 7);
    EXPECT_EQ(detail::resolve_threads(1000), detail::kMaxBuildThreads);
    EXPECT_EQ(detail::TaskPool(0).threads(), 1);
    EXPECT_EQ(detail::TaskPool(500).threads(), detail::kMaxBuildThreads);
}

TEST(TaskPool, ZeroTasksReturnAtOnce)
{
    detail::TaskPool pool(4);
    bool called = false;
    EXPECT_TRUE(pool.run(0, [&](size_t) { called = true; }));
    EXPECT_FALSE(called);
}

// One thread runs every task on the caller, in index order.
TEST(TaskPool, OneThreadRunsInOrderOnTheCaller)
{
    detail::TaskPool pool(1);
    std::vector<size_t> order;
    const auto caller = std::this_thread::get_id();
    bool elsewhere = false;
    ASSERT_TRUE(pool.run(50, [&](size_t i) {
        order.push_back(i);
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
    }));
    ASSERT_EQ(order.size(), 50u);
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(elsewhere);
}

// Every index runs exactly once, results land in their own slots whatever thread made them,
// and the run returns only when all are done; the pool is reused run after run.
TEST(TaskPool, ManySmallTasksEachRunOnce)
{
    detail::TaskPool pool(4);
    for (int round = 0; round < 20; ++round) {
        const size_t count = 1000 + static_cast<size_t>(round);
        std::vector<std::atomic<int>> hits(count);
        std::vector<uint64_t> slot(count, 0);
        ASSERT_TRUE(pool.run(count, [&](size_t i) {
            hits[i].fetch_add(1);
            slot[i] = static_cast<uint64_t>(i) * i;
        }));
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(hits[i].load(), 1) << i;
            ASSERT_EQ(slot[i], static_cast<uint64_t>(i) * i);
        }
    }
}

// Slow tasks really run at once on several threads (with more than one thread to run them).
TEST(TaskPool, TasksRunOnSeveralThreads)
{
    detail::TaskPool pool(4);
    std::mutex mu;
    std::set<std::thread::id> seen;
    ASSERT_TRUE(pool.run(8, [&](size_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> hold(mu);
        seen.insert(std::this_thread::get_id());
    }));
    EXPECT_GT(seen.size(), 1u);
}

// A task may run a nested batch on the same pool without deadlock.
TEST(TaskPool, NestedRunsFinish)
{
    detail::TaskPool pool(3);
    std::vector<std::atomic<int>> sums(6);
    ASSERT_TRUE(pool.run(6, [&](size_t i) {
        EXPECT_TRUE(pool.run(10, [&](size_t j) { sums[i].fetch_add(static_cast<int>(j)); }));
    }));
    for (auto &s : sums)
        EXPECT_EQ(s.load(), 45);
}

// A throwing task is contained: the run reports failure, the others still run, and the pool
// stays usable.
TEST(TaskPool, ThrowingTaskFailsTheRunOnly)
{
    for (int threads : {1, 4}) {
        detail::TaskPool pool(threads);
        std::atomic<int> ran{0};
        EXPECT_FALSE(pool.run(10, [&](size_t i) {
            ran.fetch_add(1);
            if (i == 3)
                throw std::runtime_error("task 3");
        }));
        EXPECT_EQ(ran.load(), 10);
        EXPECT_TRUE(pool.run(5, [&](size_t) { ran.fetch_add(1); }));
        EXPECT_EQ(ran.load(), 15);
    }
}

// A pool that never ran anything starts no thread and ends at once.
TEST(TaskPool, UnusedPoolEndsCleanly)
{
    for (int i = 0; i < 100; ++i) {
        detail::TaskPool pool(8);
        (void)pool;
    }
}
