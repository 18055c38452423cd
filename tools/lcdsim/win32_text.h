// lcdsim on Windows: the tools' UTF-8 conversions (utf8_win32.h) and the system's error as words
// (os_text.h), by the names lcdsim's Windows files use.
#pragma once

#include "os_text.h"
#include "utf8_win32.h"

namespace lcd::sim {

using lcd::tool::narrow;
using lcd::tool::system_error_text;
using lcd::tool::widen;

} // namespace lcd::sim
