// The built driver library, loaded by path and called through function pointers exactly as a
// host does, with the host's argument lists. The pointer types come from the driver's own
// declarations, so they cannot drift from what it exports.
#pragma once

#include "driver/driver_api.h"
#include "protocol/protocol.h"
#include "tools/common/driver_library.h"

#include <cerrno>
#include <cstdint>
#include <string>

namespace lcd::test {

using u32 = std::uint32_t;

// Every export with its ordinal and the 32-bit argument slots a host pushes for it.
struct Export {
    const char *name;
    unsigned ordinal;
    unsigned arguments;
};
inline constexpr Export EXPORTS[] = {
    {"DLL_GetInfo", 1, 1},           {"LCD_CleanUp", 2, 0},          {"LCD_ConfigDialog", 3, 0},
    {"LCD_Customize", 4, 5},         {"LCD_GetCGRAMChar", 5, 1},     {"LCD_Init", 6, 0},
    {"LCD_IsReadyToReceive", 7, 0},  {"LCD_SendToController", 8, 1}, {"LCD_SendToGfxMemory", 9, 6},
    {"LCD_SendToMemory", 10, 1},     {"LCD_SetCGRAMChar", 11, 17},   {"LCD_SetIOPropertys", 12, 14},
    {"LCD_SetOutputAddress", 13, 2},
};

namespace exports {
using GetInfo = decltype(DLL_GetInfo);
using NoArgs = decltype(LCD_Init);
using OneArg = decltype(LCD_SendToController);
using Customize = decltype(LCD_Customize);
using SetOutputAddress = decltype(LCD_SetOutputAddress);
using SetCgramChar = decltype(LCD_SetCGRAMChar);
using GetCgramChar = decltype(LCD_GetCGRAMChar);
using IsReadyToReceive = decltype(LCD_IsReadyToReceive);
using SendToGfxMemory = decltype(LCD_SendToGfxMemory);
using SetIoPropertys = decltype(LCD_SetIOPropertys);
} // namespace exports

#if !defined(_WIN32)

// The calling thread's last error (errno) as `call` left it. A value no call of the driver's
// gives is put there first, so an entry point that sets nothing is seen.
template <class Call> int error_after(Call call) {
    errno = EILSEQ;
    call();
    return errno;
}

// The library as a host holds it (the tools' loader): loaded in the constructor, unloaded (the
// driver then signs off and lets go of the port) in the destructor; with the host's calls.
class DriverLibrary : public tool::DriverLibrary {
  public:
    explicit DriverLibrary(const char *path = LCD_DRIVER_PATH) : tool::DriverLibrary(path) {}

    // The set-up call with the host's usual arguments.
    u32 set_io(const char *port, u32 apply_setting = 0, u32 setting = 0) const {
        return fn<exports::SetIoPropertys>("LCD_SetIOPropertys")(port, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                 apply_setting, setting, 0, 0, 0);
    }
    void send(const std::uint8_t *pixels) const {
        fn<exports::SendToGfxMemory>("LCD_SendToGfxMemory")(pixels, IMAGE_WIDTH, IMAGE_HEIGHT, 0, 0,
                                                            0);
    }

    // Calls every entry point once with harmless arguments; true when each answered as it must.
    bool answers_every_entry_point() const;
};

#endif

} // namespace lcd::test
