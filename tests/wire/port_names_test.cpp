// Which file names open a COM port, and the places an author names.
#include <gtest/gtest.h>

#include "wire/port_names.h"

using nbwire::PortOfFileName;

TEST(PortNames, EveryNameWindowsOpensAPortUnderNamesIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "COM1"},          {"com9", "COM9"},           {"COM1:", "COM1"},
      {"COM1.0", "COM1"},        {"COM1.txt", "COM1"},       {"COM1.tar.gz", "COM1"},
      {"COM1 ", "COM1"},         {"COM1  .log", "COM1"},     {"COM1:stream", "COM1"},
      {"C:\\dir\\COM2.log", "COM2"}, {"dir/com3", "COM3"},   {"C:COM4", "COM4"},
      {"\\\\.\\COM1", "COM1"},   {"\\\\.\\COM12", "COM12"},  {"\\\\.\\com256", "COM256"},
      {"\\\\.\\COM12 ", "COM12"}, {"\\\\.\\COM12.", "COM12"}, {"//./COM12", "COM12"},
      {"\\\\?\\COM12", "COM12"},
  };
  for (const auto& c : cases) EXPECT_EQ(PortOfFileName(c.first), c.second) << c.first;
}

TEST(PortNames, OtherNamesAreFiles) {
  for (const char* name : {"COM12", "COM01", "COM0", "COM", "COM1abc", " COM1", "COM10.txt", "xCOM1",
                           "COM1\\x", "COM1\\", "\\\\server\\share\\COM1", "\\\\.\\COM12.0", "\\\\.\\COM012",
                           "\\\\.\\COM0", "\\\\?\\COM12 ", "\\\\.\\COM12\\x", "LPT1", "COM\xB9", ""}) {
    EXPECT_EQ(PortOfFileName(name), "") << name;
  }
}

TEST(PortNames, NamesWindowsTakesForDevices) {
  for (const char* device :
       {"NUL", "nul.dev", "Nul.tar.gz", "C:\\dir\\aux.log", "dir/con", "CON ", "con .txt", "prn:",
        "com2.dev", "COM9", "lpt1.nbs", "LPT9", "COM\xB9", "lpt\xB3.log", "com\xC2\xB2.dev", "CONIN$",
        "conout$.txt", "\\\\.\\COM1", "\\\\.\\PhysicalDrive0", "\\\\?\\COM3"}) {
    EXPECT_TRUE(nbwire::NamesWindowsDevice(device)) << device;
  }
  for (const char* file :
       {"null.dev", "nul_", "xnul.dev", "COM10.dev", "COM0", "LPT0", "com12", "console.log", "CONIN",
        "COM\xB4", "COM\xC2\xB4", "dir\\nul\\scale.dev", "\\\\server\\share\\nul",
        "\\\\?\\C:\\dir\\nul.dev", " nul", "scale.dev", ""}) {
    EXPECT_FALSE(nbwire::NamesWindowsDevice(file)) << file;
  }
}

TEST(PortNames, PlacesAnAuthorNames) {
  EXPECT_EQ(nbwire::NamedPort("COM12"), "COM12");
  EXPECT_EQ(nbwire::NamedPort(" com3 "), "COM3");
  EXPECT_EQ(nbwire::NamedPort("\\\\.\\COM12"), "COM12");
  for (const char* other : {"LPT1", "COM0", "COM01", "COM1:", "COM1.0", "127.0.0.7:5000", ""}) {
    EXPECT_EQ(nbwire::NamedPort(other), "") << other;
  }

  nbwire::ServerAddress address;
  ASSERT_TRUE(nbwire::ParseServerAddress(" 127.0.0.7:5000 ", address));
  EXPECT_EQ(address.host, "127.0.0.7");
  EXPECT_EQ(address.port, 5000);
  EXPECT_EQ(nbwire::ServerName(address), "127.0.0.7:5000");
  ASSERT_TRUE(nbwire::ParseServerAddress("Scale.Local:65535", address));
  EXPECT_EQ(address.host, "Scale.Local");
  for (const char* other : {"COM1", ":5000", "host:", "host:0", "host:65536", "host:5x", "a b:1", "a,b:1",
                            "host:123456"}) {
    EXPECT_FALSE(nbwire::ParseServerAddress(other, address)) << other;
  }

  uint8_t bytes[4];
  ASSERT_TRUE(nbwire::DottedAddress("127.0.0.7", bytes));
  EXPECT_EQ(bytes[0], 127);
  EXPECT_EQ(bytes[3], 7);
  for (const char* other : {"127.0.0", "127.0.0.256", "127.0.0.7.1", "localhost", "1.2.3.", "1..2.3"}) {
    EXPECT_FALSE(nbwire::DottedAddress(other, bytes)) << other;
  }
  EXPECT_TRUE(nbwire::SameHost("Scale.LOCAL", "scale.local"));
  EXPECT_FALSE(nbwire::SameHost("scale.local", "scale.loca"));
}
