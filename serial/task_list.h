// The send threads a station has started, kept the same way on every system: each task marks
// itself ended as its last touch of its record, and the main thread lets go of the ended ones
// while a watch runs (CollectTasks) and of all of them at the end (JoinTasks). Only making,
// waiting for and closing a thread differ between systems. Used from the main thread only, but
// for Run.
#pragma once

#include <algorithm>
#include <atomic>
#include <vector>

template <typename Thread>
class TaskList {
public:
    struct Task {
        void (*run)(void*);
        void* context;
        Thread thread;
        std::atomic<bool> ended;
    };

    // Starts run(context) on a thread that `spawn` makes for the task (and stores in it); false,
    // with nothing kept, when it made none.
    bool Start(void (*run)(void*), void* context, bool (*spawn)(Task*)) {
        Task* task = new Task{run, context, Thread(), {false}};
        if (!spawn(task)) {
            delete task;
            return false;
        }
        m_tasks.push_back(task);
        return true;
    }
    // On the task's own thread.
    static void Run(void* task) {
        Task* own = static_cast<Task*>(task);
        own->run(own->context);
        own->ended = true;
    }

    // `release` waits for the rest of a thread's exit (for an ended task, only its return) and
    // lets the thread go.
    void Collect(void (*release)(Thread)) {
        auto ended = std::partition(m_tasks.begin(), m_tasks.end(),
                                    [](const Task* task) { return !task->ended; });
        Release(ended, release);
    }
    void Join(void (*release)(Thread)) { Release(m_tasks.begin(), release); }

private:
    void Release(typename std::vector<Task*>::iterator from, void (*release)(Thread)) {
        for (auto task = from; task != m_tasks.end(); ++task) {
            release((*task)->thread);
            delete *task;
        }
        m_tasks.erase(from, m_tasks.end());
    }

    std::vector<Task*> m_tasks;  // touched by the main thread only
};
