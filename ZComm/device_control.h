// Building the device-control record from the component's line properties: a pure function, so
// what reaches the device is checked member by member without one.
#pragma once

#include "platform/serial_dcb.h"

class TZComm;

namespace zcomm {

// `current` as read from the device, with the members the component owns overwritten.
platform::Dcb device_control(const TZComm& comm, platform::Dcb current);

// The timeouts record of the five timeout properties, in order.
platform::CommTimeouts comm_timeouts(const TZComm& comm);

}  // namespace zcomm
