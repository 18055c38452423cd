#include "link/port_name.h"

#include <gtest/gtest.h>

#include <string>

namespace lcd {
namespace {

TEST(DevicePath, BareComNamesGoThroughTheDeviceNamespace) {
    struct Case {
        const char *name;
        const char *path;
    };
    for (const Case &c : {Case{"COM1", R"(\\.\COM1)"}, Case{"COM10", R"(\\.\COM10)"},
                          Case{"com255", R"(\\.\com255)"}, Case{"Com3", R"(\\.\Com3)"},
                          Case{"COM1234567890", R"(\\.\COM1234567890)"}}) {
        char out[DEVICE_PATH_CAPACITY];
        EXPECT_EQ(std::string(device_path(c.name, out)), c.path) << c.name;
    }
}

TEST(DevicePath, OtherNamesPassUnchanged) {
    for (const char *name : {R"(\\.\COM12)", "COM", "COM1:", "COMX", "LPT1", "/dev/ttyUSB0", "",
                             "COM12345678901", "xCOM1"}) {
        char out[DEVICE_PATH_CAPACITY];
        EXPECT_EQ(device_path(name, out), name) << name;
    }
    char out[DEVICE_PATH_CAPACITY];
    EXPECT_EQ(device_path(nullptr, out), nullptr);
}

} // namespace
} // namespace lcd
