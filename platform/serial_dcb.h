// The serial line's settings as the component describes them: a device-control record, the
// timeouts record and the status record, with the codes of the calls that use them. The device
// layer translates them into what Linux offers (serial_termios.h) and refuses what it cannot do.
#pragma once

#include <cstdint>

namespace platform {

// Members and codes keep their historical names so that a reader can match every setting to the
// device-control member it stands for.
struct Dcb {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint8_t fBinary = 0;
    std::uint8_t fParity = 0;
    std::uint8_t fOutxCtsFlow = 0;
    std::uint8_t fOutxDsrFlow = 0;
    std::uint8_t fDtrControl = 0;  // 0 disable, 1 enable, 2 handshake
    std::uint8_t fDsrSensitivity = 0;
    std::uint8_t fTXContinueOnXoff = 0;
    std::uint8_t fOutX = 0;
    std::uint8_t fInX = 0;
    std::uint8_t fErrorChar = 0;
    std::uint8_t fNull = 0;
    std::uint8_t fRtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    std::uint8_t fAbortOnError = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

struct ComStat {
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

inline constexpr std::uint32_t kEvRxChar = 0x0001;

inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

inline constexpr std::uint32_t kSetXoff = 1;
inline constexpr std::uint32_t kSetXon = 2;
inline constexpr std::uint32_t kSetRts = 3;
inline constexpr std::uint32_t kClrRts = 4;
inline constexpr std::uint32_t kSetDtr = 5;
inline constexpr std::uint32_t kClrDtr = 6;
inline constexpr std::uint32_t kResetDev = 7;
inline constexpr std::uint32_t kSetBreak = 8;
inline constexpr std::uint32_t kClrBreak = 9;

// Error bits of the status query.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;

}  // namespace platform
