#include "serial/comm_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

// Field-for-field look-alikes of COMMTIMEOUTS and DCB (the native build has no Windows headers).
struct Timeouts {
    DWORD ReadIntervalTimeout = 7, ReadTotalTimeoutMultiplier = 7, ReadTotalTimeoutConstant = 7,
          WriteTotalTimeoutMultiplier = 7, WriteTotalTimeoutConstant = 7;
};

struct Dcb {
    DWORD DCBlength, BaudRate;
    DWORD fBinary : 1, fParity : 1, fOutxCtsFlow : 1, fOutxDsrFlow : 1, fDtrControl : 2,
        fDsrSensitivity : 1, fTXContinueOnXoff : 1, fOutX : 1, fInX : 1, fErrorChar : 1, fNull : 1,
        fRtsControl : 2, fAbortOnError : 1, fDummy2 : 17;
    uint16_t wReserved, XonLim, XoffLim;
    BYTE ByteSize, Parity, StopBits;
    char XonChar, XoffChar, ErrorChar, EofChar, EvtChar;
    uint16_t wReserved1;
};

TEST(CommSettings, Timeouts) {
    Timeouts t;
    SetPortTimeouts(t);
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST(CommSettings, LineSettingsChangeOnlyTheirOwnFields) {
    Dcb read;
    std::memset(&read, 0xA5, sizeof read);  // whatever the port reported
    read.fOutxCtsFlow = 0;
    Dcb dcb = read;
    SetLineSettings(dcb);
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);

    // Put the five fields back as read: the rest must be untouched, bit for bit.
    dcb.BaudRate = read.BaudRate;
    dcb.ByteSize = read.ByteSize;
    dcb.Parity = read.Parity;
    dcb.StopBits = read.StopBits;
    dcb.fOutxCtsFlow = 0;
    EXPECT_EQ(std::memcmp(&dcb, &read, sizeof dcb), 0);
}

TEST(CommSettings, PurgeDiscardsBothDirections) {
    EXPECT_EQ(kPurgeAll, 0x0001u | 0x0002u | 0x0004u | 0x0008u);
}

}  // namespace
