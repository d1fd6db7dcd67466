// The "Ports" class through SetupAPI: port names and descriptions as the
// registry holds them, including values of the wrong type.

#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>

#include "fake_ports.h"
#include "serial/usb_engine.h"

namespace {

void IgnoreBytes(const uint8_t*, int) {}

// Overwrites a value of a registered device: its device key (DIREG_DEV) or
// its own key under Enum, where SetupAPI keeps the registry properties.
bool SetDeviceValue(const char* id, bool deviceKey, const char* name, DWORD type,
                    const void* bytes, DWORD size)
{
    HKEY key = nullptr;
    HDEVINFO set = INVALID_HANDLE_VALUE;
    if (deviceKey) {
        set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof(data);
        if (!SetupDiOpenDeviceInfoA(set, id, nullptr, 0, &data)) {
            SetupDiDestroyDeviceInfoList(set);
            return false;
        }
        key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_SET_VALUE);
        if (key == INVALID_HANDLE_VALUE)
            key = nullptr;
    } else {
        char path[256];
        snprintf(path, sizeof(path), "System\\CurrentControlSet\\Enum\\%s", id);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            key = nullptr;
    }
    bool ok = key != nullptr &&
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(bytes), size) ==
                  ERROR_SUCCESS;
    if (key != nullptr)
        RegCloseKey(key);
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    return ok;
}

class SetupApiPortsTest : public ::testing::Test {
protected:
    CFakePorts fake;
};

TEST_F(SetupApiPortsTest, PortNamesAsRegistered)
{
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {{"COM7", 7}, {"com7", 7}, {"COM12:", 12}, {"COM", -1},
                          {"COMX", -1}, {"COM1a", -1}, {"LPT1", -1}};
    CUSBEngine engine(IgnoreBytes);
    for (const Case& c : cases) {
        ASSERT_TRUE(fake.Add(c.name, "Nokia Phone Serial")) << c.name;
        EXPECT_EQ(c.expected, engine.FindPort()) << c.name;
        fake.Remove(c.name);
        EXPECT_EQ(-1, engine.FindPort()) << c.name;
    }
}

TEST_F(SetupApiPortsTest, ValuesOfAnotherTypeAreIgnored)
{
    char id[64];
    ASSERT_TRUE(RegisterFakePort("COM9", "Nokia Phone Serial", id));
    CUSBEngine engine(IgnoreBytes);
    ASSERT_EQ(9, engine.FindPort());

    const char description[] = "Nokia Phone Serial";
    ASSERT_TRUE(SetDeviceValue(id, false, "DeviceDesc", REG_BINARY, description,
                               sizeof(description)));
    EXPECT_EQ(-1, engine.FindPort());
    ASSERT_TRUE(SetDeviceValue(id, false, "DeviceDesc", REG_MULTI_SZ, "Nokia Phone Serial\0",
                               sizeof(description) + 1));
    EXPECT_EQ(-1, engine.FindPort());
    ASSERT_TRUE(SetDeviceValue(id, false, "DeviceDesc", REG_SZ, description, sizeof(description)));
    ASSERT_EQ(9, engine.FindPort());

    ASSERT_TRUE(SetDeviceValue(id, true, "PortName", REG_EXPAND_SZ, "COM9", 5));
    EXPECT_EQ(-1, engine.FindPort());
}

}  // namespace
