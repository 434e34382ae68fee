#include "serial/clear_to_send.h"

const char kWhyCtsHeld[] =
    "the frame was not written: the device did not take it within 1 s (CTS held low)";

namespace {

// Short next to the frame's own few milliseconds on the line, long enough not to spin.
constexpr unsigned kCtsPollMs = 10;

}  // namespace

bool WaitForClearToSend(ModemLines& lines, uint64_t deadline) {
    for (;;) {
        if (lines.ReadCts() != ModemLines::Cts::Low) {
            return true;
        }
        uint64_t now = lines.NowMs();
        if (now >= deadline) {
            return false;
        }
        uint64_t left = deadline - now;
        lines.SleepMs(left < kCtsPollMs ? static_cast<unsigned>(left) : kCtsPollMs);
    }
}
