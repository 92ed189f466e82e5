// The device software uninstall, each strategy on the simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "discovery/Scanners.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "repair/L2Uninstall.h"
#include "tests/support/PortHelpers.h"
#include "tests/support/ScenarioSim.h"

namespace {

using kvd::sim::SimInstaller;

SimInstaller::Product MsiProduct(const wchar_t* code, const wchar_t* modelName,
                                 std::uint32_t configureResult = 0) {
  SimInstaller::Product product;
  product.code = code;
  if (modelName != nullptr) product.properties[L"ModelName"] = modelName;
  product.configureResult = configureResult;
  return product;
}

constexpr const wchar_t* kFirst = L"{11111111-1111-1111-1111-111111111111}";
constexpr const wchar_t* kSecond = L"{22222222-2222-2222-2222-222222222222}";

TEST(L2UninstallMsi, RemovesTheProductWhoseModelTheDeviceNames) {
  struct Case {
    const char* name;
    std::vector<SimInstaller::Product> products;
    bool removed;
    std::vector<std::wstring> configured;  // product codes, in order
  };
  const Case cases[] = {
      {"the model in the device text, any case",
       {MsiProduct(kFirst, L"Other"), MsiProduct(kSecond, L" qx-800 ")},
       true,
       {kSecond}},
      {"the device text inside the model name is no match",
       {MsiProduct(kFirst, L"Quvari QX-800 Series Plus")},
       false,
       {}},
      {"no ModelName, or an empty one",
       {MsiProduct(kFirst, nullptr), MsiProduct(kSecond, L"  ")},
       false,
       {}},
      {"cancelled by the user: the search ends",
       {MsiProduct(kFirst, L"QX-800", 1602), MsiProduct(kSecond, L"QX-800")},
       false,
       {kFirst}},
      {"a failed removal: the next matching product",
       {MsiProduct(kFirst, L"QX-800", 1603), MsiProduct(kSecond, L"QX-800")},
       true,
       {kFirst, kSecond}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    for (const auto& product : c.products) sim.Installer().AddProduct(product);
    CL2Uninstall uninstall(sim.Ports());
    EXPECT_EQ(uninstall.UnInstallMsi(L"  Quvari QX-800 Series "), c.removed);
    std::vector<std::wstring> configured;
    for (const auto& [code, state] : sim.Installer().Configured()) {
      configured.push_back(code);
      EXPECT_EQ(state, 2);  // INSTALLSTATE_ABSENT
    }
    EXPECT_EQ(configured, c.configured);
    // The removal shows the installer's own user interface; the search shows none.
    for (std::uint32_t level : sim.Installer().ConfiguredUiLevels()) EXPECT_EQ(level, 5u);
    EXPECT_EQ(sim.Installer().OpenHandleCount(), 0u);
  }
}

TEST(L2UninstallMsi, AnEnumerationErrorEndsTheSearch) {
  kvd::sim::SimMachine sim;
  sim.Installer().AddProduct(MsiProduct(kFirst, L"QX-800"));
  sim.InjectFault("MsiEnumProducts", 1, 1627 /* ERROR_FUNCTION_FAILED */, true);
  CL2Uninstall uninstall(sim.Ports());
  EXPECT_FALSE(uninstall.UnInstallMsi(L"Quvari QX-800 Series"));
  EXPECT_TRUE(sim.Installer().Configured().empty());
}

// ---------------------------------------------------------------------------------------------
// The scrubber, the Lumeq uninstallers and the choice by family, on a simulated suite.

constexpr const wchar_t* kSuiteKey32 = L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane";
constexpr const wchar_t* kProductsKey64 = L"SOFTWARE\\Quvari\\Installed Products";
constexpr const wchar_t* kBrevane = L"C:\\Program Files (x86)\\Quvari\\Brevane\\";
constexpr const wchar_t* kClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0011";
constexpr const wchar_t* kInstallers = L"C:\\Program Files (x86)\\QV\\durEzavarizi\\";

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

class Uninstall : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.Registry().PutString(kHklm, kSuiteKey32, L"InstallFolder",
                              L"\\C:\\Program Files (x86)\\Quvari\\\\");
    sim_.Registry().PutKey(kHklm, kProductsKey64);
  }

  // A product folder of the suite with its autorun.inf, its scrubber data file and both
  // scrubbers.
  void Product(const std::wstring& name, const std::string& autorun, const std::wstring& dataFile,
               const std::string& data) {
    sim_.Registry().PutString(kHklm, kProductsKey64, name, L"");
    const std::wstring folder = kBrevane + kvd::platform::Trim(name);
    sim_.Files().PutFile(folder + L"\\autorun.inf", Bytes(autorun));
    if (!dataFile.empty()) sim_.Files().PutFile(folder + L"\\setup\\" + dataFile, Bytes(data));
    sim_.Files().PutFile(folder + L"\\setup\\qvclean40.exe", Bytes("MZ"));
    sim_.Files().PutFile(folder + L"\\setup\\qvclean01.exe", Bytes("MZ"));
  }

  static DeviceDetails Device(const wchar_t* description, const wchar_t* model,
                              bool tarvel = false) {
    DeviceDetails device;
    device.strDeviceDesc = description;
    device.strModel = model;
    device.bTarvel = tarvel;
    device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0011";
    return device;
  }

  std::vector<kvd::sim::SimShell::Execute> Started() { return sim_.Shell().Executed(); }

  static constexpr kvd::platform::HKey kHklm = kvd::platform::kHkeyLocalMachine;
  kvd::sim::SimMachine sim_;
};

constexpr const char* kAutorun =
    "[Version]\r\nDIVISION=abc\r\nCOEXIST_RELEASE_NUM=\r\nICE_REV=5\r\n";
constexpr const char* kData =
    "[Models]\r\nm1=Model_A\r\nno equals sign\r\nm2= model_b \r\n"
    "[MODEL_A]\r\ndevicemodel=Quvari QX-2400 Series\r\n"
    "[MODEL_B]\r\ndevicemodel= Scanner 5590 series \r\n";

TEST_F(Uninstall, TheScrubberOfTheProductThatListsTheDevice) {
  struct Case {
    const char* name;
    DeviceDetails device;
    bool wow64;
    const wchar_t* scrubber;  // none: nothing started
  };
  const Case cases[] = {
      {"by description on 64-bit Windows", Device(L"quvari QX-2400", L"QX-2400"), true,
       L"qvclean40.exe"},
      {"on 32-bit Windows", Device(L"Quvari QX-2400", L""), false, L"qvclean01.exe"},
      {"a Tarvel device by its model, after an entry without '='",
       Device(L"Tarvel", L" Scanner 5590 ", true), true, L"qvclean40.exe"},
      {"a Tarvel device is not matched by description", Device(L"Scanner 5590", L"QX-9", true),
       true, nullptr},
      {"no model listed", Device(L"Quvari QX-800", L"QX-800"), true, nullptr},
      {"an empty description matches nothing", Device(L"  ", L"QX-2400"), true, nullptr},
      {"an empty Tarvel model matches nothing", Device(L"QX-2400", L"", true), true, nullptr},
  };
  Product(L"AAA Broken", "[Version]\r\nDIVISION=zzz\r\n", L"", "");  // no data file: passed over
  Product(L" QVAIO2400 ", kAutorun, L"abcscr5.dat", kData);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.System().SetWow64(c.wow64);
    const auto before = Started().size();
    CL2Uninstall uninstall(sim_.Ports());
    EXPECT_EQ(uninstall.Uinstall(c.device), c.scrubber != nullptr);
    const auto started = Started();
    if (c.scrubber == nullptr) {
      EXPECT_EQ(started.size(), before);
      continue;
    }
    ASSERT_EQ(started.size(), before + 1);
    EXPECT_EQ(started.back().file, std::wstring(kBrevane) + L"QVAIO2400\\setup\\" + c.scrubber);
    EXPECT_EQ(started.back().parameters,
              L"-datfile abcscr5.dat -showdisconnect -nocopytotemp -forcereboot");
    EXPECT_EQ(started.back().verb, L"");
    EXPECT_FALSE(started.back().directory.has_value());
    EXPECT_EQ(started.back().show, 1);  // SW_SHOWNORMAL
  }
  EXPECT_EQ(sim_.Files().OpenHandleCount(), 0u);
  EXPECT_EQ(sim_.Registry().OpenHandleCount(), 0u);
}

TEST_F(Uninstall, TheScrubberIsFoundWhateverTheSuiteHoldsBesides) {
  // A long models list (more than fits 260 characters) with the device last; a product whose
  // name does not fit a folder name; a release number that takes precedence over ICE_REV.
  std::string data = "[Models]\r\n";
  std::string sections;
  for (int i = 0; i < 40; ++i) {
    data += "model" + std::to_string(i) + "=SECTION_" + std::to_string(i) + "\r\n";
    sections +=
        "[SECTION_" + std::to_string(i) + "]\r\ndevicemodel=Other " + std::to_string(i) + "\r\n";
  }
  data += "last=WANTED\r\n" + sections + "[WANTED]\r\ndevicemodel=Quvari QX-7000\r\n";
  sim_.Registry().PutString(kHklm, kProductsKey64, std::wstring(300, L'L'), L"");
  Product(L"QV7000", "[Version]\r\nDIVISION=def\r\nCOEXIST_RELEASE_NUM=12\r\nICE_REV=5\r\n",
          L"defscr12.dat", data);
  CL2Uninstall uninstall(sim_.Ports());
  ASSERT_TRUE(uninstall.Uinstall(Device(L"Quvari QX-7000", L"QX-7000")));
  EXPECT_EQ(Started().back().parameters,
            L"-datfile defscr12.dat -showdisconnect -nocopytotemp -forcereboot");

  // A data file name with a blank stays one argument.
  sim_.Files().Remove(std::wstring(kBrevane) + L"QV7000");
  Product(L"QV7000", "[Version]\r\nDIVISION=d e\r\nICE_REV=1\r\n", L"d escr1.dat", data);
  ASSERT_TRUE(uninstall.Uinstall(Device(L"Quvari QX-7000", L"QX-7000")));
  EXPECT_EQ(Started().back().parameters,
            L"-datfile \"d escr1.dat\" -showdisconnect -nocopytotemp -forcereboot");
}

TEST_F(Uninstall, TheScrubberCannotBeHad) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> breakIt;
  };
  const Case cases[] = {
      {"no install folder",
       [](kvd::sim::SimMachine& sim) { sim.Registry().RemoveKey(kHklm, kSuiteKey32); }},
      {"no installed products",
       [](kvd::sim::SimMachine& sim) { sim.Registry().RemoveKey(kHklm, kProductsKey64); }},
      {"no autorun.inf",
       [](kvd::sim::SimMachine& sim) {
         sim.Files().Remove(std::wstring(kBrevane) + L"QVAIO2400\\autorun.inf");
       }},
      {"an empty autorun.inf",
       [](kvd::sim::SimMachine& sim) {
         sim.Files().PutFile(std::wstring(kBrevane) + L"QVAIO2400\\autorun.inf", {});
       }},
      {"a data file without its Models section",
       [](kvd::sim::SimMachine& sim) {
         sim.Files().PutFile(std::wstring(kBrevane) + L"QVAIO2400\\setup\\abcscr5.dat",
                             Bytes("[MODEL_A]\r\ndevicemodel=Quvari QX-2400\r\n"));
       }},
      {"the scrubber itself is missing: not started is no success",
       [](kvd::sim::SimMachine& sim) {
         sim.Files().Remove(std::wstring(kBrevane) + L"QVAIO2400\\setup\\qvclean40.exe");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Product(L"QVAIO2400", kAutorun, L"abcscr5.dat", kData);
    c.breakIt(sim_);
    CL2Uninstall uninstall(sim_.Ports());
    EXPECT_FALSE(uninstall.Uinstall(Device(L"Quvari QX-2400", L"QX-2400")));
    EXPECT_TRUE(Started().empty());
  }
}

class LumeqUninstall : public Uninstall {
 protected:
  void SetUp() override {
    Uninstall::SetUp();
    sim_.Registry().PutString(kHklm, kSuiteKey32, L"InstallFolder",
                              L"C:\\Program Files (x86)\\Quvari\\\\");
    sim_.Registry().PutString(kHklm, kClassKey, L"MatchingDeviceId",
                              L"usb\\vid_2f8d&pid_0310&mi_00");
  }

  void ModelFolder(const std::wstring& name, const std::string& properties) {
    const std::wstring folder = L"C:\\Program Files (x86)\\Quvari\\" + name;
    if (!properties.empty()) sim_.Files().PutFile(folder + L"\\properties.ini", Bytes(properties));
    sim_.Files().PutFile(folder + L"\\Uninstall.exe", Bytes("MZ"));
  }

  void Installer(const std::wstring& name, const std::string& config) {
    const std::wstring folder = kInstallers + name;
    sim_.Files().PutFile(folder + L"\\Installer\\InstallerConfig.xml", Bytes(config));
    sim_.Files().PutFile(folder + L"\\Setup.exe", Bytes("MZ"));
  }

  static DeviceDetails Lumeq(bool network = false) {
    DeviceDetails device = Device(L"Quvari LQ 3100 Scanner", L"LQ 3100");
    device.bLumeq = true;
    device.bNetwork = network;
    return device;
  }
};

std::string Config(const std::string& usbId) {
  return "<?xml version=\"1.0\"?><InstallerConfigXML><cfgProductInfo><Models><Model><UsbID>" +
         usbId + "</UsbID></Model></Models></cfgProductInfo></InstallerConfigXML>";
}

TEST_F(LumeqUninstall, TheModelFolderWhosePropertiesListTheDevice) {
  ModelFolder(L"Brevane", "PRODUCT_VIDPID=VID_2F8D&PID_0310\r\n");  // not a Lumeq folder
  ModelFolder(L"Lumeq LQ2000", "PRODUCT_VIDPID=VID_2F8D&PID_0200\r\n");
  ModelFolder(L"Lumeq LQ3100",
              "NAME=x\r\nproduct_vidpid=vid_2f8d&pid_0310\r\n"
              "PRODUCT_VIDPID = VID_2F8D&PID_0310 \r\n");
  ModelFolder(L"Lumeq LQ3100 Copy", "PRODUCT_VIDPID=VID_2F8D&PID_0310\r\n");
  CL2Uninstall uninstall(sim_.Ports());
  ASSERT_TRUE(uninstall.UnInstallLumeqDevice(Lumeq()));
  ASSERT_EQ(Started().size(), 1u);
  // The first the file system lists of the two that name the device.
  EXPECT_EQ(Started()[0].file, L"C:\\Program Files (x86)\\Quvari\\Lumeq LQ3100\\Uninstall.exe");
  EXPECT_FALSE(Started()[0].parameters.has_value());

  // A network device is looked for under its own key.
  EXPECT_FALSE(uninstall.UnInstallLumeqDevice(Lumeq(true)));
  ModelFolder(L"Lumeq Net", "NETWORK_WIA_HWID=VID_2F8D&PID_0310\r\n");
  EXPECT_TRUE(uninstall.UnInstallLumeqDevice(Lumeq(true)));
  EXPECT_EQ(Started().back().file, L"C:\\Program Files (x86)\\Quvari\\Lumeq Net\\Uninstall.exe");
  EXPECT_EQ(sim_.Files().OpenHandleCount(), 0u);
}

TEST_F(LumeqUninstall, TheCatalogFileWhenNoPropertiesNameTheDevice) {
  sim_.Registry().PutString(kHklm, kClassKey, L"InfPath", L"oem7.inf");
  sim_.Files().PutFile(L"C:\\Windows\\inf\\oem7.inf",
                       Bytes("[Version]\r\nCatalogFile.NTx86=lq3100.cat\r\n"));
  ModelFolder(L"Lumeq A", "");
  ModelFolder(L"Lumeq B", "PRODUCT_VIDPID=VID_2F8D&PID_0999\r\n");
  sim_.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Lumeq B\\lq3100.cat", Bytes("c"));
  CL2Uninstall uninstall(sim_.Ports());
  ASSERT_TRUE(uninstall.UnInstallLumeqDevice(Lumeq()));
  EXPECT_EQ(Started().back().file, L"C:\\Program Files (x86)\\Quvari\\Lumeq B\\Uninstall.exe");
}

TEST_F(LumeqUninstall, NoModelFolder) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> breakIt;
  };
  const Case cases[] = {
      {"no MatchingDeviceId",
       [](kvd::sim::SimMachine& sim) { sim.Registry().RemoveKey(kHklm, kClassKey); }},
      {"an empty MatchingDeviceId",
       [](kvd::sim::SimMachine& sim) {
         sim.Registry().PutString(kHklm, kClassKey, L"MatchingDeviceId", L"");
       }},
      {"no install folder",
       [](kvd::sim::SimMachine& sim) { sim.Registry().RemoveKey(kHklm, kSuiteKey32); }},
      {"no InfPath", [](kvd::sim::SimMachine&) {}},
      {"no catalog file in any folder",
       [](kvd::sim::SimMachine& sim) {
         sim.Registry().PutString(kHklm, kClassKey, L"InfPath", L"oem7.inf");
       }},
      {"the uninstaller is missing: not started is no success",
       [](kvd::sim::SimMachine& sim) {
         sim.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Lumeq C\\properties.ini",
                             Bytes("PRODUCT_VIDPID=VID_2F8D&PID_0310"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    ModelFolder(L"Lumeq A", "PRODUCT_VIDPID=VID_2F8D&PID_0999\r\n");
    c.breakIt(sim_);
    CL2Uninstall uninstall(sim_.Ports());
    EXPECT_FALSE(uninstall.UnInstallLumeqDevice(Lumeq()));
    EXPECT_TRUE(Started().empty());
  }
}

TEST_F(LumeqUninstall, TheInstallerWhoseConfigurationNamesTheDevice) {
  struct Case {
    const char* name;
    std::string config;
    const wchar_t* deviceId;
    bool started;
  };
  const Case cases[] = {
      {"the device id holds the UsbID", Config(" VID_2F8D&amp;PID_0310 "),
       L"USB\\VID_2F8D&PID_0310&MI_00", true},
      {"the UsbID holds the device id", Config("usb\\vid_2f8d&amp;pid_0310&amp;mi_00&amp;x"),
       L"usb\\vid_2f8d&pid_0310&mi_00", true},
      {"another device", Config("VID_2F8D&amp;PID_0200"), L"usb\\vid_2f8d&pid_0310&mi_00", false},
      {"an empty UsbID matches nothing", Config(""), L"usb\\vid_2f8d&pid_0310", false},
      {"an empty device id matches nothing", Config("VID_2F8D"), L"", false},
      {"no UsbID node", "<InstallerConfigXML><cfgProductInfo/></InstallerConfigXML>",
       L"usb\\vid_2f8d&pid_0310", false},
      {"malformed", "<InstallerConfigXML><cfgProductInfo>", L"usb\\vid_2f8d&pid_0310", false},
      {"a document type is refused",
       "<!DOCTYPE InstallerConfigXML [<!ENTITY id \"VID_2F8D&amp;PID_0310\">]>" + Config("&id;"),
       L"usb\\vid_2f8d&pid_0310", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (sim_.Files().Exists(L"C:\\Program Files (x86)\\QV")) {
      sim_.Files().Remove(L"C:\\Program Files (x86)\\QV");
    }
    Installer(L"LQ Installer", c.config);
    const auto before = Started().size();
    CL2Uninstall uninstall(sim_.Ports());
    EXPECT_EQ(uninstall.UnInstallLumeqDevice(std::wstring(c.deviceId)), c.started);
    if (c.started) {
      ASSERT_EQ(Started().size(), before + 1);
      EXPECT_EQ(Started().back().file, std::wstring(kInstallers) + L"LQ Installer\\Setup.exe");
      EXPECT_EQ(Started().back().parameters, L"/Uninstall");
    } else {
      EXPECT_EQ(Started().size(), before);
    }
  }
}

TEST_F(LumeqUninstall, TheFamilyDecidesTheUninstaller) {
  // A Lumeq device that no model folder lists falls back to the installer found by its
  // MatchingDeviceId; an Ostrel device to its Windows Installer product; others the scrubber.
  Installer(L"LQ Installer", Config("VID_2F8D&amp;PID_0310"));
  ASSERT_TRUE(kvd::repair::UninstallDeviceSoftware(sim_.Ports(), Lumeq()));
  EXPECT_EQ(Started().back().file, std::wstring(kInstallers) + L"LQ Installer\\Setup.exe");

  sim_.Registry().RemoveKey(kHklm, kClassKey);
  EXPECT_FALSE(kvd::repair::UninstallDeviceSoftware(sim_.Ports(), Lumeq()));

  DeviceDetails ostrel = Device(L"Quvari QX-800 Series", L"QX-800");
  ostrel.bOstrel = true;
  sim_.Installer().AddProduct(MsiProduct(kFirst, L"QX-800"));
  Product(L"QVAIO2400", kAutorun, L"abcscr5.dat",
          "[Models]\r\nm=A\r\n[A]\r\ndevicemodel=Quvari QX-800 Series\r\n");
  EXPECT_TRUE(kvd::repair::UninstallDeviceSoftware(sim_.Ports(), ostrel));
  EXPECT_EQ(sim_.Installer().Configured().size(), 1u);
  const auto started = Started().size();
  ostrel.bOstrel = false;
  EXPECT_TRUE(kvd::repair::UninstallDeviceSoftware(sim_.Ports(), ostrel));
  ASSERT_EQ(Started().size(), started + 1);
  EXPECT_NE(Started().back().file.find(L"qvclean40.exe"), std::wstring::npos);
}

// The scenario the Wine tier uses: each family's device, as enumeration finds it, reaches its
// own uninstaller.
TEST_F(Uninstall, EachFamilyOfTheSuiteScenarioReachesItsUninstaller) {
  for (const char* name :
       {"usb-aio-composite.xml", "usb-tarvel.xml", "usb-lumeq.xml", "suite-uninstallers.xml"}) {
    kvd::test::ApplyNamed(name, sim_);
  }
  const std::wstring quvari = L"C:\\Program Files (x86)\\Quvari\\";
  for (const wchar_t* program :
       {L"Brevane\\QVAIO3400\\setup\\qvclean40.exe", L"Brevane\\QVT200\\setup\\qvclean40.exe",
        L"Lumeq LQ3100\\Uninstall.exe"}) {
    sim_.Files().PutFile(quvari + program, Bytes("MZ"));
  }
  std::vector<DeviceDetails> devices;
  ASSERT_TRUE(CScanners(sim_.Ports()).EnumerateScanners(devices));
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> started;  // description -> run
  for (const DeviceDetails& device : devices) {
    const auto before = Started().size();
    EXPECT_TRUE(kvd::repair::UninstallDeviceSoftware(sim_.Ports(), device))
        << kvd::platform::NarrowUtf8(device.strDeviceDesc);
    if (Started().size() != before + 1) continue;
    started[device.strDeviceDesc] = {Started().back().file,
                                     Started().back().parameters.value_or(L"")};
  }
  using Run = std::pair<std::wstring, std::wstring>;
  EXPECT_EQ(started,
            (std::map<std::wstring, Run>{
                {L"Quvari AIO 3400 Series",
                 {quvari + L"Brevane\\QVAIO3400\\setup\\qvclean40.exe",
                  L"-datfile aioscr34.dat -showdisconnect -nocopytotemp -forcereboot"}},
                {L"QV Tarvel T200",
                 {quvari + L"Brevane\\QVT200\\setup\\qvclean40.exe",
                  L"-datfile tvscr2.dat -showdisconnect -nocopytotemp -forcereboot"}},
                {L"QV Tarvel T200 Network",
                 {quvari + L"Brevane\\QVT200\\setup\\qvclean40.exe",
                  L"-datfile tvscr2.dat -showdisconnect -nocopytotemp -forcereboot"}},
                {L"Quvari LQ 3100 Scanner", {quvari + L"Lumeq LQ3100\\Uninstall.exe", L""}},
            }));
}

}  // namespace
