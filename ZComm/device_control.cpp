#include "ZComm/device_control.h"

#include "ZComm/zcomm.h"

namespace zcomm {
namespace {

std::uint8_t bit0(bool flag) {
    return flag ? 1 : 0;
}

}  // namespace

platform::Dcb device_control(const TZComm& comm, platform::Dcb current) {
    platform::Dcb dcb = current;
    dcb.DCBlength = 28;
    dcb.BaudRate = static_cast<std::uint32_t>(comm.BaudRate);
    dcb.ByteSize = static_cast<std::uint8_t>(comm.DataBits + 4);
    dcb.Parity = comm.Parity;
    dcb.StopBits = comm.StopBits;
    dcb.fBinary = 1;
    dcb.fParity = bit0(comm.EnableParity);
    dcb.fOutxCtsFlow = bit0(comm.CTSFlowCtl);
    dcb.fRtsControl = comm.CTSFlowCtl ? 2 : 1;
    dcb.fOutxDsrFlow = bit0(comm.DSRFlowCtl);
    dcb.fDtrControl = comm.DSRFlowCtl ? 2 : 1;
    dcb.fDsrSensitivity = bit0(comm.DSRSensitive);
    dcb.fTXContinueOnXoff = bit0(comm.TXResume);
    dcb.fOutX = bit0(comm.XOuputFlowCtl);
    dcb.fInX = bit0(comm.XInputFlowCtl);
    dcb.fErrorChar = bit0(comm.ErrorReplace);
    dcb.fNull = bit0(comm.DiscardNULL);
    dcb.fAbortOnError = bit0(comm.AbortOnError);
    dcb.XonLim = static_cast<std::uint16_t>(comm.XOnLimit & 0xFFFF);
    dcb.XoffLim = static_cast<std::uint16_t>(comm.XOffLimit & 0xFFFF);
    dcb.XonChar = comm.XOnChar;
    dcb.XoffChar = comm.XOffChar;
    dcb.ErrorChar = comm.ErrorChar;
    return dcb;
}

platform::CommTimeouts comm_timeouts(const TZComm& comm) {
    return {static_cast<std::uint32_t>(comm.TimeoutReadInterval),
            static_cast<std::uint32_t>(comm.TimeoutReadMultiplier),
            static_cast<std::uint32_t>(comm.TimeoutReadConstant),
            static_cast<std::uint32_t>(comm.TimeoutWriteMultiplier),
            static_cast<std::uint32_t>(comm.TimeoutWriteConstant)};
}

}  // namespace zcomm
