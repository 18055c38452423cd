// Windows port names: COM1 to COM9 open under their bare names, but from COM10 up CreateFileA
// only finds the port through the device namespace (\\.\COM10). Kept apart from the Win32
// backend so the rule is plain code, testable on every platform.
#pragma once

#include <cstddef>

namespace lcd {

// Longest bare port name given the device prefix ("COM" and up to 10 digits).
inline constexpr std::size_t DEVICE_PATH_CAPACITY = 4 + 3 + 10 + 1;

// For a bare COMn name (any case, n decimal digits) writes "\\.\" followed by the name into
// `out` and returns `out`; any other name (already prefixed, another device, a file, too long)
// is returned unchanged. `out` must hold DEVICE_PATH_CAPACITY bytes.
const char *device_path(const char *port_name, char (&out)[DEVICE_PATH_CAPACITY]);

} // namespace lcd
