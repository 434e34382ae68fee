// The interrupts of the Linux station, shared by its send side and its watch.
#pragma once

// A descriptor that becomes readable when SIGINT, SIGTERM or SIGHUP arrives; -1 when the
// station could not make one (the signals then end the program as they normally do).
int InterruptFd();
// A descriptor that becomes readable when RequestEnd was called; -1 when there is none.
int EndFd();
