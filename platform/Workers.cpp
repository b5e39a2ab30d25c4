// Worker threads that work on several items of a list at once and hand the results back in the list's order.
#include "platform/Workers.h"

#include <algorithm>

#ifndef _WIN32
#include <sched.h>
#endif

unsigned CoreCount()
{
#if defined(__linux__)
    // Respects taskset and container limits, which hardware_concurrency does not.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) {
            return static_cast<unsigned>(count);
        }
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned WorkerCount(unsigned jobs)
{
    return jobs == 0 ? CoreCount() : jobs;
}

TOrderedWorkers::TOrderedWorkers(unsigned jobs)
{
    const unsigned count = std::max(1u, jobs);
    // Enough queued work that no worker waits for the done steps, little enough that a huge list
    // is not held twice.
    m_limit = std::size_t{count} * 16;
    m_threads.reserve(count);
    try {
        for (unsigned i = 0; i < count; ++i) {
            m_threads.emplace_back([this, i] { Worker(i); });
        }
    } catch (...) {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_workReady.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
        throw;
    }
}

TOrderedWorkers::~TOrderedWorkers()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_workReady.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void TOrderedWorkers::Worker(unsigned index)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workReady.wait(lock, [this] { return m_closing || m_nextToStart < m_items.size(); });
        if (m_closing) {
            return;
        }
        TItem& item = m_items[m_nextToStart++];
        lock.unlock();
        std::exception_ptr error;
        try {
            item.work(index);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        item.error = error;
        item.finished = true;
        m_itemFinished.notify_all();
    }
}

void TOrderedWorkers::RunDue(std::unique_lock<std::mutex>& lock)
{
    while (!m_items.empty() && m_items.front().finished) {
        TItem item = std::move(m_items.front());
        m_items.pop_front();
        --m_nextToStart;
        lock.unlock();
        if (item.error) {
            std::rethrow_exception(item.error);
        }
        item.done();
        lock.lock();
    }
}

void TOrderedWorkers::Add(TWork work, TDone done)
{
    std::unique_lock lock(m_mutex);
    // Queued before any done step runs: one that raises must not lose the item being added.
    m_items.push_back(TItem{std::move(work), std::move(done), false, nullptr});
    m_workReady.notify_one();
    RunDue(lock);
    while (m_items.size() > m_limit) {
        m_itemFinished.wait(lock, [this] { return m_items.front().finished; });
        RunDue(lock);
    }
}

void TOrderedWorkers::Drain()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        RunDue(lock);
        if (m_items.empty()) {
            return;
        }
        m_itemFinished.wait(lock, [this] { return m_items.front().finished; });
    }
}
