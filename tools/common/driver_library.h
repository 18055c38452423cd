// The driver library loaded at run time, as a host loads it: by path (UTF-8; on Windows through
// the wide API, so any name Windows allows works), its exports found by name, and unloaded when
// the object goes (the driver then signs off and lets go of the port). lcdtest and the native
// tests load the driver through it. One implementation per platform: driver_library_posix.cpp
// (dlopen), driver_library_win32.cpp (LoadLibraryW).
#pragma once

#include <cstring>
#include <string>

namespace lcd::tool {

class DriverLibrary {
  public:
    explicit DriverLibrary(const std::string &path);
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why the load failed, in words: the system loader's own on Linux; on Windows what the
    // code means here (no such file, a DLL it needs missing, built for the other width).
    const std::string &error() const { return error_; }
    // The export's address, or null when there is none by that name.
    void *symbol(const char *name) const;
    // The export as a pointer to `F`, a function type taken from the driver's declarations.
    template <class F> F *fn(const char *name) const {
        void *const address = symbol(name);
        F *f = nullptr;
        static_assert(sizeof f == sizeof address);
        std::memcpy(&f, &address, sizeof f);
        return f;
    }

  private:
    void *handle_ = nullptr;
    std::string error_;
};

} // namespace lcd::tool
