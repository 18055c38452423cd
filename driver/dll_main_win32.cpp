// Windows load and unload. Loading needs nothing. An unload by FreeLibrary lets go of the
// port, so a host that loads the driver again (switching drivers, reloading its settings) can
// open it; the sign-off it sends first is bounded like every write (WRITE_TIMEOUT_MS), so a
// far end that stopped reading cannot hold the loader lock. At process exit (a non-null
// reserved pointer) the process releases everything and the driver must not touch other
// modules, so it does nothing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "port_setup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        lcd::shutdown_port(lcd::module_state());
    return TRUE;
}
