// The built driver library, loaded and called the way a host does it.
#pragma once

#include <cstdint>
#include <dlfcn.h>

namespace lcd::test {

using u32 = std::uint32_t;

struct DriverLibrary {
    using GetInfo = std::uint8_t *(std::uint8_t *);
    using NoArgs = void();
    using ByteResult = std::uint8_t();
    using OneArg = void(u32);
    using GetCgramChar = std::uint8_t(u32);
    using Customize = void(u32, u32, u32, u32, u32);
    using SetOutputAddress = void(u32, u32);
    using SetCgramChar = void(u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32,
                              u32, u32, u32);
    using SendToGfxMemory = void(const std::uint8_t *, u32, u32, u32, u32, u32);
    using SetIoPropertys = u32(const char *, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32, u32,
                               u32, u32);

    void *handle = dlopen(LCD_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
    DriverLibrary() = default;
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;
    ~DriverLibrary() {
        if (handle != nullptr)
            dlclose(handle);
    }
    template <class F> F *fn(const char *name) const {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }

    // The set-up call with the host's usual arguments.
    u32 set_io(const char *port, u32 apply_setting = 0, u32 setting = 0) const {
        return fn<SetIoPropertys>("LCD_SetIOPropertys")(port, 0, 0, 0, 0, 0, 0, 0, 0, apply_setting,
                                                        setting, 0, 0, 0);
    }
    void send(const std::uint8_t *pixels) const {
        fn<SendToGfxMemory>("LCD_SendToGfxMemory")(pixels, 320, 240, 0, 0, 0);
    }

    // Calls every entry point once with harmless arguments; true when each answered as it must.
    bool answers_every_entry_point() const {
        std::uint8_t info[264] = {};
        bool ok = fn<GetInfo>("DLL_GetInfo")(info) == info && info[0] != 0;
        fn<NoArgs>("LCD_Init")();
        fn<NoArgs>("LCD_CleanUp")();
        fn<NoArgs>("LCD_ConfigDialog")();
        fn<Customize>("LCD_Customize")(1, 2, 3, 4, 5);
        fn<OneArg>("LCD_SendToController")(0x41);
        fn<OneArg>("LCD_SendToMemory")(0x41);
        fn<SetOutputAddress>("LCD_SetOutputAddress")(3, 4);
        fn<SetCgramChar>("LCD_SetCGRAMChar")(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                             17);
        ok = ok && fn<GetCgramChar>("LCD_GetCGRAMChar")(0x1F7) == 0xF7;
        ok = ok && fn<ByteResult>("LCD_IsReadyToReceive")() == 1;
        return ok;
    }
};

} // namespace lcd::test
