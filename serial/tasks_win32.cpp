#include "serial/tasks_win32.h"

#include "serial/station.h"
#include "serial/task_list.h"

namespace {

// 255 threads of the default 1 MB would reserve a quarter of a 32-bit address space.
const SIZE_T kTaskStack = 64 * 1024;

TaskList<HANDLE> tasks;
HANDLE endedEvent;

DWORD WINAPI RunTask(void* task) {
    TaskList<HANDLE>::Run(task);
    SetEvent(endedEvent);
    return 0;
}

bool Spawn(TaskList<HANDLE>::Task* task) {
    task->thread = CreateThread(nullptr, kTaskStack, RunTask, task,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return task->thread != nullptr;
}

// One at a time: WaitForMultipleObjects takes at most 64 handles.
void Release(HANDLE thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

}  // namespace

HANDLE TaskEndedEvent() {
    if (!endedEvent) {
        endedEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    return endedEvent;
}

bool StartTask(void (*task)(void*), void* context) {
    TaskEndedEvent();
    return tasks.Start(task, context, Spawn);
}

void CollectTasks() {
    tasks.Collect(Release);
}

void JoinTasks() {
    tasks.Join(Release);
}
