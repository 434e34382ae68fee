// brandcli's send threads on Windows against the stand-ins of tests/unit/fake_win32.h: a watch
// that runs for weeks must close each thread's handle once it has returned, not at the end.
#include <gtest/gtest.h>

#include "serial/station.h"
#include "serial/tasks_win32.h"
#include "tests/unit/fake_win32.h"

namespace {

using Log = std::vector<std::string>;

void Count(void* runs) {
    ++*static_cast<int*>(runs);
}

TEST(TasksWin32, EachThreadIsClosedOnceAsSoonAsItsTaskHasReturned) {
    fake = FakeWin32();
    int runs = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(StartTask(Count, &runs));
    }
    EXPECT_EQ(fake.calls.back(), "CreateThread null 65536 10000 null");
    fake.calls.clear();
    CollectTasks();  // none has returned: none is waited for
    EXPECT_EQ(fake.calls, Log{});

    fake.RunThread(0);
    fake.RunThread(2);
    EXPECT_EQ(fake.calls, (Log{"SetEvent event", "SetEvent event"}));  // the watch wakes
    fake.calls.clear();
    CollectTasks();
    CollectTasks();
    EXPECT_EQ(fake.calls, (Log{"WaitForSingleObject thread0 4294967295", "CloseHandle thread0",
                               "WaitForSingleObject thread2 4294967295", "CloseHandle thread2"}));

    fake.calls.clear();
    fake.RunThread(1);
    JoinTasks();
    EXPECT_EQ(fake.calls, (Log{"SetEvent event", "WaitForSingleObject thread1 4294967295",
                               "CloseHandle thread1"}));
    EXPECT_EQ(runs, 3);
}

}  // namespace
