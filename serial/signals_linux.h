// What wakes a waiting watch on Linux (interrupts, RequestEnd, tasks that returned), shared by
// the station and its watch.
#pragma once

// A descriptor that becomes readable when SIGINT, SIGTERM or SIGHUP arrives; -1 when the
// station could not make one (the signals then end the program as they normally do).
int InterruptFd();
// A descriptor that becomes readable when RequestEnd was called; -1 when there is none.
int EndFd();
// A descriptor that becomes readable when a task has returned; -1 when there is none. The reader
// empties it.
int TaskEndFd();
