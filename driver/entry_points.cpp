// The exported operations: thin translations of the host's arguments onto the layers below.
#include "driver_api.h"

#include "frame_call.h"
#include "lock_clock_error.h"
#include "port_keeper.h"
#include "port_setup.h"

#include <cstring>
#include <string_view>

namespace {

// The last error a frame call leaves: 0 when the frame went out whole or the driver's rules
// skipped it; otherwise the OS error of its fault, and the platform's own error where there is
// none.
std::uint32_t frame_error(const lcd::FrameResult &frame) {
    if (frame.status != lcd::FRAME_NO_PORT && frame.status != lcd::FRAME_WRITE_SHORT &&
        frame.status != lcd::FRAME_WRITE_FAILED)
        return 0;
    return frame.fault.os_error != 0 ? frame.fault.os_error
                                     : lcd::no_os_error(frame.fault.write_cut);
}

#ifdef LCD_PREVIEW
constexpr std::string_view NAME = PREVIEW_DRIVER_NAME;
#else
constexpr std::string_view NAME = DRIVER_NAME;
#endif
// The name goes without its terminator; the record's zero padding ends it.
static_assert(NAME.size() < sizeof DriverInfo::name);

} // namespace

lcd::DriverState &lcd::module_state() {
    static constinit DriverState state{};
    return state;
}

LCD_EXPORT DriverInfo *LCD_CALL DLL_GetInfo(DriverInfo *result_area) {
    if (result_area == nullptr)
        return nullptr;
    DriverInfo info{};
    std::memcpy(info.name, NAME.data(), NAME.size());
    std::memcpy(info.descriptor, DRIVER_DESCRIPTOR, sizeof DRIVER_DESCRIPTOR);
    std::memcpy(result_area, &info, sizeof info);
    return result_area;
}

LCD_EXPORT void LCD_CALL LCD_CleanUp(void) {}
LCD_EXPORT void LCD_CALL LCD_ConfigDialog(void) {}
LCD_EXPORT void LCD_CALL LCD_Customize(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                       std::uint32_t) {}
LCD_EXPORT void LCD_CALL LCD_Init(void) {}
LCD_EXPORT void LCD_CALL LCD_SendToController(std::uint32_t) {}
LCD_EXPORT void LCD_CALL LCD_SendToMemory(std::uint32_t) {}
LCD_EXPORT void LCD_CALL LCD_SetCGRAMChar(std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t) {}
LCD_EXPORT void LCD_CALL LCD_SetOutputAddress(std::uint32_t, std::uint32_t) {}

LCD_EXPORT std::uint8_t LCD_CALL LCD_GetCGRAMChar(std::uint32_t character) {
    return static_cast<std::uint8_t>(character & 0xFFu);
}

LCD_EXPORT std::uint8_t LCD_CALL LCD_IsReadyToReceive(void) {
    return 1;
}

LCD_EXPORT void LCD_CALL LCD_SendToGfxMemory(const std::uint8_t *pixels, std::uint32_t,
                                             std::uint32_t, std::uint32_t, std::uint32_t,
                                             std::uint32_t) {
    std::uint32_t error = 0;
    {
        const lcd::DriverLock lock;
        lcd::DriverState &state = lcd::module_state();
        error = frame_error(lcd::send_frame(state, pixels, lcd::now_ms()));
        lcd::call_ended(state, lcd::now_ms());
    }
    lcd::set_thread_error(error); // after the lock is let go, so nothing can overwrite it
}

LCD_EXPORT std::uint32_t LCD_CALL LCD_SetIOPropertys(const char *port_name, std::uint32_t,
                                                     std::uint32_t, std::uint32_t, std::uint32_t,
                                                     std::uint32_t, std::uint32_t, std::uint32_t,
                                                     std::uint32_t, std::uint32_t apply_setting,
                                                     std::uint32_t setting, std::uint32_t,
                                                     std::uint32_t, std::uint32_t) {
    lcd::SetUpResult result{};
    {
        const lcd::DriverLock lock;
        lcd::DriverState &state = lcd::module_state();
        result = lcd::set_io_properties(state, port_name, apply_setting, setting);
        lcd::call_ended(state, lcd::now_ms());
    }
    lcd::set_thread_error(result.os_error);
    return result.status;
}
