// brandcli's sends on threads of their own on Windows (StartTask, CollectTasks and JoinTasks of
// serial/station.h), apart from the rest of the station so the native tests can count the
// handles they close.
#pragma once

#include "platform/win_types.h"

// Set whenever a task has returned (auto-reset): a waiting watch wakes and collects it. Made on
// the first call; call it first from the main thread.
HANDLE TaskEndedEvent();
