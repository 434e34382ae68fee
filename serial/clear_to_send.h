// brandcli's look at a port's CTS line before it writes: a USB serial adapter takes a frame into
// its own chip at once even while the device holds CTS low, and both systems then report the
// bytes taken. The wait is the same everywhere; each system supplies only the modem-line read.
#pragma once

#include <cstdint>

// The rest of a port's stderr line when the device never raised CTS; nothing was written.
extern const char kWhyCtsHeld[];

// One open port's modem lines and the clock its send's deadline runs on.
class ModemLines {
public:
    enum class Cts { High, Low, Unknown };
    // Unknown where the lines cannot be read: ptys, Wine's ports on ptys, some drivers.
    virtual Cts ReadCts() = 0;
    virtual uint64_t NowMs() = 0;
    virtual void SleepMs(unsigned ms) = 0;

protected:
    ~ModemLines() = default;
};

// True when the frame may be written: CTS is high, rises before `deadline`, or cannot be read
// (a line that cannot be read is written to as before). False when it stayed low until then.
bool WaitForClearToSend(ModemLines& lines, uint64_t deadline);
