#include "link/port_name.h"

#include <gtest/gtest.h>

#include <string>

namespace lcd {
namespace {

// Port names as hosts write them all reach the port through the device namespace.
TEST(DevicePath, ComNamesGoThroughTheDeviceNamespace) {
    struct Case {
        const char *name;
        const char *path;
    };
    for (const Case &c :
         {Case{"COM3", R"(\\.\COM3)"}, Case{"com3", R"(\\.\com3)"}, Case{"COM12", R"(\\.\COM12)"},
          Case{"COM12:", R"(\\.\COM12)"}, Case{" COM3 ", R"(\\.\COM3)"},
          Case{R"(\\.\COM12)", R"(\\.\COM12)"}, Case{"\tcom255:  ", R"(\\.\com255)"},
          Case{"COM1234567890", R"(\\.\COM1234567890)"}}) {
        char out[DEVICE_PATH_CAPACITY];
        EXPECT_EQ(std::string(device_path(c.name, out)), c.path) << '"' << c.name << '"';
    }
}

TEST(DevicePath, OtherNamesPassUnchanged) {
    for (const char *name : {"COM", "COM1::", "COMX", "COM 1", "LPT1", "/dev/ttyUSB0", "",
                             "COM12345678901", "xCOM1", R"(\\.\LPT1)", R"(\\?\COM3)"}) {
        char out[DEVICE_PATH_CAPACITY];
        EXPECT_EQ(device_path(name, out), name) << '"' << name << '"';
    }
    char out[DEVICE_PATH_CAPACITY];
    EXPECT_EQ(device_path(nullptr, out), nullptr);
}

} // namespace
} // namespace lcd
