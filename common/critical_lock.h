// Process-local lock that guards lazily created singletons.
#pragma once

#include <memory>
#include <mutex>

class CriticalLock
{
public:
    CriticalLock() : m_mutex(std::make_unique<std::mutex>()) {}
    CriticalLock(const CriticalLock &) = delete;
    CriticalLock &operator=(const CriticalLock &) = delete;

    void lock() { m_mutex->lock(); }
    void unlock() { m_mutex->unlock(); }

private:
    std::unique_ptr<std::mutex> m_mutex;
};

// Scope guard: locks on construction, unlocks on destruction.
class CriticalLocker
{
public:
    explicit CriticalLocker(CriticalLock &lock) : m_lock(lock) { m_lock.lock(); }
    ~CriticalLocker() { m_lock.unlock(); }
    CriticalLocker(const CriticalLocker &) = delete;
    CriticalLocker &operator=(const CriticalLocker &) = delete;

private:
    CriticalLock &m_lock;
};
