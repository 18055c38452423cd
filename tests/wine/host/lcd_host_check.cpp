// A 32-bit stand-in for the host application: loads lcd_driver.dll with LoadLibraryA, calls
// every export through a pointer with the host's argument counts, and checks what a host
// relies on. Run under Wine by the Linux test suite.
//
//   lcd_host_check.exe DRIVER.dll            the export table, stack discipline, fixed answers
//   lcd_host_check.exe DRIVER.dll COMn       also a session on the port (see run_session)
//
// Prints one line per check and ends with "N passed, N failed"; exits 1 on any failure.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "lcd_version.h"
#include "support/driver_library.h"
#include "support/test_images.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using lcd::test::EXPORTS;
using lcd::test::u32;
namespace exports = lcd::test::exports;

int passed = 0;
int failed = 0;

void check(bool ok, const char *what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    ok ? ++passed : ++failed;
}

// Pushes `count` arguments (args[0] pushed last, as a C caller would), calls `fn`, and returns
// how many bytes of them the callee removed. A stdcall entry must remove 4 per argument; any
// other number silently corrupts the host's stack, which is why this is measured, not assumed.
int bytes_removed(FARPROC fn, unsigned count, const u32 *args) {
    int removed;
    u32 n = count;
    const u32 *a = args;
    asm volatile("movl %%esp, %%esi\n\t"
                 "1:\n\t"
                 "testl %%ecx, %%ecx\n\t"
                 "jz 2f\n\t"
                 "pushl -4(%%edx,%%ecx,4)\n\t"
                 "decl %%ecx\n\t"
                 "jmp 1b\n\t"
                 "2:\n\t"
                 "movl %%esp, %%edi\n\t"
                 "call *%%ebx\n\t"
                 "movl %%esp, %%eax\n\t"
                 "subl %%edi, %%eax\n\t"
                 "movl %%esi, %%esp\n\t"
                 : "=a"(removed), "+c"(n), "+d"(a)
                 : "b"(fn)
                 : "esi", "edi", "memory", "cc");
    return removed;
}

template <class F> F *entry(HMODULE driver, const char *name) {
    return reinterpret_cast<F *>(reinterpret_cast<void *>(GetProcAddress(driver, name)));
}

void check_exports(HMODULE driver) {
    for (const lcd::test::Export &e : EXPORTS) {
        const FARPROC by_name = GetProcAddress(driver, e.name);
        const FARPROC by_ordinal = GetProcAddress(driver, MAKEINTRESOURCEA(e.ordinal));
        char what[128];
        std::snprintf(what, sizeof what, "%s resolves, ordinal %u is the same entry", e.name,
                      e.ordinal);
        check(by_name != nullptr && by_name == by_ordinal, what);
    }
}

void check_stack_discipline(HMODULE driver) {
    // Arguments that keep every entry harmless: a real area for DLL_GetInfo, a null image,
    // no port name.
    static DriverInfo info_area;
    for (const lcd::test::Export &e : EXPORTS) {
        u32 args[17] = {};
        if (std::strcmp(e.name, "DLL_GetInfo") == 0)
            args[0] = reinterpret_cast<u32>(&info_area);
        const int removed = bytes_removed(GetProcAddress(driver, e.name), e.arguments, args);
        char what[128];
        std::snprintf(what, sizeof what, "%s removes %u bytes of arguments (measured %d)", e.name,
                      4 * e.arguments, removed);
        check(removed == static_cast<int>(4 * e.arguments), what);
    }
}

void check_fixed_answers(HMODULE driver) {
    constexpr std::size_t RECORD = sizeof(DriverInfo);
    std::uint8_t area[RECORD + 32];
    std::memset(area, 0xFF, sizeof area);
    auto *const record = reinterpret_cast<DriverInfo *>(area + 16);
    check(entry<exports::GetInfo>(driver, "DLL_GetInfo")(record) == record,
          "DLL_GetInfo returns the address passed");
    std::uint8_t expected[RECORD] = {};
    std::memcpy(expected, DRIVER_NAME, sizeof DRIVER_NAME - 1);
    std::memcpy(expected + sizeof DriverInfo::name, DRIVER_DESCRIPTOR, sizeof DRIVER_DESCRIPTOR);
    check(std::memcmp(area + 16, expected, RECORD) == 0,
          "DLL_GetInfo fills name, zero padding and descriptor 01 00 00 01 00 08 08 08");
    bool untouched = true;
    for (std::size_t i = 0; i < 16; ++i)
        untouched = untouched && area[i] == 0xFF && area[16 + RECORD + i] == 0xFF;
    check(untouched, "DLL_GetInfo writes nothing outside the 264 bytes");

    const auto get_cgram_char = entry<exports::GetCgramChar>(driver, "LCD_GetCGRAMChar");
    check(get_cgram_char(5) == 5 && get_cgram_char(0x1234) == 0x34,
          "LCD_GetCGRAMChar returns the low byte of its argument");
    check(entry<exports::IsReadyToReceive>(driver, "LCD_IsReadyToReceive")() == 1,
          "LCD_IsReadyToReceive answers 1");
}

bool version_string(const std::uint8_t *data, const char *key, const char *expected) {
    char path[96];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\040704B0\\%s", key);
    void *value = nullptr;
    UINT length = 0;
    return VerQueryValueA(data, path, &value, &length) && value != nullptr &&
           std::strcmp(static_cast<const char *>(value), expected) == 0;
}

void check_version_resource(const char *driver_path) {
    static std::uint8_t data[8192];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(driver_path, &ignored);
    check(size > 0 && size <= sizeof data && GetFileVersionInfoA(driver_path, 0, size, data),
          "the version resource reads back");
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    const bool have_fixed =
        VerQueryValueA(data, "\\", reinterpret_cast<void **>(&fixed), &length) && fixed;
    // The expectation is the build's project version, not a second copy of it.
    constexpr DWORD VERSION_MS = (LCD_VERSION_MAJOR << 16) | LCD_VERSION_MINOR;
    constexpr DWORD VERSION_LS = (LCD_VERSION_PATCH << 16) | LCD_VERSION_TWEAK;
    check(have_fixed && fixed->dwFileVersionMS == VERSION_MS &&
              fixed->dwFileVersionLS == VERSION_LS && fixed->dwProductVersionMS == VERSION_MS &&
              fixed->dwProductVersionLS == VERSION_LS,
          "file and product version " LCD_VERSION);
    check(have_fixed && fixed->dwFileType == VFT_DLL && fixed->dwFileOS == VOS__WINDOWS32 &&
              (fixed->dwFileFlags & fixed->dwFileFlagsMask) == 0,
          "a 32-bit Windows DLL with no file flags");
    WORD *translation = nullptr;
    const bool have_translation =
        VerQueryValueA(data, "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                       &length) &&
        translation && length >= 4;
    check(have_translation && translation[0] == 0x0407 && translation[1] == 1200,
          "translation German (0x0407), code page 1200");
    check(version_string(data, "FileVersion", LCD_VERSION_RESOURCE_STRING) &&
              version_string(data, "ProductVersion", LCD_VERSION_RESOURCE_STRING),
          "German string table with version strings \"" LCD_VERSION_RESOURCE_STRING "\"");
}

// The session the Linux side expects on the port, byte for byte:
//   load, set up (setting 0x0E), frames for quadrants 0 (with the setting), 0 (skipped), 3, 1,
//   a set-up call naming another port that only records setting 0x5A, a frame for 2 (with it),
//   unload (shutdown), load again, set up, a frame for 0, unload (shutdown).
void run_session(const char *driver_path, const char *port) {
    static std::uint8_t image[lcd::IMAGE_SIZE];
    HMODULE driver = LoadLibraryA(driver_path);
    auto set_io = entry<exports::SetIoPropertys>(driver, "LCD_SetIOPropertys");
    auto send = entry<exports::SendToGfxMemory>(driver, "LCD_SendToGfxMemory");

    check(set_io(port, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x0E, 0, 0, 0) == 0,
          "LCD_SetIOPropertys opens the port");
    const int first_quadrants[] = {0, 0, 3};
    for (unsigned i = 0; i < 3; ++i) {
        lcd::test::fill_test_image(image, first_quadrants[i], i);
        send(image, 0, 0, 0, 0, 0);
    }
    check(set_io(port, 0, 0, 0, 0, 0, 0, 0, 0, 0x100, 0x77, 0, 0, 0) == 0,
          "a later set-up with apply_setting 0x100 answers 0");
    lcd::test::fill_test_image(image, 1, 3);
    send(image, 0, 0, 0, 0, 0);
    check(set_io("COM99", 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x5A, 0, 0, 0) == 0,
          "a later set-up naming another port keeps the first");
    lcd::test::fill_test_image(image, 2, 4);
    send(image, 0, 0, 0, 0, 0);
    check(FreeLibrary(driver) != 0, "FreeLibrary unloads the driver");

    driver = LoadLibraryA(driver_path);
    set_io = entry<exports::SetIoPropertys>(driver, "LCD_SetIOPropertys");
    send = entry<exports::SendToGfxMemory>(driver, "LCD_SendToGfxMemory");
    check(set_io(port, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) == 0,
          "the driver loaded again opens the port again");
    lcd::test::fill_test_image(image, 0, 5);
    send(image, 0, 0, 0, 0, 0);
    check(FreeLibrary(driver) != 0, "FreeLibrary unloads the driver again");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DRIVER.dll [COMn]\n", argv[0]);
        return 2;
    }
    const HMODULE driver = LoadLibraryA(argv[1]);
    check(driver != nullptr, "LoadLibraryA loads the driver");
    if (driver != nullptr) {
        check_exports(driver);
        check_stack_discipline(driver);
        check_fixed_answers(driver);
        check_version_resource(argv[1]);
        FreeLibrary(driver);
        if (argc >= 3)
            run_session(argv[1], argv[2]);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
