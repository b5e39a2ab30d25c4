// Worker threads that work on several items of a list at once and hand the results back in the list's order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The number of processors this process may run on; at least 1.
unsigned CoreCount();
// What a jobs option means: 0 is every core, anything else itself.
unsigned WorkerCount(unsigned jobs);

// Runs each added item's work on one of its threads, and the item's done step afterwards on the
// thread that adds the items, strictly in the order the items were added. Whatever the workers'
// timing, what the done steps record and print therefore comes out as a serial run would give it,
// and the state the done steps touch needs no lock. Add blocks while a bounded number of items is
// unfinished, running the done steps that fall due meanwhile; an exception from a work is raised
// from Add or Drain in place of that item's done step, as is one from a done step.
class TOrderedWorkers
{
public:
    using TWork = std::function<void(unsigned worker)>;
    using TDone = std::function<void()>;

    explicit TOrderedWorkers(unsigned jobs);
    // Items that have not begun are dropped and those that have finish; no done step runs.
    ~TOrderedWorkers();
    TOrderedWorkers(const TOrderedWorkers&) = delete;
    TOrderedWorkers& operator=(const TOrderedWorkers&) = delete;

    unsigned Jobs() const { return static_cast<unsigned>(m_threads.size()); }
    // worker: which thread runs it, 0 to Jobs() - 1, so that each can keep state of its own.
    void Add(TWork work, TDone done);
    // Waits for every item added so far and runs the done steps still due.
    void Drain();

private:
    struct TItem
    {
        TWork work;
        TDone done;
        bool finished = false;
        std::exception_ptr error;
    };

    void Worker(unsigned index);
    void RunDue(std::unique_lock<std::mutex>& lock);

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_itemFinished;
    // Every item whose done step has not run, in the order added; a deque keeps the references
    // the workers hold valid while items come and go at its ends.
    std::deque<TItem> m_items;
    std::size_t m_nextToStart = 0;
    std::size_t m_limit;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};
