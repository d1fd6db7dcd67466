// Serial ports from the sysfs device database: the tty to COM number mapping,
// the device node path, and descriptions built from the USB strings.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fake_ports.h"
#include "serial/com_map.h"
#include "serial/port_enumerator.h"
#include "serial/usb_engine.h"

namespace {

void IgnoreBytes(const uint8_t*, int) {}

TEST(ComMap, EveryNumberMapsToOneDeviceAndBack)
{
    char name[32];
    int mapped = 0;
    for (int n = -2; n <= 400; ++n) {
        if (!TtyNameForCom(n, name, sizeof(name)))
            continue;
        ++mapped;
        EXPECT_EQ(n, ComNumberForTty(name)) << name;
    }
    EXPECT_EQ(300, mapped);
    EXPECT_EQ(1, ComNumberForTty("ttyS0"));
    EXPECT_EQ(101, ComNumberForTty("ttyUSB0"));
    EXPECT_EQ(201, ComNumberForTty("ttyACM0"));
    EXPECT_EQ(300, ComNumberForTty("ttyACM99"));
}

TEST(ComMap, UnmappedNames)
{
    for (const char* tty : {"tty0", "ttyS", "ttyS01", "ttyS100", "ttyACM-1", "ttyACM1x",
                            "ttyAMA0", "console", "ptmx", "ttyUSB 1"})
        EXPECT_EQ(-1, ComNumberForTty(tty)) << tty;
    char small[6];
    EXPECT_FALSE(TtyNameForCom(201, small, sizeof(small)));
}

TEST(ComMap, DevicePathUnderTheRoot)
{
    char path[64];
    unsetenv("OVALIX_DEVICE_ROOT");
    ASSERT_TRUE(ComDevicePath(201, path, sizeof(path)));
    EXPECT_STREQ("/dev/ttyACM0", path);
    setenv("OVALIX_DEVICE_ROOT", "/tmp/fake//", 1);
    ASSERT_TRUE(ComDevicePath(7, path, sizeof(path)));
    EXPECT_STREQ("/tmp/fake/dev/ttyS6", path);
    EXPECT_FALSE(ComDevicePath(301, path, sizeof(path)));
    char tight[16];
    EXPECT_FALSE(ComDevicePath(201, tight, sizeof(tight)));
    unsetenv("OVALIX_DEVICE_ROOT");
}

class SysfsPortsTest : public ::testing::Test {
protected:
    // The description the enumerator gives for a port name, or "-" when the
    // port is not listed.
    std::string Description(const char* portName)
    {
        CPortEnumerator ports;
        char name[PORT_TEXT_SIZE];
        char text[PORT_TEXT_SIZE];
        std::string result = "-";
        if (!ports.Begin())
            return result;
        while (ports.Next()) {
            if (ports.ReadPortName(name) && strcmp(name, portName) == 0 &&
                ports.ReadDescription(text))
                result = text;
        }
        ports.End();
        return result;
    }

    CFakePorts fake;
};

TEST_F(SysfsPortsTest, PhoneWithModemAndSerialInterfaces)
{
    ASSERT_TRUE(fake.AddUsbTty("ttyACM0", "1-2", "Nokia", "Nokia Phone", 0, "Nokia Phone USB Modem", 1,
                               false));
    ASSERT_TRUE(fake.AddUsbTty("ttyACM1", "1-2", "Nokia", "Nokia Phone", 2, "Nokia Phone Serial", 0xff,
                               false));
    EXPECT_EQ("Nokia Nokia Phone Nokia Phone USB Modem", Description("COM201"));
    EXPECT_EQ("Nokia Nokia Phone Nokia Phone Serial", Description("COM202"));
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(202, engine.FindPort());
}

TEST_F(SysfsPortsTest, AtCommandInterfaceWithoutStringIsAModem)
{
    ASSERT_TRUE(fake.AddUsbTty("ttyACM3", "1-4", "Nokia", "Nokia Handset", 1, "", 2, false));
    EXPECT_EQ("Nokia Nokia Handset Modem", Description("COM204"));
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(-1, engine.FindPort());

    // The same interface without an AT command set is the data port.
    ASSERT_TRUE(fake.AddUsbTty("ttyACM4", "1-5", "Nokia", "Nokia Handset", 3, "", 0, false));
    EXPECT_EQ("Nokia Nokia Handset", Description("COM205"));
    EXPECT_EQ(205, engine.FindPort());
}

TEST_F(SysfsPortsTest, ConverterPortReadsTheStringsOneLevelHigher)
{
    ASSERT_TRUE(fake.AddUsbTty("ttyUSB2", "1-6", "NOKIA", "Cable", 0, "", -1, true));
    EXPECT_EQ("NOKIA Cable", Description("COM103"));
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(103, engine.FindPort());
}

TEST_F(SysfsPortsTest, TtysWithoutHardwareOrNumberAreSkipped)
{
    // A virtual terminal: a class entry with no device link.
    std::string tty0 = std::string(fake.Root()) + "/sys/class/tty/tty0";
    ASSERT_EQ(0, mkdir(tty0.c_str(), 0755));
    EXPECT_EQ("-", Description("COM0"));
    // Hardware with the right strings but a tty family outside the mapping.
    ASSERT_TRUE(fake.AddUsbTty("ttyAMA0", "1-7", "Nokia", "Nokia Phone", 0, "", -1, false));
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(-1, engine.FindPort());
    // A tree without the class directory gives no list at all.
    std::string classDir = std::string(fake.Root()) + "/sys/class/tty";
    ASSERT_EQ(0, rename(classDir.c_str(), (classDir + ".gone").c_str()));
    CPortEnumerator ports;
    EXPECT_FALSE(ports.Begin());
    EXPECT_FALSE(ports.Next());
}

TEST_F(SysfsPortsTest, LongStringsAreCutToTheDescriptionSize)
{
    std::string longText(200, 'n');
    ASSERT_TRUE(fake.AddUsbTty("ttyACM7", "1-8", longText.c_str(), longText.c_str(), 0, "Nokia",
                               -1, false));
    std::string text = Description("COM208");
    EXPECT_EQ(static_cast<size_t>(PORT_TEXT_SIZE - 1), text.size());
    // Attribute reads are bounded too, so the string is cut before "Nokia".
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(-1, engine.FindPort());
}

}  // namespace
