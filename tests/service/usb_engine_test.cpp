// Port selection of the serial engine, over ports registered with the
// platform's device database (SetupAPI under Wine, a fake sysfs tree on
// Linux), and the name and description rules it applies.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_ports.h"
#include "serial/port_enumerator.h"
#include "serial/usb_engine.h"

namespace {

void IgnoreBytes(const uint8_t*, int) {}

TEST(ComPortName, DigitsAndColonsAfterComInAnyCase)
{
    EXPECT_EQ(7, ComPortNumber("COM7"));
    EXPECT_EQ(7, ComPortNumber("com7"));
    EXPECT_EQ(7, ComPortNumber("cOm7"));
    EXPECT_EQ(12, ComPortNumber("COM12:"));
    EXPECT_EQ(0, ComPortNumber("COM:"));
    EXPECT_EQ(250, ComPortNumber("COM250"));
}

TEST(ComPortName, OtherNamesAreNotComPorts)
{
    for (const char* name : {"", "CO", "COM", "COMX", "COM1a", "COM 1", "COM-1", "COM+1",
                             "LPT1", "XCOM1", "COM１"})
        EXPECT_EQ(-1, ComPortNumber(name)) << name;
    // A number beyond an int names no port; it must not wrap into one.
    EXPECT_EQ(-1, ComPortNumber("COM4294967303"));
    EXPECT_EQ(-1, ComPortNumber("COM99999999999999999999"));
    EXPECT_FALSE(IsComSuffix(""));
    EXPECT_TRUE(IsComSuffix(":"));
    EXPECT_TRUE(IsComSuffix("0:1"));
}

TEST(PhoneDescription, NokiaWithoutModemInAnyCase)
{
    EXPECT_TRUE(IsPhoneDescription("Nokia Phone Serial"));
    EXPECT_TRUE(IsPhoneDescription("NOKIA USB Generic"));
    EXPECT_FALSE(IsPhoneDescription("Nokia Phone USB Modem"));
    EXPECT_FALSE(IsPhoneDescription("nOKIA pHONE usb MoDeM"));
    EXPECT_FALSE(IsPhoneDescription("USB Serial Port"));
    EXPECT_FALSE(IsPhoneDescription("Nok ia"));
    EXPECT_FALSE(IsPhoneDescription(""));
}

class SerialEngineTest : public ::testing::Test {
protected:
    // Port names in the order the platform enumerates them.
    std::vector<std::string> EnumeratedNames()
    {
        std::vector<std::string> names;
        CPortEnumerator ports;
        char name[PORT_TEXT_SIZE];
        if (ports.Begin()) {
            while (ports.Next()) {
                if (ports.ReadPortName(name))
                    names.push_back(name);
            }
            ports.End();
        }
        return names;
    }

    CFakePorts fake;
};

TEST_F(SerialEngineTest, NothingMatchingGivesMinusOne)
{
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(-1, engine.FindPort());
    ASSERT_TRUE(fake.Add("COM3", "Communications Port"));
    ASSERT_TRUE(fake.Add("COM4", "Nokia Phone USB Modem"));
    EXPECT_EQ(-1, engine.FindPort());
}

TEST_F(SerialEngineTest, LastMatchingPortInEnumerationOrderWins)
{
    ASSERT_TRUE(fake.Add("COM3", "Nokia Phone Serial"));
    ASSERT_TRUE(fake.Add("COM5", "Nokia Handset Serial"));
    ASSERT_TRUE(fake.Add("COM6", "Communications Port"));
    std::vector<std::string> names = EnumeratedNames();
    int expected = -1;
    for (const std::string& name : names) {
        if (name != "COM6")
            expected = ComPortNumber(name.c_str());
    }
    ASSERT_NE(-1, expected);
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(expected, engine.FindPort());

    // Both orders are checked: once the winner is gone, the other one wins.
    fake.Remove(expected == 3 ? "COM3" : "COM5");
    EXPECT_EQ(expected == 3 ? 5 : 3, engine.FindPort());
}

TEST_F(SerialEngineTest, ModemPortSkippedWhateverItsCase)
{
    ASSERT_TRUE(fake.Add("COM4", "NOKIA PHONE USB MoDeM"));
    ASSERT_TRUE(fake.Add("COM6", "Nokia Phone Serial"));
    ASSERT_TRUE(fake.Add("COM8", "nokia phone usb modem"));
    CUSBEngine engine(IgnoreBytes);
    EXPECT_EQ(6, engine.FindPort());
}

TEST_F(SerialEngineTest, PresenceFollowsTheNumberConnectStored)
{
    ASSERT_TRUE(fake.Add("COM87", "Nokia Phone Serial"));
    CUSBEngine engine(IgnoreBytes);
    // No Connect yet: a matching port does not count.
    EXPECT_FALSE(engine.IsPresent());
    EXPECT_EQ(-1, engine.PortNumber());

    // The port is listed but has no device that opens: the number stays.
    EXPECT_FALSE(engine.Connect());
    EXPECT_EQ(87, engine.PortNumber());
    EXPECT_TRUE(engine.IsPresent());

    // A search that yields another phone port does not count as present.
    ASSERT_TRUE(fake.Add("COM88", "Nokia Phone Serial"));
    fake.Remove("COM87");
    EXPECT_FALSE(engine.IsPresent());
    EXPECT_EQ(87, engine.PortNumber());
    fake.Remove("COM88");
    EXPECT_FALSE(engine.IsPresent());

    EXPECT_FALSE(engine.Connect());
    EXPECT_EQ(-1, engine.PortNumber());
}

}  // namespace
