// System and installation facts against the simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "discovery/DeviceRegistry.h"
#include "logging/DUDiduzuz.h"
#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "tests/support/SimLog.h"

namespace {

using kvd::platform::kHkeyLocalMachine;
namespace regtype = kvd::platform::regtype;

// Where the 32-bit program's HKLM\SOFTWARE lands on the 64-bit machine.
const std::wstring kSuite = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane";
const std::wstring kKle = L"SOFTWARE\\Wow6432Node\\Quvari\\{4C1F7E25-8A3B-4D90-B6E2-19D5C0A7F381}";
const std::wstring kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
const std::wstring kDeviceData =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}"
    L"\\0003\\DeviceData";

class Helper : public ::testing::Test {
 protected:
  void SetUp() override {
    g_bVista = false;
    g_bWin7 = false;
  }

  // The debug records' texts written since the last call.
  std::vector<std::wstring> DebugRecords() { return log_.Texts(L"DB"); }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  CUtil util_{sim_.Ports()};
};

TEST_F(Helper, OperatingSystemNames) {
  struct Case {
    const char* name;
    std::uint32_t major, minor;
    std::uint8_t productType;
    bool wow64;
    int serverR2;
    std::wstring expected;
    bool win7, vista;
  };
  using kvd::platform::os::NtServer;
  using kvd::platform::os::NtWorkstation;
  const Case cases[] = {
      {"7 x64", 6, 1, NtWorkstation, true, 0, L"Windows 7 x64 SP", true, false},
      {"7 32-bit", 6, 1, NtWorkstation, false, 0, L"Windows 7  (32 bit)SP", true, false},
      {"2008 R2 x64", 6, 1, NtServer, true, 0, L"Windows Server 2008 R2 x64 SP", false, false},
      {"2008 R2", 6, 1, NtServer, false, 0, L"Windows Server 2008 R2 SP", false, false},
      {"Vista x64", 6, 0, NtWorkstation, true, 0, L"Windows Vista x64 SP", false, true},
      {"Vista 32-bit", 6, 0, NtWorkstation, false, 0, L"Windows Vista   (32 bit)SP", false, true},
      {"2008 x64", 6, 0, NtServer, true, 0, L"Windows Server 2008 x64 SP", false, false},
      {"2008", 6, 0, 2, false, 0, L"Windows Server 2008 SP", false, false},
      {"XP 64", 5, 1, NtWorkstation, true, 0, L"Windows XP SP (64 bit)", false, false},
      {"XP 32", 5, 1, NtWorkstation, false, 0, L"Windows XP SP (32 bit)", false, false},
      {"2003", 5, 2, NtServer, false, 0, L"Windows Server 2003 SP", false, false},
      {"XP x64", 5, 2, NtWorkstation, true, 0, L"Windows XP x64 SP", false, false},
      {"2003 R2", 5, 2, NtWorkstation, false, 1, L"Microsoft Windows Server 2003 R2 SP", false,
       false},
      {"5.2 otherwise", 5, 2, NtWorkstation, false, 0, L"SP", false, false},
      {"8 and later", 6, 2, NtWorkstation, true, 0, L"untouched", false, false},
      {"2000", 5, 0, NtWorkstation, false, 0, L"untouched", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_bVista = false;
    g_bWin7 = false;
    auto version = sim_.System().Version();
    version.majorVersion = c.major;
    version.minorVersion = c.minor;
    version.productType = c.productType;
    version.csdVersion = L"SP";
    sim_.System().SetVersion(version);
    sim_.System().SetWow64(c.wow64);
    sim_.System().SetSystemMetric(kvd::platform::os::SmServerR2, c.serverR2);
    std::wstring name = L"untouched";
    EXPECT_TRUE(util_.GetOSName(name));
    EXPECT_EQ(name, c.expected);
    EXPECT_EQ(g_bWin7.load(), c.win7);
    EXPECT_EQ(g_bVista.load(), c.vista);
  }
  auto version = sim_.System().Version();
  version.platformId = 1;  // Windows 9x
  sim_.System().SetVersion(version);
  std::wstring name = L"untouched";
  EXPECT_FALSE(util_.GetOSName(name));
  EXPECT_EQ(name, L"untouched");
}

TEST_F(Helper, VersionGates) {
  struct Case {
    std::uint32_t major, minor;
    bool supported, vista;
  };
  const Case cases[] = {{5, 0, false, false}, {5, 1, true, false}, {5, 2, true, false},
                        {6, 0, true, true},   {6, 1, true, true},  {10, 0, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    auto version = sim_.System().Version();
    version.majorVersion = c.major;
    version.minorVersion = c.minor;
    sim_.System().SetVersion(version);
    EXPECT_EQ(util_.IsOSSupported(), c.supported);
    EXPECT_EQ(util_.IsVistaOrLater(), c.vista);
  }
}

TEST_F(Helper, Administrators) {
  const auto admins = kvd::platform::AdministratorsSid();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool expected;
  };
  const Case cases[] = {
      {"member", [] {}, true},
      {"not a member", [&] { sim_.Security().SetAdministrator(false); }, false},
      {"deny-only group of a filtered token",
       [&] {
         sim_.Security().SetGroups({{admins, 0x10}});
       },
       false},
      {"account name not mapped still counts",
       [&] { sim_.Security().SetAccountName(admins, std::nullopt); }, true},
      {"lookup failing otherwise",
       [&] { sim_.InjectFault("LookupAccountSid", 1, kvd::platform::err::AccessDenied); }, false},
      {"token unreadable",
       [&] { sim_.InjectFault("GetProcessTokenGroups", 1, kvd::platform::err::AccessDenied); },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.Security().SetGroups(
        {{{1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 33, 2, 0, 0}, 7}, {admins, 7}});
    sim_.Security().SetAccountName(admins, L"Administrators");
    sim_.ClearFaults();
    c.arrange();
    EXPECT_EQ(util_.IsAdmin(), c.expected);
  }
}

TEST_F(Helper, ApplicationVersion) {
  std::wstring version = L"stale";
  util_.GetAppVersion(version);
  EXPECT_EQ(version, L"");  // the simulated executable has no version resource by default

  kvd::sim::VersionResource resource;
  resource.fileVersion = {2, 10, 300, 4000};
  resource.translations = {{0x0409, 1200, {{L"FileVersion", L"2.10.300.4000"}}}};
  sim_.Process().PutVersionInfo(sim_.Process().ModulePath(), resource);
  util_.GetAppVersion(version);
  EXPECT_EQ(version, L"2.10.300.4000");
}

TEST_F(Helper, SuiteBinFolderAndTheTechnicalInformationTool) {
  std::wstring folder = L"stale";
  EXPECT_FALSE(util_.GetBrevaneBinFolder(folder));  // no suite: no folder at all
  EXPECT_EQ(folder, L"");
  std::wstring tool;
  EXPECT_FALSE(util_.IsTechnicalInfoPresent(tool));

  sim_.Registry().PutString(kHkeyLocalMachine, kSuite, L"InstallFolder",
                            L"C:\\Program Files (x86)\\Quvari\\");
  EXPECT_TRUE(util_.GetBrevaneBinFolder(folder));
  EXPECT_EQ(folder, L"C:\\Program Files (x86)\\Quvari\\Brevane\\bin");

  DebugRecords();
  EXPECT_FALSE(util_.IsTechnicalInfoPresent(tool));
  EXPECT_EQ(tool, L"C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\qvtechinf.exe");
  EXPECT_EQ(DebugRecords(), (std::vector<std::wstring>{
                                L"Checking for the technical info exe in the installed folder.",
                                L"The path  " + tool + L"  not exists."}));
  sim_.Files().PutFile(tool, {'M', 'Z'});
  EXPECT_TRUE(util_.IsTechnicalInfoPresent(tool));

  const auto handlesBefore = sim_.Sync().OpenHandleCount();
  util_.LaunchTechnicalnfoExe(tool);
  ASSERT_EQ(sim_.Shell().Launches().size(), 1u);
  EXPECT_EQ(sim_.Shell().Launches()[0].application, tool);
  EXPECT_FALSE(sim_.Shell().Launches()[0].commandLine.has_value());
  EXPECT_EQ(sim_.Sync().OpenHandleCount(), handlesBefore);  // not waited for: both handles closed

  // A tool that cannot start: the user is told, with the texts of the string table.
  CStringTable& table = GlobalLag;
  table.Bind(sim_.Ports());
  const std::string texts =
      "<S><String ID=\"TITLE\" Value=\"Quvari Kavid\"/>"
      "<String ID=\"TECHNICAL_INFO_ERR\" Value=\"The tool could not be started.\"/></S>";
  sim_.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\1033.xml",
                       {texts.begin(), texts.end()});
  table.m_LangID = 1033;
  ASSERT_TRUE(table.LoadStrings());
  DebugRecords();
  util_.LaunchTechnicalnfoExe(L"C:\\nowhere\\qvtechinf.exe");
  ASSERT_EQ(sim_.Shell().Boxes().size(), 1u);
  EXPECT_EQ(sim_.Shell().Boxes()[0].text, L"The tool could not be started.");
  EXPECT_EQ(sim_.Shell().Boxes()[0].caption, L"Quvari Kavid");
  EXPECT_EQ(DebugRecords(), std::vector<std::wstring>{L"Failed to lauch the TechnicalInfo exe."});
}

TEST_F(Helper, Windows7UpgradeIssue) {
  struct Case {
    const char* name;
    bool win7;
    std::optional<std::wstring> version;
    bool expected;
  };
  const Case cases[] = {
      {"not Windows 7", false, L"12.0", false},
      {"no KLE version", true, std::nullopt, true},
      {"12.5.3", true, L"12.5.3", true},
      {"13.0.1", true, L"13.0.1", false},
      {"14.2", true, L"14.2", false},
      {"no dot", true, L"13", true},
      {"empty", true, L"", true},
      {"not a number", true, L"abc.1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_bWin7 = c.win7;
    if (sim_.Registry().KeyExists(kHkeyLocalMachine, kKle))
      sim_.Registry().RemoveKey(kHkeyLocalMachine, kKle);
    if (c.version) sim_.Registry().PutString(kHkeyLocalMachine, kKle, L"Version", *c.version);
    EXPECT_EQ(util_.IsWin7UpgradeIssueExists(), c.expected);
  }
}

TEST_F(Helper, InstallFolderOfAModelFromTheInstaller) {
  using Product = kvd::sim::SimInstaller::Product;
  auto& installer = sim_.Installer();
  installer.AddProduct(Product{L"{00000000-0000-0000-0000-000000000001}",
                               {{L"Publisher", L"Other Imaging"}},
                               {{L"ModelName", L"QX-2400"}},
                               {{L"INSTALLDIR", L"C:\\Other\\"}},
                               {}});
  installer.AddProduct(Product{L"{00000000-0000-0000-0000-000000000002}",
                               {{L"Publisher", L"Quvari"}},
                               {{L"ModelName", L"QX-2400"}},
                               {{L"INSTALLDIR", L"C:\\Costless\\"}},
                               {L"FileCost"}});
  installer.AddProduct(Product{L"{00000000-0000-0000-0000-000000000003}",
                               {{L"Publisher", L"  QV Imaging Corporation "}},
                               {{L"ModelName", L""}},
                               {{L"INSTALLDIR", L"C:\\Nameless\\"}},
                               {}});
  installer.AddProduct(Product{L"{00000000-0000-0000-0000-000000000004}",
                               {{L"Publisher", L"Quvari Imaging " + std::wstring(80, L'x')}},
                               {{L"ModelName", L"QX-2400"}},
                               {{L"INSTALLDIR", L"\\C:\\Program Files (x86)\\Quvari\\QX2400\\"}},
                               {}});
  EXPECT_EQ(util_.GetInstallDirForModel(L" Quvari QX-2400 Series "),
            L"C:\\Program Files (x86)\\Quvari\\QX2400\\qx-2400");
  EXPECT_EQ(installer.UiLevel(), 0x102u);
  EXPECT_EQ(installer.OpenHandleCount(), 0u);
  EXPECT_EQ(util_.GetInstallDirForModel(L"QX-9000"), L"");
  EXPECT_EQ(installer.OpenHandleCount(), 0u);

  // An enumeration that keeps failing ends the walk.
  sim_.InjectFault("MsiEnumProducts", 1, 1610, true);
  const auto calls = sim_.CallCount("MsiEnumProducts");
  EXPECT_EQ(util_.GetInstallDirForModel(L"QX-2400"), L"");
  EXPECT_EQ(sim_.CallCount("MsiEnumProducts"), calls + 1);
}

TEST_F(Helper, ScanButtonAndFeeder) {
  struct Case {
    const char* name;
    std::optional<std::vector<std::uint8_t>> button, tma, adf;
    std::uint32_t type;
    bool scanButton, feeder;
    std::vector<std::wstring> records;
  };
  using Bytes = std::vector<std::uint8_t>;
  const std::wstring path =
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + kDriverKey + L"\\Devicedata";
  const Case cases[] = {
      {"nothing recorded",
       std::nullopt,
       std::nullopt,
       std::nullopt,
       regtype::Dword,
       false,
       false,
       {L"Failed to get the TMASupported value from registry. Path: " + path}},
      {"button 2, feeder",
       Bytes{2, 0, 0, 0},
       Bytes{0, 0, 0, 0},
       Bytes{1, 0, 0, 0},
       regtype::Dword,
       true,
       true,
       {L"ADF Supported."}},
      {"button 1, no feeder",
       Bytes{1, 0, 0, 0},
       Bytes{0, 0, 0, 0},
       Bytes{0, 0, 0, 0},
       regtype::Dword,
       false,
       false,
       {L"No ADF Support."}},
      {"button 3, transparency adapter",
       Bytes{3, 0, 0, 0},
       Bytes{1, 0, 0, 0},
       Bytes{1, 0, 0, 0},
       regtype::Dword,
       false,
       false,
       {L"No ADF Support."}},
      {"binary values, one byte",
       Bytes{2},
       Bytes{0},
       Bytes{7},
       regtype::Binary,
       true,
       true,
       {L"ADF Supported."}},
      {"no feeder value",
       Bytes{2},
       Bytes{0},
       std::nullopt,
       regtype::Binary,
       true,
       false,
       {L"Failed to get the ADFSupported value from registry. Path: " + path}},
      {"empty values",
       Bytes{},
       Bytes{},
       Bytes{},
       regtype::Binary,
       false,
       false,
       {L"Failed to get the TMASupported value from registry. Path: " + path}},
      {"empty feeder value", Bytes{}, Bytes{0}, Bytes{}, regtype::Binary, false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto& registry = sim_.Registry();
    if (registry.KeyExists(kHkeyLocalMachine, kDeviceData))
      registry.RemoveKey(kHkeyLocalMachine, kDeviceData);
    registry.PutKey(kHkeyLocalMachine, kDeviceData);
    if (c.button)
      registry.PutValue(kHkeyLocalMachine, kDeviceData, L"HasScanButton", c.type, *c.button);
    if (c.tma) registry.PutValue(kHkeyLocalMachine, kDeviceData, L"TMASupported", c.type, *c.tma);
    if (c.adf) registry.PutValue(kHkeyLocalMachine, kDeviceData, L"ADFSupported", c.type, *c.adf);
    EXPECT_EQ(util_.HasScanButton(kDriverKey), c.scanButton);
    DebugRecords();
    EXPECT_EQ(util_.IsADFSupported(kDriverKey), c.feeder);
    EXPECT_EQ(DebugRecords(), c.records);
  }
}

TEST_F(Helper, ConnectionType) {
  using kvd::platform::AdapterAddress;
  struct Case {
    const char* name;
    std::uint32_t major;
    std::vector<AdapterAddress> adapters;
    std::optional<std::uint32_t> medium;
    bool wireless;
  };
  const AdapterAddress wired{"{A}", kvd::platform::net::IfTypeEthernet, L"LAN"};
  const AdapterAddress wifi{"{B}", kvd::platform::net::IfTypeIeee80211, L"WLAN"};
  const Case cases[] = {
      {"no adapter", 6, {}, std::nullopt, false},
      {"wired first", 6, {wired, wifi}, std::nullopt, false},
      {"wireless first", 6, {wifi, wired}, std::nullopt, true},
      {"XP, wireless medium", 5, {wired}, 1u, true},
      {"XP, other medium", 5, {wired}, 0u, false},
      {"XP, query fails", 5, {wired}, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    CUtil util(sim.Ports());
    auto version = sim.System().Version();
    version.majorVersion = c.major;
    sim.System().SetVersion(version);
    sim.Network().SetAdapters(c.adapters);
    if (c.medium) sim.Network().SetPhysicalMedium(L"{A}", *c.medium);
    EXPECT_EQ(util.GetConnectionType(), c.wireless);
  }
  std::vector<AdapterAddress> adapters;
  sim_.InjectFault("GetAdaptersAddresses", 1, kvd::platform::err::NotEnoughMemory);
  EXPECT_EQ(util_.EnumAdapterAddresses(adapters), kvd::platform::err::NotEnoughMemory);
  EXPECT_TRUE(adapters.empty());
  EXPECT_EQ(util_.EnumAdapterAddresses(adapters), 0u);
  EXPECT_EQ(adapters.size(), 1u);
}

TEST_F(Helper, DeviceNameFromTheSuitesModelKeys) {
  std::wstring name = L"unchanged";
  EXPECT_FALSE(util_.GetDeviceName(L"QX-2400", name));  // no suite key
  EXPECT_EQ(DebugRecords(), std::vector<std::wstring>{
                                L"Failed to open the regkey. Path: SOFTWARE\\Quvari\\Brevane"});
  for (const wchar_t* model : {L"Other", L"QX-2400", L"QX-2400 Series"}) {
    sim_.Registry().PutKey(kHkeyLocalMachine, kSuite + L"\\" + model);
  }
  EXPECT_FALSE(util_.GetDeviceName(L"", name));
  EXPECT_EQ(name, L"unchanged");
  EXPECT_TRUE(util_.GetDeviceName(L" qx-2400 ", name));
  EXPECT_EQ(name, L"QX-2400 Series");  // every match counts; the last one enumerated wins
  EXPECT_FALSE(util_.GetDeviceName(L"QX-9", name));
}

TEST(DeviceRegistry, TheDriverAndSuiteValues) {
  using kvd::reg::RegStatus;
  using kvd::reg::RegText;
  kvd::sim::SimMachine sim;
  CDeviceRegistry device(sim.Ports().registry);
  auto& registry = sim.Registry();
  const std::wstring classKey = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + kDriverKey;
  registry.PutString(kHkeyLocalMachine, classKey, L"MatchingDeviceId", L"usb\\vid_1a2b&pid_3c4d");
  registry.PutString(kHkeyLocalMachine, kDeviceData, L"ModelString", L"QX-2400");
  registry.PutValue(kHkeyLocalMachine, kDeviceData, L"KLEDeviceID", regtype::Sz,
                    {'Q', 0, 'X', 0});  // stored without its NUL
  registry.PutString(kHkeyLocalMachine, classKey + L"\\Events\\scan", L"CmdLine",
                     L"qvbtn.exe /scan");
  registry.PutString(kHkeyLocalMachine, kSuite, L"ProfileWritePath", L"C:\\ProgramData\\Quvari");
  registry.PutString(kHkeyLocalMachine,
                     kSuite + L"\\qx-2400\\DeviceInstances\\0000\\Functions\\Scan",
                     L"ImagingClassIndex", L"0003");
  // A number where a text belongs is there but is no text.
  registry.PutDword(kHkeyLocalMachine, kDeviceData, L"TwainDS", 5);

  struct Case {
    const char* name;
    RegText read;
    RegStatus status;
    std::wstring text;
  };
  const Case cases[] = {
      {"class text", device.ClassText(kDriverKey, L"MatchingDeviceId"), RegStatus::Read,
       L"usb\\vid_1a2b&pid_3c4d"},
      {"absent class text", device.ClassText(kDriverKey, L"InfPath"), RegStatus::Absent, L""},
      {"\"DeviceData\" spelt so", device.DeviceDataText(kDriverKey, L"ModelString"),
       RegStatus::Read, L"QX-2400"},
      {"text without its NUL", device.DeviceDataText(kDriverKey, L"KLEDeviceID"), RegStatus::Read,
       L"QX"},
      {"number as text", device.DeviceDataText(kDriverKey, L"TwainDS"), RegStatus::Unreadable, L""},
      {"scan event", device.ScanEventText(kDriverKey, L"CmdLine"), RegStatus::Read,
       L"qvbtn.exe /scan"},
      {"suite text", device.SuiteText(L"ProfileWritePath"), RegStatus::Read,
       L"C:\\ProgramData\\Quvari"},
      {"absent suite text", device.SuiteText(L"ProgramDir"), RegStatus::Absent, L""},
      {"imaging class index", device.ImagingClassIndex(L"QX-2400"), RegStatus::Read, L"0003"},
      {"model not registered", device.ImagingClassIndex(L"QX-9000"), RegStatus::Absent, L""},
      {"no model", device.ImagingClassIndex(L""), RegStatus::Absent, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.read.status, c.status);
    EXPECT_EQ(c.read.text, c.text);
  }
}

}  // namespace
