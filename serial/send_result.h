// How one send of a frame to a port ended, on every system.
#pragma once

// Not opened and not configured both mean that nothing was sent.
enum class SendResult { Sent, NotOpened, NotConfigured, NotWritten };
