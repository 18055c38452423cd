// lcd_driver: the display driver's exported operations, as the host application calls them.
//
// Windows (32-bit): every operation is __stdcall, exported undecorated at ordinals 1..13 in
// name order (driver/exports.def.in). Every argument is one 32-bit stack slot and the callee
// removes 4 bytes per argument, exactly as many as the host pushed. Byte results come back in AL.
// Linux: the same names and parameter lists from liblcd_driver.so, for tests and tools.
//
// A host may call from several threads: the frame call, the set-up and the unload's sign-off
// take turns under one lock (the driver has one port and one transmit buffer); the other
// operations touch no state. None of them starts a thread.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define LCD_CALL __stdcall
#define LCD_EXPORT extern "C"
#else
#define LCD_CALL
#define LCD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The record DLL_GetInfo fills: the driver's name, zero-padded, then the eight fixed
// descriptor bytes the host reads.
struct DriverInfo {
    char name[256];
    std::uint8_t descriptor[8];
};
static_assert(sizeof(DriverInfo) == 264, "the host lays out the record as 264 packed bytes");
static_assert(alignof(DriverInfo) == 1);

inline constexpr char DRIVER_NAME[] = "Kestrivon 640x480 LCD Controller";
// The preview driver's (lcd_preview.dll): the same driver, its panel a window on the screen.
inline constexpr char PREVIEW_DRIVER_NAME[] = "Kestrivon 640x480 LCD Controller (preview)";
inline constexpr std::uint8_t DRIVER_DESCRIPTOR[8] = {1, 0, 0, 1, 0, 8, 8, 8};

// Fills the caller's 264-byte area and returns its address (the way a 264-byte record is
// returned by value). A null area is returned as null and nothing is written.
LCD_EXPORT DriverInfo *LCD_CALL DLL_GetInfo(DriverInfo *result_area);

// Present for the host; they do nothing. The port is opened by LCD_SetIOPropertys and
// released when the driver is unloaded.
LCD_EXPORT void LCD_CALL LCD_CleanUp(void);
LCD_EXPORT void LCD_CALL LCD_ConfigDialog(void);
LCD_EXPORT void LCD_CALL LCD_Customize(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                       std::uint32_t);
LCD_EXPORT void LCD_CALL LCD_Init(void);
LCD_EXPORT void LCD_CALL LCD_SendToController(std::uint32_t);
LCD_EXPORT void LCD_CALL LCD_SendToMemory(std::uint32_t);
LCD_EXPORT void LCD_CALL LCD_SetCGRAMChar(std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t, std::uint32_t);
LCD_EXPORT void LCD_CALL LCD_SetOutputAddress(std::uint32_t, std::uint32_t);

// Returns the low byte of `character` unchanged.
LCD_EXPORT std::uint8_t LCD_CALL LCD_GetCGRAMChar(std::uint32_t character);

// Always 1: each frame is written synchronously, so the driver is ready whenever it returns.
LCD_EXPORT std::uint8_t LCD_CALL LCD_IsReadyToReceive(void);

// Hands over one 320x240 image (one byte per pixel, stride 320). The marker pixels x = 1..4
// of row 0 choose the panel quadrant; an image for the quadrant sent last is skipped, as is
// one with all four markers set. Otherwise the frame, with any pending setting behind it, is
// written to the port in one write. A frame that does not go out whole does not count as sent
// (its quadrant goes again, its setting is pending again) and the port is given up; while no
// port is held, the call tries to get it back by the set-up's port name when the retry rule
// (driver/port_keeper.h) says an attempt is due, and otherwise returns at once. With no port
// named, or a null image, nothing changes. Arguments 2..6 are the host's and unused.
//
// The calling thread's last error (GetLastError() on Windows, errno on Linux) is 0 after a frame
// that went out whole or was skipped (same quadrant, all markers set, null image); otherwise
// the OS error of the failed write, or of the fault that lost the port, or of the last failed
// attempt to open it again; ERROR_TIMEOUT / ETIMEDOUT for a write cut at its bound, and
// ERROR_NOT_READY / ENODEV when no port is held and no OS error is known.
LCD_EXPORT void LCD_CALL LCD_SendToGfxMemory(const std::uint8_t *pixels, std::uint32_t,
                                             std::uint32_t, std::uint32_t, std::uint32_t,
                                             std::uint32_t);

// Port set-up. Until a port has opened, each call opens `port_name` (e.g. "COM3"; "com3",
// "COM12:", " COM3 " and "\\.\COM12" work too) at 3,000,000 baud 8N1 and sends the
// controller's initialisation; a name that fails to open is kept and the frame calls open it
// once it appears. While a port is held and works, later calls never name another one. While
// none is held (it was lost, or never opened), or the one held has gone (its adapter pulled
// out), a call naming a port is a first set-up again: the adapter may have come back under
// another name. Every call records the low byte of `setting` to ride behind the next frame
// when the low byte of `apply_setting` is nonzero (the latest wins). Arguments 2..9 and 12..14
// are the host's and unused.
//
// Result: the outcome when this call opened the port (0 opened, 1 could not open, 2 could not
// read the line settings, 3 could not apply them, the port does not run the controller's rate
// or 8N1, or it did not take the write timeouts; 4 opened, but the initialisation did not go out
// whole, so the port was closed again: the name is kept and the frame calls try again); 0 when
// the call only recorded. After a nonzero result the calling thread's last error
// (GetLastError() / errno) is the OS error of the step that failed, 0 when it had none.
LCD_EXPORT std::uint32_t LCD_CALL LCD_SetIOPropertys(const char *port_name, std::uint32_t,
                                                     std::uint32_t, std::uint32_t, std::uint32_t,
                                                     std::uint32_t, std::uint32_t, std::uint32_t,
                                                     std::uint32_t, std::uint32_t apply_setting,
                                                     std::uint32_t setting, std::uint32_t,
                                                     std::uint32_t, std::uint32_t);
