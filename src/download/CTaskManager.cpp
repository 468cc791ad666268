#include "download/CTaskManager.h"

#include <algorithm>

bool CTaskManager::addTask(CTask* task) {
    if (!task) return false;
    m_allTasks.emplace_back(task);
    if (task->TaskStatus.load() == TaskComplete) m_takenTasks.push_back(task);
    else m_todoTasks.push_back(task);
    return true;
}

void CTaskManager::clearTasks() {
    m_todoTasks.clear();
    m_takenTasks.clear();
    m_allTasks.clear();
    TasksCount = 0;
}

bool CTaskManager::returnToTodo(CTask* task) {
    auto it = std::find(m_takenTasks.begin(), m_takenTasks.end(), task);
    if (!task || it == m_takenTasks.end()) return false;
    m_takenTasks.erase(it);
    m_todoTasks.push_back(task);
    return true;
}
