#pragma once

#include <string>

namespace xr {

// A machine profile captured on one machine names that machine's serial devices. The capture
// marks each port it plays no scripted modem on with this property (true), and the serial
// layer does not open such a port's paths: on the machine replaying the profile, whatever sits
// at that path (a microcontroller board, a GPS receiver) is no part of it.
inline constexpr char kDeviceElsewhereKey[] = "deviceElsewhere";

// True when a serial port of the current registry has path as its call-out or dial-in device
// and is marked as a device of another machine.
bool deviceIsElsewhere(const std::string& path);

}  // namespace xr
