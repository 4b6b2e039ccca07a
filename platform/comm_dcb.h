// Line settings in the form the dialog logic builds them: a device-control block
// filled from a mode string such as "115200,n,8,1", and the read time-outs.
#pragma once

#include <cstdint>
#include <string>

namespace zl {

constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
constexpr uint8_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr uint8_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2;

struct DCB {
    uint32_t BaudRate = 0;
    bool fBinary = false;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    uint8_t fDtrControl = DTR_CONTROL_DISABLE;
    uint8_t fRtsControl = RTS_CONTROL_DISABLE;
    bool fOutX = false;
    bool fInX = false;
    uint8_t ByteSize = 0;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
};

struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Fills dcb from a mode string: "baud,parity,data,stop[,x|p]" (an optional "COMn:"
// in front; the two-digit baud abbreviations 11, 15, 30, 60, 12, 24, 48, 96, 19) or
// the keyword form "baud=115200 parity=n data=8 stop=1 ...". Returns false, leaving
// dcb as it was, when the string is not accepted.
bool BuildCommDCB(const std::u16string& mode, DCB& dcb);

}  // namespace zl
