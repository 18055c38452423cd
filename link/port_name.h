// Windows port names as hosts write them: "COM3", "com3", "COM12:", " COM3 ", "\\.\COM12".
// CreateFileA takes COM1 to COM9 under their bare names but finds COM10 and up only through
// the device namespace (\\.\COM10), and takes neither the colon nor spaces there. Kept apart
// from the Win32 backend so the rule is plain code, testable on every platform.
#pragma once

#include <cstddef>

namespace lcd {

// The device path of the longest COM name: the prefix, "COM" and up to 10 digits.
inline constexpr std::size_t DEVICE_PATH_CAPACITY = 4 + 3 + 10 + 1;

// For a COM port name (any case, n decimal digits; spaces around it, one colon after it and
// the \\.\ prefix allowed) writes "\\.\COMn" into `out` and returns `out`; any other name
// (another device, a file, a number too long) is returned unchanged. `out` must hold
// DEVICE_PATH_CAPACITY bytes.
const char *device_path(const char *port_name, char (&out)[DEVICE_PATH_CAPACITY]);

} // namespace lcd
