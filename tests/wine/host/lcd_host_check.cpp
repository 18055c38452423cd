// A stand-in for the host application (32-bit, and 64-bit for the win64 build): loads
// lcd_driver.dll with LoadLibraryA, calls every export through a pointer with the host's argument
// counts, and checks what a host relies on. Run under Wine by the Linux test suite.
//
//   lcd_host_check.exe DRIVER.dll            the export table, stack discipline, fixed answers
//   lcd_host_check.exe DRIVER.dll COMn SIGNAL CYCLES [COMm SYNC_DIR]
//                                            also a session on the port (see run_session), a
//                                            soak of CYCLES loads, and a far end that stops
//                                            reading; SIGNAL is the file the far end makes
//                                            once it has sent XOFF (SIGNAL-full once it has
//                                            filled the line, asked by SIGNAL-fill). With
//                                            COMm, a port that comes and goes (see
//                                            run_port_comes_back) and two host threads (see
//                                            run_two_threads), the two sides signalling with
//                                            files in SYNC_DIR
//
// Prints one line per check and ends with "N passed, N failed"; exits 1 on any failure.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "lcd_version.h"
#include "link/serial_link.h"
#include "support/driver_library.h"
#include "support/test_images.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
// At the call the stack pointer sits `skew` bytes past a 16-byte boundary: hosts built by other
// compilers keep only 4-byte alignment, and the driver's vector code must not rely on more.
#if defined(__i386__)
int bytes_removed(FARPROC fn, unsigned count, const u32 *args, u32 skew = 0) {
    // Padding below the aligned stack pointer so that the arguments end `skew` past a boundary.
    int removed = static_cast<int>((32 - skew % 16 - (4 * count) % 16) % 16);
    u32 n = count;
    const u32 *a = args;
    asm volatile("movl %%esp, %%esi\n\t"
                 "andl $-16, %%esp\n\t"
                 "subl %%eax, %%esp\n\t"
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
                 : "+a"(removed), "+c"(n), "+d"(a)
                 : "b"(fn)
                 : "esi", "edi", "memory", "cc");
    return removed;
}
#endif

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

// x86_64 Windows has one calling convention, in which the caller removes the arguments: only
// the 32-bit build has a count to get wrong.
void check_stack_discipline([[maybe_unused]] HMODULE driver) {
#if defined(__i386__)
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
#endif
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

// The driver loaded as a host loads it, with the two entries a session uses.
struct Driver {
    HMODULE module = nullptr;
    exports::SetIoPropertys *set_io = nullptr;
    exports::SendToGfxMemory *send = nullptr;

    explicit Driver(const char *path) : module(LoadLibraryA(path)) {
        if (module != nullptr) {
            set_io = entry<exports::SetIoPropertys>(module, "LCD_SetIOPropertys");
            send = entry<exports::SendToGfxMemory>(module, "LCD_SendToGfxMemory");
        }
    }
    bool loaded() const { return set_io != nullptr && send != nullptr; }
    u32 set_up(const char *port, u32 apply_setting = 0, u32 setting = 0) const {
        return set_io(port, 0, 0, 0, 0, 0, 0, 0, 0, apply_setting, setting, 0, 0, 0);
    }
    void frame(int quadrant, u32 seed) const {
        static std::uint8_t image[lcd::IMAGE_SIZE];
        lcd::test::fill_test_image(image, quadrant, seed);
        send(image, 0, 0, 0, 0, 0);
    }
    void frame(const std::uint8_t *image) const { send(image, 0, 0, 0, 0, 0); }
    bool unload() {
        const bool ok = FreeLibrary(module) != 0;
        module = nullptr;
        return ok;
    }
};

double now_ms() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Waits for the far end's signal file; under emulation Wine is slow, so the wait is long.
bool wait_for_file(const char *path) {
    constexpr int WAIT_MS = 120'000;
    constexpr int STEP_MS = 5;
    for (int waited = 0; waited < WAIT_MS; waited += STEP_MS) {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(STEP_MS);
    }
    return false;
}

// Open handles, where the system counts them (Wine 8 answers 0), and the value the next new
// handle gets: both Windows and Wine hand out the lowest free slot, so it climbs as handles
// leak.
struct Handles {
    DWORD count = 0;
    std::uintptr_t next = 0;
};

Handles handles_now() {
    Handles h;
    if (!GetProcessHandleCount(GetCurrentProcess(), &h.count))
        h.count = 0;
    const HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    h.next = reinterpret_cast<std::uintptr_t>(probe);
    CloseHandle(probe);
    return h;
}

// Wine's own Linux descriptors, seen through its Z: drive; -1 where there is no such view.
int open_descriptors() {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA("Z:\\proc\\self\\fd\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    do
        count += found.cFileName[0] != '.' ? 1 : 0;
    while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// The part of the session the Linux side checks byte for byte (see expected_session there):
//   load, set up (setting 0x0E), wait until the far end has sent XOFF, frames for quadrants 0
//   (with the setting), 0 (skipped), 3, 1, a set-up call naming another port that only records
//   setting 0x5A, a frame for 2 (with it), frames for 3, 0, 1 called with the stack 4, 8 and
//   12 bytes off alignment, unload (shutdown), load again, set up, a frame for 0, unload.
void run_session(const char *driver_path, const char *port, const char *signal) {
    Driver driver(driver_path);
    check(driver.loaded(), "the driver loads for the session");
    if (!driver.loaded())
        return;
    check(driver.set_up(port, 1, 0x0E) == 0, "LCD_SetIOPropertys opens the port");
    check(wait_for_file(signal), "the far end sent XOFF after the set-up");
    const int first_quadrants[] = {0, 0, 3};
    for (unsigned i = 0; i < 3; ++i)
        driver.frame(first_quadrants[i], i);
    check(driver.set_up(port, 0x100, 0x77) == 0,
          "a later set-up with apply_setting 0x100 answers 0");
    driver.frame(1, 3);
    check(driver.set_up("COM99", 1, 0x5A) == 0,
          "a later set-up naming another port keeps the first");
    driver.frame(2, 4);

    // The same frames either way, so the far end's bytes do not depend on the build.
    const int skewed_quadrants[] = {3, 0, 1};
#if defined(__i386__)
    static std::uint8_t image[lcd::IMAGE_SIZE];
    const u32 skews[] = {4, 8, 12};
    for (unsigned i = 0; i < 3; ++i) {
        lcd::test::fill_test_image(image, skewed_quadrants[i], 6 + i);
        const u32 args[6] = {
            reinterpret_cast<u32>(image), lcd::IMAGE_WIDTH, lcd::IMAGE_HEIGHT, 0, 0, 0};
        const int removed =
            bytes_removed(GetProcAddress(driver.module, "LCD_SendToGfxMemory"), 6, args, skews[i]);
        char what[96];
        std::snprintf(what, sizeof what, "a frame sent with the stack %u bytes off alignment",
                      skews[i]);
        check(removed == 24, what);
    }
#else
    for (unsigned i = 0; i < 3; ++i)
        driver.frame(skewed_quadrants[i], 6 + i);
#endif
    check(driver.unload(), "FreeLibrary unloads the driver");

    Driver again(driver_path);
    check(again.loaded() && again.set_up(port) == 0,
          "the driver loaded again opens the port again");
    again.frame(0, 5);
    check(again.unload(), "FreeLibrary unloads the driver again");
}

// Loads, sets up, sends four frames and unloads, `cycles` times; the Linux side checks every
// byte. Neither Windows handles nor Wine's descriptors may grow with the cycles.
void run_soak(const char *driver_path, const char *port, unsigned cycles) {
    Handles first;
    Handles last;
    int first_descriptors = 0;
    int last_descriptors = 0;
    bool all_ok = true;
    const double start = now_ms();
    for (unsigned c = 0; c < cycles; ++c) {
        Driver driver(driver_path);
        all_ok = all_ok && driver.loaded() && driver.set_up(port) == 0;
        if (!driver.loaded())
            break;
        for (int q = 0; q < 4; ++q)
            driver.frame(q, lcd::test::soak_seed(c, q));
        all_ok = driver.unload() && all_ok;
        last = handles_now();
        last_descriptors = open_descriptors();
        if (c == 0) {
            first = last;
            first_descriptors = last_descriptors;
        }
    }
    char what[200];
    std::snprintf(what, sizeof what, "%u load/frames/unload cycles, %u frames, in %.1f s", cycles,
                  4 * cycles, (now_ms() - start) / 1000.0);
    check(all_ok, what);
    std::snprintf(what, sizeof what,
                  "after the first and the last cycle: %lu and %lu handles, next handle %#lx and "
                  "%#lx, %d and %d descriptors",
                  static_cast<unsigned long>(first.count), static_cast<unsigned long>(last.count),
                  static_cast<unsigned long>(first.next), static_cast<unsigned long>(last.next),
                  first_descriptors, last_descriptors);
    check(last.count <= first.count && last.next <= first.next &&
              last_descriptors <= first_descriptors,
          what);
}

// Makes the file `path`, a signal to the far end.
void touch(const char *path) {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

// The far end stops reading (the Linux side reads nothing after the soak): every frame call
// comes back within the write timeout, plus the encoding and a margin for a slow emulated
// machine. The unload (under the loader lock) takes a few milliseconds at most, after the cut
// stream and with the port held while its output is full: the driver loaded again opens the
// port, then the far end fills the line (SIGNAL-fill, answered by SIGNAL-full).
void run_stalled(const char *driver_path, const char *port, const char *signal) {
    constexpr double BOUND_MS = lcd::WRITE_TIMEOUT_MS + 1000.0;
    constexpr double UNLOAD_BOUND_MS = 100;
    constexpr int FRAMES = 6;
    Driver driver(driver_path);
    check(driver.loaded() && driver.set_up(port) == 0, "the port opens for the stalled far end");
    if (!driver.loaded())
        return;
    double longest = 0;
    int held = 0; // calls that waited for the write timeout
    for (int i = 0; i < FRAMES; ++i) {
        const double start = now_ms();
        driver.frame(i % 4, 200 + static_cast<u32>(i));
        const double took = now_ms() - start;
        longest = took > longest ? took : longest;
        held += took >= 0.9 * lcd::WRITE_TIMEOUT_MS ? 1 : 0;
    }
    char what[160];
    std::snprintf(what, sizeof what,
                  "%d frame calls to a far end that never reads return, the longest after %.0f "
                  "ms (bound %.0f ms); %d waited for the write timeout",
                  FRAMES, longest, BOUND_MS, held);
    check(longest < BOUND_MS && held > 0, what);
    double start = now_ms();
    bool unloaded = driver.unload();
    double took = now_ms() - start;
    std::snprintf(what, sizeof what, "the unload after the cut stream returns after %.0f ms", took);
    check(unloaded && took < UNLOAD_BOUND_MS, what);

    Driver again(driver_path);
    bool ok = again.loaded() && again.set_up(port) == 0;
    char fill[MAX_PATH];
    char full[MAX_PATH];
    std::snprintf(fill, sizeof fill, "%s-fill", signal);
    std::snprintf(full, sizeof full, "%s-full", signal);
    touch(fill);
    ok = wait_for_file(full) && ok;
    start = now_ms();
    unloaded = again.loaded() && again.unload();
    took = now_ms() - start;
    std::snprintf(what, sizeof what,
                  "the unload with the port held and its output full returns after %.0f ms", took);
    check(ok && unloaded && took < UNLOAD_BOUND_MS, what);
}

// Files the host and the far end of run_port_comes_back signal each other with.
void raise_signal(const char *dir, const char *name) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\%s", dir, name);
    touch(path);
}

bool wait_for_signal(const char *dir, const char *name) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\%s", dir, name);
    return wait_for_file(path);
}

// Draws `image` every 100 ms, as a host redraws, until the far end raises `done`; keeps the
// longest call in `longest`.
bool draw_until(const Driver &driver, const std::uint8_t *image, const char *dir, const char *done,
                double &longest) {
    constexpr int MAX_FRAMES = 600; // a minute at 100 ms
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\%s", dir, done);
    for (int i = 0; i < MAX_FRAMES; ++i) {
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return true;
        const double start = now_ms();
        driver.frame(image);
        const double took = now_ms() - start;
        longest = took > longest ? took : longest;
        Sleep(100);
    }
    return false;
}

// The port comes back by itself (the far end is far_end_comes_back on the Linux side). The
// port, named as a host may write it (" com41: "), is not there at the set-up and appears
// later; it is then unplugged while the host is idle, the host picks a port that is not there,
// and a new terminal is plugged in under the first name, which the host picks again; then the
// far end stops reading while frames full of escapes go out, and reads again. Every call returns
// within the write bound plus a margin, and the far end checks each time that the panel gets the
// initialisation and the host's frames byte for byte.
void run_port_comes_back(const char *driver_path, const char *port, const char *dir) {
    constexpr double BOUND_MS = lcd::WRITE_TIMEOUT_MS + 1000.0;
    Driver driver(driver_path);
    check(driver.loaded(), "the driver loads for the port that comes and goes");
    if (!driver.loaded())
        return;
    char name[32];
    std::snprintf(name, sizeof name, " %s: ", port);
    for (char *c = name; *c != '\0'; ++c)
        *c = static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    check(driver.set_up(name, 1, 0x31) == 1, "a set-up before the port is there fails to open");
    raise_signal(dir, "set-up-failed");

    static std::uint8_t image[lcd::IMAGE_SIZE];
    double longest = 0;
    lcd::test::fill_test_image(image, 1, 300);
    bool ok = draw_until(driver, image, dir, "late-drawn", longest);
    char what[200];
    std::snprintf(what, sizeof what,
                  "the port that appeared after the set-up draws (\"%s\"); longest call %.0f ms",
                  name, longest);
    check(ok && longest < BOUND_MS, what);

    // Pulled out while the host is idle, and the host picks another port: the held port's
    // device is gone, so that call is a first set-up, and COM99 is not there (1, with the OS
    // error); its name is the one kept. While the port is away every frame call says why (the
    // thread's last error). The adapter then comes back as the port first named, which the
    // host picks: that call opens it at once.
    ok = wait_for_signal(dir, "unplugged");
    const bool missing = driver.set_up("COM99", 1, 0x66) == 1;
    const DWORD missing_error = GetLastError();
    ok = ok && missing && missing_error != 0;
    longest = 0;
    for (int i = 0; i < 8; ++i) {
        const double start = now_ms();
        driver.frame(i % 4, 310 + static_cast<u32>(i));
        ok = ok && GetLastError() != 0;
        const double took = now_ms() - start;
        longest = took > longest ? took : longest;
        Sleep(20);
    }
    raise_signal(dir, "drawn-while-away");
    ok = ok && wait_for_signal(dir, "replugged") && driver.set_up(port, 1, 0x66) == 0;
    lcd::test::fill_test_image(image, 2, 320);
    ok = ok && draw_until(driver, image, dir, "replug-drawn", longest);
    std::snprintf(what, sizeof what,
                  "unplugged, COM99 picked before any frame (1, last error %lu), each frame "
                  "call then sets the last error, the adapter back and picked as %s: the panel "
                  "draws again; longest call %.0f ms",
                  static_cast<unsigned long>(missing_error), port, longest);
    check(ok && longest < BOUND_MS, what);

    // The far end no longer reads: frames full of escapes until one is cut by the write bound.
    int cut = -1;
    longest = 0;
    for (int i = 0; i < 40 && cut < 0; ++i) {
        const int q = i % 2 == 0 ? 1 : 3;
        const lcd::test::Image escapes =
            lcd::test::image_for_quadrant(q, lcd::test::escape_image());
        driver.set_up("COM99", 1, 0x77);
        const double start = now_ms();
        driver.frame(escapes.data());
        const double took = now_ms() - start;
        longest = took > longest ? took : longest;
        cut = took >= 0.9 * lcd::WRITE_TIMEOUT_MS ? q : -1;
    }
    raise_signal(dir, cut == 3 ? "cut3" : "cut1");
    ok = cut >= 0;
    if (ok) {
        const lcd::test::Image escapes =
            lcd::test::image_for_quadrant(cut, lcd::test::escape_image());
        ok = draw_until(driver, escapes.data(), dir, "redrawn", longest);
    }
    std::snprintf(what, sizeof what,
                  "a frame cut short by a far end that stopped reading (quadrant %d) reaches the "
                  "panel with its setting once it reads again; longest call %.0f ms",
                  cut, longest);
    check(ok && longest < BOUND_MS, what);
    check(driver.unload(), "FreeLibrary unloads the driver after the port came back");
}

// Two host threads on the port that comes and goes (far_end_two_threads on the Linux side): a
// timer thread draws while this one, the UI thread, draws too and sets the port up again. Half
// way the far end pulls the adapter out and plugs a new one in under the same name; the calls
// after that are paced to span the driver's retry interval twice (Wine may answer a write to
// the pulled port as cut short, and the retry then counts from the write bound). The far end
// counts the broken records on both terminals.
constexpr int THREAD_CALLS = 60;
constexpr int THREAD_PULL_AT = 30;

struct TwoThreads {
    const Driver *driver;
    std::uint8_t images[4][lcd::IMAGE_SIZE];
};

void pace_thread_call(int i) {
    if (i >= THREAD_PULL_AT)
        Sleep(80);
}

DWORD WINAPI draw_as_timer(void *arg) {
    const auto *run = static_cast<const TwoThreads *>(arg);
    for (int i = 0; i < THREAD_CALLS; ++i) {
        run->driver->frame(run->images[i % 2]);
        pace_thread_call(i);
    }
    return 0;
}

void run_two_threads(const char *driver_path, const char *port, const char *dir) {
    bool ok = wait_for_signal(dir, "threads-ready");
    Driver driver(driver_path);
    check(ok && driver.loaded(), "the driver loads for two host threads");
    if (!driver.loaded())
        return;
    static TwoThreads run;
    run.driver = &driver;
    for (int q = 0; q < 4; ++q)
        lcd::test::fill_test_image(run.images[q], q, 400 + static_cast<u32>(q));
    const HANDLE timer = CreateThread(nullptr, 0, draw_as_timer, &run, 0, nullptr);
    for (int i = 0; i < THREAD_CALLS; ++i) {
        if (i == THREAD_PULL_AT) {
            raise_signal(dir, "pull");
            ok = wait_for_signal(dir, "plugged") && ok;
        }
        driver.set_up(port, 1, 0x20 + static_cast<u32>(i % 16));
        driver.frame(run.images[2 + i % 2]);
        pace_thread_call(i);
    }
    ok = timer != nullptr && WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0 && ok;
    if (timer != nullptr)
        CloseHandle(timer);
    check(driver.unload() && ok,
          "two host threads draw and set up while the port is pulled out and plugged in again");
    raise_signal(dir, "threads-done");
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 && argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: %s DRIVER.dll [COMn SIGNAL CYCLES [COMm SYNC_DIR]]\n",
                     argv[0]);
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
        if (argc >= 5) {
            run_session(argv[1], argv[2], argv[3]);
            run_soak(argv[1], argv[2], static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
            run_stalled(argv[1], argv[2], argv[3]);
        }
        if (argc == 7) {
            run_port_comes_back(argv[1], argv[5], argv[6]);
            run_two_threads(argv[1], argv[5], argv[6]);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
