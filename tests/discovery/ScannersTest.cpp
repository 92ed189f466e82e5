// Device properties and network addresses against the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "discovery/Scanners.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/SimLog.h"

namespace {

using kvd::platform::kHkeyLocalMachine;

const std::wstring kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0007";
const std::wstring kDeviceData =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}"
    L"\\0007\\Devicedata";
const std::wstring kPrinters = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

class Scanners : public ::testing::Test {
 protected:
  void AddPrinter(const std::wstring& name, const std::wstring& processor,
                  const std::wstring& port) {
    sim_.Registry().PutString(kHkeyLocalMachine, kPrinters + L"\\" + name, L"Print Processor",
                              processor);
    sim_.Registry().PutString(kHkeyLocalMachine, kPrinters + L"\\" + name, L"Port", port);
  }

  kvd::sim::SimMachine sim_;
  CScanners scanners_{sim_.Ports()};
};

TEST_F(Scanners, ModelFromTheDriversData) {
  EXPECT_EQ(scanners_.GetModel(kDriverKey), L"");
  sim_.Registry().PutString(kHkeyLocalMachine, kDeviceData, L"ModelString", L"QX-2400");
  EXPECT_EQ(scanners_.GetModel(kDriverKey), L"QX-2400");
}

TEST_F(Scanners, OstrelDevicesAreKnownByTheirProductsConfiguration) {
  struct Case {
    const char* name;
    bool wow64;
    std::wstring configFolder;
    std::string config;
    bool productFolder;
    std::wstring description;
    bool ostrel;
  };
  const Case cases[] = {
      {"64-bit program folder under WOW64", true, L"C:\\Program Files\\QV\\OstrelQX",
       "[DeviceInfo]\r\nModelName = QX-800 \r\n", true, L" Quvari QX-800 Series ", true},
      {"32-bit Windows: its one program folder", false, L"C:\\Program Files\\QV\\OstrelQX",
       "[DeviceInfo]\r\nModelName=QX-800\r\n", true, L"Quvari QX-800", true},
      {"another model", true, L"C:\\Program Files\\QV\\OstrelQX",
       "[DeviceInfo]\r\nModelName=QX-900\r\n", true, L"Quvari QX-800", false},
      {"no model name", true, L"C:\\Program Files\\QV\\OstrelQX", "[DeviceInfo]\r\n", true,
       L"Quvari QX-800", false},
      {"an empty config.ini", true, L"C:\\Program Files\\QV\\OstrelQX", "", true, L"Quvari QX-800",
       false},
      {"the model in another section", true, L"C:\\Program Files\\QV\\OstrelQX",
       "[Device]\r\nModelName=QX-800\r\n", true, L"Quvari QX-800", false},
      {"no config.ini", true, L"C:\\Program Files\\QV\\Elsewhere",
       "[DeviceInfo]\r\nModelName=QX-800\r\n", true, L"Quvari QX-800", false},
      {"no product folder", true, L"C:\\Program Files\\QV\\OstrelQX",
       "[DeviceInfo]\r\nModelName=QX-800\r\n", false, L"Quvari QX-800", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.System().SetWow64(c.wow64);
    if (c.productFolder) {
      sim.Registry().PutString(kHkeyLocalMachine, kDeviceData, L"ProductFolder", L"OstrelQX");
    }
    sim.Files().PutFile(c.configFolder + L"\\config.ini", Text(c.config));
    EXPECT_EQ(CScanners(sim.Ports()).IsOstrelDevice(kDriverKey, c.description), c.ostrel);
  }
}

TEST(ScannerPorts, NormalisedToAnAddress) {
  struct Case {
    const wchar_t* port;
    const wchar_t* address;
  };
  const Case cases[] = {{L"IP_192.168.1.20", L"192.168.1.20"},
                        {L"IP_192.168.1.20_1", L"192.168.1.20"},
                        {L"PI_10.0.0.1", L"10.0.0.1"},
                        {L"scanner-7_2", L"scanner-7"},
                        {L"IP_", L""},
                        {L"_", L""},
                        {L"USB001", L"USB001"},
                        {L"IP_ 10.0.0.2 _1", L"10.0.0.2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(c.port));
    EXPECT_EQ(CScanners::NormalisePort(c.port), c.address);
  }
}

TEST_F(Scanners, NetworkAddressFromThePrinters) {
  std::wstring address;
  EXPECT_FALSE(scanners_.GetIPAddress({}, L"2400", address));  // no printer list at all

  AddPrinter(L"Quvari Fax 2400", L"qv2400print", L"IP_10.0.0.1");
  AddPrinter(L"Quvari QX-2400 (USB)", L"qv2400print", L"USB001");
  AddPrinter(L"Quvari QX-2400", L"qv2400print", L"IP_10.0.0.5_1");
  AddPrinter(L"Quvari QX-2400 (2)", L"qv2400print", L"IP_10.0.0.6");
  AddPrinter(L"Other printer", L"winprint", L"IP_10.0.0.9");

  EXPECT_TRUE(scanners_.GetIPAddress({}, L"2400", address));
  EXPECT_EQ(address, L"10.0.0.5");

  // Two devices of the same model get two addresses; a third gets none.
  _DeviceDetails first;
  first.strIpAddress = L"10.0.0.5";
  EXPECT_TRUE(scanners_.GetIPAddress({first}, L"2400", address));
  EXPECT_EQ(address, L"10.0.0.6");
  _DeviceDetails second;
  second.strIpAddress = L" 10.0.0.6 ";
  address = L"unchanged";
  EXPECT_FALSE(scanners_.GetIPAddress({first, second}, L"2400", address));
  EXPECT_EQ(address, L"unchanged");

  // Digits are a case-sensitive part of the processor's name; no digits name no printer.
  EXPECT_FALSE(scanners_.GetIPAddress({}, L"9999", address));
  EXPECT_FALSE(scanners_.GetIPAddress({}, L"", address));
}

TEST_F(Scanners, OstrelAddressFromItsNetworkDevicesFile) {
  sim_.Registry().PutString(kHkeyLocalMachine, kDeviceData, L"ProductFolder", L" OstrelQX ");
  AddPrinter(L"Quvari OstrelQX 800", L"qvprint", L"IP_10.1.1.1");
  const std::wstring file = L"C:\\ProgramData\\QV\\ostrelqx\\NetworkDevices\\IP_10.1.1.1.ini";
  sim_.Files().PutFile(file, Text("[ScannerInfo]\r\nDeviceInstanceId=usb\\vid_1a2b&pid_0800\r\n"
                                  "[DeviceInfo]\r\nIPAddress= 10.1.1.1 \r\n"));
  EXPECT_EQ(scanners_.GetIPForQ7Devices(L"USB\\VID_1A2B&PID_0800\\6&1234", kDriverKey),
            L"10.1.1.1");
  EXPECT_EQ(scanners_.GetIPForQ7Devices(L"USB\\VID_1A2B&PID_0900\\6&1234", kDriverKey), L"");

  // A file without the device's id (or no file at all) names no device.
  sim_.Files().PutFile(file, Text("[DeviceInfo]\r\nIPAddress=10.1.1.1\r\n"));
  EXPECT_EQ(scanners_.GetIPForQ7Devices(L"USB\\VID_1A2B&PID_0800\\6&1234", kDriverKey), L"");
  sim_.Files().Remove(file);
  EXPECT_EQ(scanners_.GetIPForQ7Devices(L"USB\\VID_1A2B&PID_0800\\6&1234", kDriverKey), L"");

  // "IPAddress=" with nothing after it gives an empty address.
  sim_.Files().PutFile(
      file,
      Text("[ScannerInfo]\r\nDeviceInstanceId=usb\\vid_1a2b\r\n[DeviceInfo]\r\nIPAddress=\r\n"));
  EXPECT_EQ(scanners_.GetIPForQ7Devices(L"USB\\VID_1A2B&PID_0800\\6&1234", kDriverKey), L"");
}

// A printer list that cannot be opened yields no address, with the key in the log.
TEST(ScannerPrinters, AListThatCannotBeOpened) {
  kvd::sim::SimMachine sim;
  kvd::test::SimLog log(sim);
  sim.Registry().PutString(kHkeyLocalMachine, kPrinters + L"\\Quvari QX-2400", L"Port",
                           L"IP_10.0.0.5");
  sim.Registry().DenyAccess(kHkeyLocalMachine, kPrinters);
  std::wstring address;
  CScanners scanners(sim.Ports());
  EXPECT_FALSE(scanners.GetIPAddress({}, L"2400", address));
  EXPECT_EQ(scanners.GetIPForQ7Devices(L"ROOT\\IMAGE\\0000", kDriverKey), L"");
  const auto texts = log.Texts(L"DB");
  EXPECT_EQ(
      std::count(texts.begin(), texts.end(), L"Failed to open registry path.Path : " + kPrinters),
      2);
}

}  // namespace
