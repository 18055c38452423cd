// Windows load and unload. Loading needs nothing (the driver's lock is a constant). An unload
// by FreeLibrary closes the port, so a host that loads the driver again (switching
// drivers, reloading its settings) can open it. It runs under the loader lock, which every
// thread start and exit in the host waits for: the sign-off waits for the port at most
// SIGN_OFF_TIMEOUT_MS, and none is sent on a cut stream. At process exit (a non-null reserved
// pointer) the process releases everything and the driver must not touch other modules, so it
// does nothing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "lock_clock_error.h"
#include "port_keeper.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        const lcd::DriverLock lock;
        lcd::close_port_at_unload(lcd::module_state());
    }
    return TRUE;
}
