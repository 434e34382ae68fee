// brandcli's exit codes: what a script reads of a run, so an interface to change only with care.
// 1 and 3 stay unused: the C runtime ends with those, and a script must never take them for one
// of brandcli's own answers. (A crash ends with a system's exception code instead: on Windows a
// large number that %ERRORLEVEL% shows as negative.)
#pragma once

enum CliExit {
    kExitSent = 0,        // every port took the whole frame (and ports, --help, --version: done)
    kExitUsage = 2,       // unknown command or option, missing, extra or malformed arguments
    kExitNotOpened = 4,   // one port: not opened, or it refused the line settings; nothing sent
    kExitNotWritten = 5,  // one port: the frame was not written whole; a pending write cancelled
    kExitSomeFailed = 6,  // several ports, or watch: not every one took its whole frame
    kExitNoOutput = 7     // the output could not be written where the run would have given 0
};
