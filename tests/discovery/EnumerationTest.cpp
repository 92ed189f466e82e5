// Scanner enumeration over scenario machines: which devices are listed, with which family, names,
// model, port and address, and what the log says about the ones that are not.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/Scanners.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"
#include "tests/support/ExpectedDevices.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimStrings.h"

namespace {

using kvd::platform::kHkeyLocalMachine;

class Enumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    // Texts that differ from their keys, so that the connection texts are seen to come from
    // the table.
    ASSERT_TRUE(
        kvd::test::LoadTestStrings(sim_, {{"USB", "USB-text"}, {"NETWORK", "Network-text"}}));
  }

  std::vector<_DeviceDetails> Enumerate(std::initializer_list<const char*> scenarios) {
    for (const char* name : scenarios) kvd::test::ApplyNamed(name, sim_);
    log_.Take();
    std::vector<_DeviceDetails> devices;
    EXPECT_TRUE(CScanners(sim_.Ports()).EnumerateScanners(devices));
    return devices;
  }

  bool Logged(const std::wstring& tag, const std::wstring& text) {
    return kvd::test::SimLog::Contains(records_, tag, text);
  }
  void TakeLog() { records_ = log_.Take(); }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  std::vector<kvd::test::SimLog::Record> records_;
};

using kvd::test::ExpectDevice;

// The composite device itself is not listed, its print interface neither: only the Image
// interface, named after its parent's last id element.
TEST_F(Enumeration, AnAllInOneOnUsbIsItsImageInterface) {
  const auto devices = Enumerate({"usb-aio-composite.xml"});
  ASSERT_EQ(devices.size(), 1u);
  ExpectDevice(devices[0], {L"Quvari AIO 3400 Series",
                            L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000", L"5&2C1A3B&0&3",
                            L"USB-text", L"", L"AIO 3400", L"Quvari", false, false, false, false});
  EXPECT_EQ(devices[0].strHardwareId, L"usb\\vid_2f8d&pid_0105&rev_0100&mi_00");
  EXPECT_EQ(devices[0].strDeviceDesc, L"Quvari AIO 3400 Series");
  EXPECT_EQ(devices[0].strPnpName, L"Quvari AIO 3400 Series");
  EXPECT_EQ(devices[0].strService, L"usbscan");
  EXPECT_EQ(devices[0].strClass, L"Image");
  EXPECT_EQ(devices[0].strDriverKey, L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003");
  TakeLog();
  EXPECT_TRUE(Logged(L"I0", L"Enumerates scanners."));
  EXPECT_TRUE(Logged(L"I0", L"Searching installed USB scanners..."));
  EXPECT_TRUE(Logged(L"I0", L"Searching installed network scanners..."));
  EXPECT_TRUE(Logged(L"DB", L"Found device.Device Desc: quvari aio 3400 series"));
  EXPECT_TRUE(Logged(L"I0", L"Scanner found : Quvari AIO 3400 Series Connected at : USB"));
}

TEST_F(Enumeration, FamiliesOnUsbAndOnTheNetwork) {
  for (const char* scenario : kvd::test::kFamilyScenarios) kvd::test::ApplyNamed(scenario, sim_);
  const auto devices = Enumerate({});
  const auto expected = kvd::test::FamilyScenarioDevices(L"USB-text", L"Network-text");
  ASSERT_EQ(devices.size(), expected.size());
  for (std::size_t i = 0; i < devices.size(); ++i) ExpectDevice(devices[i], expected[i]);
  TakeLog();
  EXPECT_TRUE(Logged(L"I0", L"Gets the installed Tarvels"));
  EXPECT_TRUE(Logged(L"I0", L"Gets the installed Lumeqs"));
  EXPECT_TRUE(Logged(L"I0", L"IP:127.0.0.3"));
  EXPECT_TRUE(Logged(L"I0", L"Scanner found : Quvari QX-800 Connected at : 127.0.0.3"));
  EXPECT_TRUE(Logged(
      L"I0", L"Scanner found : Quvari AIO 4500 Series Connected at : ip=127.0.0.4,port=9100"));
}

// Windows 7 and later store the node's description and maker as "@oemNN.inf,%key%;Text": the
// maker, read from the node's key itself, counts by its text, and the description comes as text
// through the device-installation interface.
TEST_F(Enumeration, StoredFormsOfANetworkNode) {
  const auto devices = Enumerate({"network-aio-stored-forms.xml"});
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].strProvider, L"quvari imaging");
  EXPECT_EQ(devices[0].strDeviceDesc, L"Quvari AIO 4500 Series (network)");
  EXPECT_EQ(devices[0].strPnpName, L"Quvari AIO 4500 Series (network)");
  EXPECT_EQ(devices[0].strFriendlyName, L"");  // the driver names none
  EXPECT_EQ(devices[0].strIpAddress, L"ip=127.0.0.4,port=9100");
  TakeLog();
  EXPECT_TRUE(Logged(L"DB", L"Found device.Device Desc: quvari aio 4500 series (network)"));
}

// Two network Lumeqs of one model share the printers: the second gets the other address, and
// with a single printer it gets none.
TEST_F(Enumeration, NetworkLumeqsOfOneModelTakeDifferentPrinters) {
  kvd::test::ApplyNamed("network-lumeq.xml", sim_);
  auto& registry = sim_.Registry();
  const std::wstring second = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\0005";
  for (const auto& [name, value] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"ClassGUID", L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}"},
           {L"Class", L"Image"},
           {L"DeviceDesc", L"Quvari Lumeq LQ 5100 (second)"},
           {L"Driver", L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0031"},
           {L"Mfg", L"Quvari"}}) {
    registry.PutString(kHkeyLocalMachine, second, name, value);
  }
  registry.PutValue(kHkeyLocalMachine, second, L"HardwareID", kvd::platform::regtype::MultiSz,
                    kvd::platform::ToUtf16Bytes(L"qvlq_5100_net\n", true));
  auto devices = Enumerate({});
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].strIpAddress, L"127.0.0.2");
  EXPECT_EQ(devices[1].strIpAddress, L"");
  TakeLog();
  EXPECT_TRUE(Logged(
      L"DB", L"Failed to get the IP Address of the Lumeq device: Quvari Lumeq LQ 5100 (second)"));

  const std::wstring printers = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
  registry.PutString(kHkeyLocalMachine, printers + L"Quvari LQ 5100 PS", L"Print Processor",
                     L"qvlq5100pp");
  registry.PutString(kHkeyLocalMachine, printers + L"Quvari LQ 5100 PS", L"Port",
                     L"IP_127.0.0.5_1");
  devices = Enumerate({});
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].strIpAddress, L"127.0.0.2");
  EXPECT_EQ(devices[1].strIpAddress, L"127.0.0.5");
}

// The same device reached through two enumerators is listed twice.
TEST_F(Enumeration, ADeviceOnTwoEnumeratorsIsListedTwice) {
  kvd::test::ApplyNamed("usb-tarvel.xml", sim_);
  const std::wstring usb = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2F8D&PID_0200\\T200A0001";
  const std::wstring dot4 = L"SYSTEM\\CurrentControlSet\\Enum\\DOT4\\VID_2F8D&PID_0200\\T200A0001";
  for (const wchar_t* name : {L"ClassGUID", L"Class", L"HardwareID", L"DeviceDesc", L"Driver"}) {
    const auto value = sim_.Registry().GetValue(kHkeyLocalMachine, usb, name);
    ASSERT_TRUE(value);
    sim_.Registry().PutValue(kHkeyLocalMachine, dot4, name, value->type, value->bytes);
  }
  const auto devices = Enumerate({});
  const auto named = std::count_if(devices.begin(), devices.end(), [](const _DeviceDetails& d) {
    return d.strFriendlyName == L"Quvari Tarvel T200";
  });
  EXPECT_EQ(named, 2);
}

// Missing, mistyped and oversized USB data: each case skipped with its log line, or listed with
// what could be read; nothing else goes wrong.
TEST_F(Enumeration, BrokenUsbRegistrations) {
  const auto devices = Enumerate({"broken-usb.xml"});
  TakeLog();
  // No prefix: the interface of that composite device is not attributed.
  EXPECT_TRUE(
      Logged(L"DB",
             L"Failed to get Parentidprefix from registry for Enumerating the USB Scanners.Path : "
             L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2F8D&PID_0400\\5&00AA&0&1"));
  auto find = [&](const std::wstring& description) -> const _DeviceDetails* {
    for (const auto& device : devices) {
      if (device.strDeviceDesc.rfind(description, 0) == 0) return &device;
    }
    return nullptr;
  };
  EXPECT_EQ(find(L"Quvari AIO 1400"), nullptr);
  // Wrong value types: the provider empty, the name the description ("image" in any case).
  const auto* aio = find(L"Quvari AIO 1410");
  ASSERT_NE(aio, nullptr);
  EXPECT_EQ(aio->strProvider, L"");
  EXPECT_EQ(aio->strFriendlyName, L"Quvari AIO 1410");
  EXPECT_TRUE(
      Logged(L"DB", L"Failed to get ProviderName from registry for Enumerating the USB Scanners."));
  EXPECT_TRUE(
      Logged(L"DB", L"Failed to get FriendlyName from registry for Enumerating the USB Scanners."));
  // An empty hardware-id list does not name the maker's vendor.
  EXPECT_EQ(find(L"QV Tarvel T420"), nullptr);
  // A list without its NULs still names it, but that Tarvel has no provider: not listed.
  EXPECT_EQ(find(L"QV Tarvel T500"), nullptr);
  // 260 characters fill the id buffer, which then holds no NUL: the id is still read whole.
  const auto* longId = find(L"QV Tarvel T600");
  ASSERT_NE(longId, nullptr);
  EXPECT_EQ(longId->strInstanceId.size(), 260u);
  EXPECT_EQ(longId->strFriendlyName, L"Quvari Tarvel T600");
  // A long description is read whole; without a FriendlyName the name stays empty.
  const auto* longDescription = find(L"QV Tarvel T700");
  ASSERT_NE(longDescription, nullptr);
  EXPECT_GT(longDescription->strDeviceDesc.size(), 500u);
  EXPECT_EQ(longDescription->strFriendlyName, L"");
  EXPECT_TRUE(Logged(L"I0", L"Scanner found :  Connected at : USB"));
  EXPECT_EQ(devices.size(), 3u);
}

TEST_F(Enumeration, BrokenNetworkRegistrations) {
  const auto devices = Enumerate({"broken-network.xml"});
  TakeLog();
  auto find = [&](const std::wstring& id) -> const _DeviceDetails* {
    for (const auto& device : devices) {
      if (device.strInstanceId == id) return &device;
    }
    return nullptr;
  };
  // Neither PortID nor MatchingDeviceId: not listed.
  EXPECT_EQ(find(L"ROOT\\IMAGE\\0010"), nullptr);
  EXPECT_TRUE(Logged(
      L"DB",
      L"Failed to get the MatchingDEviceID from registry while enumerating network scanner."));
  // No model digits: no printer is taken for it, although one exists.
  const auto* noDigits = find(L"ROOT\\IMAGE\\0011");
  ASSERT_NE(noDigits, nullptr);
  EXPECT_TRUE(noDigits->bLumeq);
  EXPECT_EQ(noDigits->strIpAddress, L"");
  EXPECT_TRUE(Logged(L"DB", L"Failed to get the IP Address of the Lumeq device: Quvari LQ Net"));
  // No Mfg: not the maker's.
  EXPECT_EQ(find(L"ROOT\\IMAGE\\0012"), nullptr);
  EXPECT_TRUE(Logged(
      L"DB", L"Failed to get ProviderName from registry for Enumerating the Network Scanners."));
  const auto* noPort = find(L"ROOT\\IMAGE\\0013");
  ASSERT_NE(noPort, nullptr);
  EXPECT_EQ(noPort->strIpAddress, L"");
  EXPECT_EQ(noPort->strPort, L"");
  EXPECT_TRUE(noPort->bNetwork);
  EXPECT_TRUE(Logged(L"I0", L"Scanner found : Quvari AIO 200 Connected at : "));
  // Unreadable in the driver's keys: the node's own parameters.
  const auto* parameters = find(L"ROOT\\IMAGE\\0014");
  ASSERT_NE(parameters, nullptr);
  EXPECT_EQ(parameters->strFriendlyName, L"Quvari AIO 300 (parameters)");
  EXPECT_EQ(parameters->strIpAddress, L"ip=127.0.0.7,port=9100");
  EXPECT_EQ(devices.size(), 3u);
}

// Faults of the device interface stay local: an enumerator that cannot be opened contributes
// nothing, a node whose id cannot be read cannot be told to be the maker's, and every set is
// destroyed.
TEST_F(Enumeration, DeviceInterfaceFaultsStayLocal) {
  kvd::test::ApplyNamed("usb-tarvel.xml", sim_);
  kvd::test::ApplyNamed("network-aio.xml", sim_);
  log_.Take();
  sim_.InjectFault("GetClassDevs", 1, kvd::platform::err::AccessDenied);  // "USB"
  sim_.InjectFault("GetDeviceId", 1, 0x05);                               // the first root node
  std::vector<_DeviceDetails> devices;
  CScanners(sim_.Ports()).EnumerateScanners(devices);
  EXPECT_TRUE(devices.empty());
  TakeLog();
  EXPECT_TRUE(Logged(
      L"DB", L"Failed to get ProviderName from registry for Enumerating the Network Scanners."));
  EXPECT_EQ(sim_.Devices().OpenSetCount(), 0u);
  CScanners(sim_.Ports()).EnumerateScanners(devices);
  EXPECT_EQ(devices.size(), 3u);
}

TEST(ModelDigits, FirstRunOfDecimalDigits) {
  EXPECT_EQ(CScanners::ModelDigits(L"qvlq_5100_net"), L"5100");
  EXPECT_EQ(CScanners::ModelDigits(L"usb\\vid_2f8d&pid_0105"), L"2");
  EXPECT_EQ(CScanners::ModelDigits(L"7300x"), L"7300");
  EXPECT_EQ(CScanners::ModelDigits(L"qvlq_net"), L"");
  EXPECT_EQ(CScanners::ModelDigits(L""), L"");
}

}  // namespace
