#pragma once
// The segment tasks of one download and the lists the driver hands them out from.
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "download/CTask.h"

class CTaskManager {
public:
    CTaskManager() = default;
    virtual ~CTaskManager() { clearTasks(); }
    CTaskManager(const CTaskManager&) = delete;
    CTaskManager& operator=(const CTaskManager&) = delete;

    // Takes the first todo task, marks it handed out (3) and appends it to the taken list;
    // null when nothing is left to do.
    virtual CTask* getTask() = 0;
    // Append to the todo or the taken list; false for a null task.
    virtual bool addTodoTask(CTask* task) = 0;
    virtual bool addDoneTask(CTask* task) = 0;

    // Takes ownership; appends to all tasks, then to the taken list when the task is complete
    // (status 1), else to the todo list.
    bool addTask(CTask* task);
    // Moves a handed-out task back from the taken list to the end of the todo list.
    bool returnToTodo(CTask* task);
    // Deletes every task, empties the lists, TasksCount 0.
    void clearTasks();

    const std::vector<std::unique_ptr<CTask>>& allTasks() const { return m_allTasks; }
    const std::vector<CTask*>& takenTasks() const { return m_takenTasks; }
    const std::deque<CTask*>& todoTasks() const { return m_todoTasks; }
    int32_t TasksCount = 0;

protected:
    std::vector<std::unique_ptr<CTask>> m_allTasks;  // owning, in segment order
    std::vector<CTask*> m_takenTasks;                // handed out, or complete when added
    std::deque<CTask*> m_todoTasks;                  // waiting for a worker
};
