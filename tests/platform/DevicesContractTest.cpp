// The Plug and Play, library, Winsock and ICMP ports as the program relies on them, on every
// target: device nodes are written into the Enum tree through the registry port and then listed
// through SetupAPI, so the simulated machine's reading of that tree is checked against Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/PortHelpers.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

constexpr wchar_t kEnumerator[] = L"KVDTEST";
constexpr wchar_t kEnumKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\KVDTEST";

std::vector<std::uint8_t> MultiSz(const std::vector<std::wstring>& items) {
  std::vector<std::uint8_t> bytes;
  for (const auto& item : items) {
    AppendUtf16Bytes(item, bytes);
    bytes.push_back(0);
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

class DevicesContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override {
    machine_ = GetParam().make();
    test::DeleteTree(ports().registry, kHkeyLocalMachine, kEnumKey);
  }
  void TearDown() override { test::DeleteTree(ports().registry, kHkeyLocalMachine, kEnumKey); }

  Platform& ports() { return machine_->Ports(); }

  void PutValue(const std::wstring& path, const wchar_t* name, std::uint32_t type,
                const std::vector<std::uint8_t>& bytes) {
    auto key = MakeUniqueHkey(ports().registry);
    ASSERT_EQ(ports().registry.CreateKeyEx(kHkeyLocalMachine, path.c_str(), sam::AllAccess,
                                           key.put(), nullptr),
              0);
    ASSERT_EQ(ports().registry.SetValueEx(key.get(), name, type, bytes.data(),
                                          static_cast<std::uint32_t>(bytes.size())),
              0);
  }
  void PutText(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
    PutValue(path, name, regtype::Sz, ToUtf16Bytes(text, true));
  }

  // A node below the test enumerator, as an installed device leaves it in the Enum tree.
  void PutNode(const std::wstring& device, const std::wstring& instance, const Guid& classGuid,
               const std::wstring& className) {
    const std::wstring path = std::wstring(kEnumKey) + L"\\" + device + L"\\" + instance;
    PutText(path, L"ClassGUID", GuidToText(classGuid));
    PutText(path, L"Class", className);
    PutValue(path, L"HardwareID", regtype::MultiSz,
             MultiSz({L"KVDTEST\\" + device + L"&REV_0100", L"KVDTEST\\" + device}));
    PutText(path, L"DeviceDesc", L"Quvari test " + device);
    PutText(path, L"Service", L"usbscan");
    PutText(path, L"Driver", GuidToText(classGuid) + L"\\0007");
    PutText(path, L"Mfg", L"Quvari");
  }

  // Every element of a set as its instance id.
  std::vector<std::wstring> InstanceIds(DevInfoSet set) {
    std::vector<std::wstring> ids;
    DevInfoData element;
    for (std::uint32_t index = 0; ports().devices.EnumDeviceInfo(set, index, &element); ++index) {
      wchar_t id[400] = {};
      std::uint32_t required = 0;
      EXPECT_TRUE(ports().devices.GetDeviceInstanceId(set, element, id, std::size(id), &required));
      ids.emplace_back(id);
    }
    EXPECT_EQ(ports().errors.GetLastError(), err::NoMoreItems);
    return ids;
  }

  std::unique_ptr<test::TestMachine> machine_;
};

// Nodes are listed by enumerator, whatever their class and whether or not plugged in (Wine does
// not model presence, so this uses no flag beyond all classes); a key without a setup class is
// no node. Instance ids are the key path in upper case.
TEST_P(DevicesContract, AnEnumeratorListsItsNodesWithUpperCaseIds) {
  PutNode(L"VID_2F8D&PID_0101", L"5&1a2b&0&1", devclass::Image, L"Image");
  PutNode(L"VID_2F8D&PID_0101", L"5&1a2b&0&2", devclass::Usb, L"USB");
  PutText(std::wstring(kEnumKey) + L"\\Orphan\\0000", L"DeviceDesc", L"no class");

  auto set = MakeUniqueDevInfoList(
      ports().devices, ports().devices.GetClassDevs(nullptr, L"kvdtest", digcf::AllClasses));
  ASSERT_TRUE(set.valid()) << ports().errors.GetLastError();
  EXPECT_EQ(InstanceIds(set.get()),
            (std::vector<std::wstring>{L"KVDTEST\\VID_2F8D&PID_0101\\5&1A2B&0&1",
                                       L"KVDTEST\\VID_2F8D&PID_0101\\5&1A2B&0&2"}));

  // The Configuration Manager names each node the same way.
  DevInfoData element;
  ASSERT_TRUE(ports().devices.EnumDeviceInfo(set.get(), 1, &element));
  EXPECT_EQ(element.classGuid, devclass::Usb);
  wchar_t id[260] = {};
  ASSERT_EQ(ports().devices.GetDeviceId(element.devInst, id, std::size(id)), cr::Success);
  EXPECT_STREQ(id, L"KVDTEST\\VID_2F8D&PID_0101\\5&1A2B&0&2");
  // An installed node has a status. Wine deviation: it answers CR_SUCCESS without writing the
  // status or the problem number, so callers start both at 0.
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  EXPECT_EQ(ports().devices.GetDevNodeStatus(&status, &problem, element.devInst, 0), cr::Success);
  EXPECT_EQ(problem, 0u);
  wchar_t small[8] = {};
  const std::uint32_t answer =
      ports().devices.GetDeviceId(element.devInst, small, std::size(small));
  // Wine deviation: it truncates the id and answers CR_SUCCESS; Windows answers CR_BUFFER_SMALL.
  if (machine_->IsSimulated()) {
    EXPECT_EQ(answer, cr::BufferSmall);
  }
  EXPECT_EQ(std::wstring(small, 7), L"KVDTEST");
}

// A class filter keeps the nodes of that class only.
TEST_P(DevicesContract, AClassGuidSelectsItsNodes) {
  PutNode(L"VID_2F8D&PID_0201", L"0001", devclass::Image, L"Image");
  PutNode(L"VID_2F8D&PID_0202", L"0001", devclass::Printer, L"Printer");
  auto set = MakeUniqueDevInfoList(ports().devices,
                                   ports().devices.GetClassDevs(&devclass::Image, kEnumerator, 0));
  ASSERT_TRUE(set.valid());
  EXPECT_EQ(InstanceIds(set.get()),
            (std::vector<std::wstring>{L"KVDTEST\\VID_2F8D&PID_0201\\0001"}));
}

// Properties are read in two steps; an absent one is ERROR_INVALID_DATA, not a short buffer.
TEST_P(DevicesContract, PropertiesAreReadInTwoStepsAndAbsentOnesAreInvalidData) {
  PutNode(L"VID_2F8D&PID_0301", L"0001", devclass::Image, L"Image");
  auto set = MakeUniqueDevInfoList(
      ports().devices, ports().devices.GetClassDevs(nullptr, kEnumerator, digcf::AllClasses));
  ASSERT_TRUE(set.valid());
  DevInfoData element;
  ASSERT_TRUE(ports().devices.EnumDeviceInfo(set.get(), 0, &element));

  struct Case {
    std::uint32_t property;
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {spdrp::HardwareId, regtype::MultiSz,
       MultiSz({L"KVDTEST\\VID_2F8D&PID_0301&REV_0100", L"KVDTEST\\VID_2F8D&PID_0301"})},
      {spdrp::DeviceDesc, regtype::Sz, ToUtf16Bytes(L"Quvari test VID_2F8D&PID_0301", true)},
      {spdrp::Service, regtype::Sz, ToUtf16Bytes(L"usbscan", true)},
      {spdrp::Class, regtype::Sz, ToUtf16Bytes(L"Image", true)},
      {spdrp::Driver, regtype::Sz, ToUtf16Bytes(GuidToText(devclass::Image) + L"\\0007", true)},
      {spdrp::Mfg, regtype::Sz, ToUtf16Bytes(L"Quvari", true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.property);
    std::uint32_t type = 0;
    std::uint32_t required = 0;
    EXPECT_FALSE(ports().devices.GetDeviceRegistryProperty(set.get(), element, c.property, &type,
                                                           nullptr, 0, &required));
    EXPECT_EQ(ports().errors.GetLastError(), err::InsufficientBuffer);
    ASSERT_EQ(required, c.bytes.size());
    std::vector<std::uint8_t> bytes(required);
    ASSERT_TRUE(ports().devices.GetDeviceRegistryProperty(set.get(), element, c.property, &type,
                                                          bytes.data(), required, &required));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(bytes, c.bytes);
  }
  std::uint32_t required = 0;
  EXPECT_FALSE(ports().devices.GetDeviceRegistryProperty(set.get(), element, spdrp::FriendlyName,
                                                         nullptr, nullptr, 0, &required));
  EXPECT_EQ(ports().errors.GetLastError(), err::InvalidData);
}

// Windows 7 and later keep a description as "@oem12.inf,%key%;Text" in the node's key and answer
// the text through this interface; a plain description is answered as it is.
TEST_P(DevicesContract, DescriptionsInTheirStoredFormAreAnsweredAsTheirText) {
  PutNode(L"VID_2F8D&PID_0401", L"0001", devclass::Image, L"Image");
  const std::wstring path = std::wstring(kEnumKey) + L"\\VID_2F8D&PID_0401\\0001";
  PutText(path, L"DeviceDesc", L"@oem12.inf,%qv.desc%;Quvari AIO 3400 Series");
  auto set = MakeUniqueDevInfoList(
      ports().devices, ports().devices.GetClassDevs(nullptr, kEnumerator, digcf::AllClasses));
  ASSERT_TRUE(set.valid());
  DevInfoData element;
  ASSERT_TRUE(ports().devices.EnumDeviceInfo(set.get(), 0, &element));
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  ports().devices.GetDeviceRegistryProperty(set.get(), element, spdrp::DeviceDesc, &type, nullptr,
                                            0, &required);
  std::vector<std::uint8_t> bytes(required);
  ASSERT_TRUE(ports().devices.GetDeviceRegistryProperty(set.get(), element, spdrp::DeviceDesc,
                                                        &type, bytes.data(), required, &required));
  const std::wstring text = FromUtf16Bytes(bytes.data(), bytes.size());
  if (!machine_->IsSimulated()) {
    // Wine deviation: Wine 8 answers the stored form itself.
    EXPECT_EQ(text, L"@oem12.inf,%qv.desc%;Quvari AIO 3400 Series");
    return;
  }
  EXPECT_EQ(text, L"Quvari AIO 3400 Series");
}

// The Image class is found by its name, and a set of the local machine names no remote one.
TEST_P(DevicesContract, ClassNamesAndListDetails) {
  Guid guids[4];
  std::uint32_t required = 0;
  ASSERT_TRUE(ports().devices.ClassGuidsFromName(L"Image", guids, 4, &required));
  ASSERT_GE(required, 1u);
  EXPECT_EQ(guids[0], devclass::Image);
  ASSERT_TRUE(ports().devices.ClassGuidsFromName(L"NoSuchKvdClass", guids, 4, &required));
  EXPECT_EQ(required, 0u);

  auto set = MakeUniqueDevInfoList(ports().devices,
                                   ports().devices.GetClassDevs(&devclass::Image, nullptr, 0));
  ASSERT_TRUE(set.valid());
  DevMachine machine = 1;
  ASSERT_TRUE(ports().devices.GetDeviceInfoListDetail(set.get(), &machine));
  EXPECT_EQ(machine, 0u);
}

// No class and no "all classes" is a caller's mistake; an enumerator nobody installed yields no
// node (as an invalid set or an empty one: the program treats both alike).
TEST_P(DevicesContract, BadRequestsYieldNoNodes) {
  EXPECT_EQ(ports().devices.GetClassDevs(nullptr, kEnumerator, 0), kInvalidDevInfoSet);
  const DevInfoSet set = ports().devices.GetClassDevs(nullptr, L"KVDNOSUCH", digcf::AllClasses);
  if (set != kInvalidDevInfoSet) {
    DevInfoData element;
    EXPECT_FALSE(ports().devices.EnumDeviceInfo(set, 0, &element));
    EXPECT_TRUE(ports().devices.DestroyDeviceInfoList(set));
  }
}

// The IP helper library is loaded by full path from the system folder and has the three ICMP
// entries; Winsock 1.1 is granted as asked; loopback answers an echo request.
TEST_P(DevicesContract, LoopbackAnswersAnEchoThroughTheSystemLibrary) {
  wchar_t system[260] = {};
  const std::uint32_t length = ports().modules.GetSystemDirectory(system, std::size(system));
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, std::size(system));
  EXPECT_TRUE(EqualsNoCase(PathFindFileName(system), L"system32")) << NarrowUtf8(system);
  const std::wstring path = std::wstring(system) + L"\\Iphlpapi.dll";
  const ModuleHandle library = ports().modules.LoadLibrary(path.c_str());
  ASSERT_NE(library, 0u);
  const ProcAddress create = ports().modules.GetProcAddress(library, "IcmpCreateFile");
  const ProcAddress send = ports().modules.GetProcAddress(library, "IcmpSendEcho");
  const ProcAddress close = ports().modules.GetProcAddress(library, "IcmpCloseHandle");
  ASSERT_NE(create, 0u);
  ASSERT_NE(send, 0u);
  ASSERT_NE(close, 0u);
  EXPECT_EQ(ports().modules.GetProcAddress(library, "KvdNoSuchExport"), 0u);

  WsaData wsa;
  ASSERT_EQ(ports().sockets.WSAStartup(0x0101, &wsa), 0);
  EXPECT_EQ(wsa.version, 0x0101);
  const InAddr loopback = ports().sockets.inet_addr("127.0.0.1");
  EXPECT_EQ(loopback, 0x0100007Fu);
  EXPECT_EQ(ports().sockets.inet_addr("not.an.address"), kInaddrNone);
  std::vector<InAddr> addresses;
  ASSERT_TRUE(ports().sockets.gethostbyaddr(loopback, &addresses));
  ASSERT_FALSE(addresses.empty());
  EXPECT_EQ(addresses[0], loopback);
  ASSERT_TRUE(ports().sockets.gethostbyname("localhost", &addresses));
  ASSERT_FALSE(addresses.empty());
  EXPECT_EQ(addresses[0], loopback);
  EXPECT_FALSE(ports().sockets.gethostbyname("kvd-no-such-host.invalid", &addresses));

  const IcmpHandle icmp = ports().icmp.IcmpCreateFile(create);
  ASSERT_NE(icmp, kInvalidIcmpHandle);
  EchoReply reply;
  const IpOptions options{255, 0, 0};
  EXPECT_EQ(ports().icmp.IcmpSendEcho(send, icmp, loopback, 0, options,
                                      icmp::kEchoReplyBytes + icmp::kErrorBytes, 1000, &reply),
            1u)
      << ports().errors.GetLastError();
  EXPECT_EQ(reply.status, icmp::IpSuccess);
  EXPECT_EQ(reply.address, loopback);
  EXPECT_TRUE(ports().icmp.IcmpCloseHandle(close, icmp));
  EXPECT_EQ(ports().sockets.WSACleanup(), 0);
  EXPECT_TRUE(ports().modules.FreeLibrary(library));
}

// Wine answers a buffer of one reply structure alone (28 bytes), below the documented minimum of
// reply + request data + 8; the simulated machine keeps to the documentation, so only the
// documented size is relied on (see the ping). Nothing below a reply structure is accepted.
TEST_P(DevicesContract, AReplyBufferBelowOneReplyIsRefused) {
  wchar_t system[260] = {};
  ASSERT_GT(ports().modules.GetSystemDirectory(system, std::size(system)), 0u);
  const std::wstring path = std::wstring(system) + L"\\Iphlpapi.dll";
  const ModuleHandle library = ports().modules.LoadLibrary(path.c_str());
  ASSERT_NE(library, 0u);
  const ProcAddress send = ports().modules.GetProcAddress(library, "IcmpSendEcho");
  const IcmpHandle icmp =
      ports().icmp.IcmpCreateFile(ports().modules.GetProcAddress(library, "IcmpCreateFile"));
  ASSERT_NE(icmp, kInvalidIcmpHandle);
  EchoReply reply;
  EXPECT_EQ(ports().icmp.IcmpSendEcho(send, icmp, 0x0100007Fu, 0, IpOptions{255, 0, 0},
                                      icmp::kEchoReplyBytes - 8, 1000, &reply),
            0u);
  EXPECT_TRUE(ports().icmp.IcmpCloseHandle(
      ports().modules.GetProcAddress(library, "IcmpCloseHandle"), icmp));
  EXPECT_TRUE(ports().modules.FreeLibrary(library));
}

// A library that is not there is ERROR_MOD_NOT_FOUND.
TEST_P(DevicesContract, AMissingLibraryIsModNotFound) {
  wchar_t system[260] = {};
  ASSERT_GT(ports().modules.GetSystemDirectory(system, std::size(system)), 0u);
  const std::wstring path = std::wstring(system) + L"\\kvd-no-such-library.dll";
  EXPECT_EQ(ports().modules.LoadLibrary(path.c_str()), 0u);
  EXPECT_EQ(ports().errors.GetLastError(), 126u);
}

INSTANTIATE_TEST_SUITE_P(Targets, DevicesContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
