#include "driver_library.h"

#include <dlfcn.h>

namespace lcd::tool {

DriverLibrary::DriverLibrary(const std::string &path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr)
        error_ = dlerror();
}

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

void *DriverLibrary::symbol(const char *name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

} // namespace lcd::tool
