// Two threads at work at once in one process, as brandcli's several-port call and watch have
// them: each one computes and makes kernel calls (events, which go to the wineserver) for a
// while. Prints "threads ok N N" (the rounds each made) and exits 0; an emulator that cannot run
// two threads of a 32-bit process crashes it instead. tools/thread_check.py runs it many times.
#include <windows.h>

#include <stdio.h>

namespace {

const DWORD kBusyMs = 300;

struct Work {
    volatile LONG rounds;
    DWORD sum;
};

DWORD WINAPI busy(LPVOID arg) {
    Work* work = static_cast<Work*>(arg);
    const DWORD start = GetTickCount();
    DWORD sum = 0;
    while (GetTickCount() - start < kBusyMs) {
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (event == NULL)
            return 1;
        SetEvent(event);
        if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0)
            return 1;
        CloseHandle(event);
        for (DWORD i = 0; i < 10000; ++i) sum = sum * 31 + i;
        InterlockedIncrement(&work->rounds);
    }
    work->sum = sum;
    return 0;
}

}  // namespace

int main() {
    Work work[2] = {};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(NULL, 0, busy, &work[i], 0, NULL);
        if (threads[i] == NULL) {
            fprintf(stderr, "CreateThread failed: %lu\n", GetLastError());
            return 2;
        }
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        DWORD code = 1;
        GetExitCodeThread(threads[i], &code);
        CloseHandle(threads[i]);
        if (code != 0 || work[i].rounds == 0) {
            fprintf(stderr, "thread %d failed\n", i);
            return 3;
        }
    }
    printf("threads ok %ld %ld\n", work[0].rounds, work[1].rounds);
    return 0;
}
