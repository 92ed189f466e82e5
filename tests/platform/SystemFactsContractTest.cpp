// The system-facts ports (version, token, programs, installer, adapters) as the program relies on
// them, checked on every target: the simulated machine natively, Windows under Wine. Message
// boxes stay out: under Wine one would wait for a click.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

constexpr std::uint32_t kErrorNoneMapped = 1332;
constexpr std::uint32_t kErrorUnknownProduct = 1605;
constexpr std::uint32_t kSeGroupEnabled = 0x4;

// A product code that no installer has registered.
constexpr wchar_t kMadeUpProduct[] = L"{5E1F0C3A-7B2D-4C86-A9E4-3D0B6F81C2A7}";

class SystemFactsContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override { machine_ = GetParam().make(); }

  Platform& ports() { return machine_->Ports(); }

  bool Exists(const std::wstring& path) {
    FileAttributeData data;
    return ports().files.GetFileAttributesEx(path.c_str(), &data);
  }

  // A program that exists: the system's command interpreter where there is one, else a file
  // put into the scratch folder (the simulated machine starts any file that exists).
  std::wstring ExistingProgram() {
    wchar_t system[260] = {};
    if (hr::Succeeded(ports().files.GetFolderPath(csidl::System, system))) {
      const std::wstring interpreter = std::wstring(system) + L"\\cmd.exe";
      if (Exists(interpreter)) return interpreter;
    }
    const std::wstring path = machine_->ScratchFolder() + L"\\cmd.exe";
    auto file = MakeUniqueFile(ports().files,
                               ports().files.CreateFile(path.c_str(), file::GenericWrite, 0,
                                                        file::CreateAlways, file::AttributeNormal));
    EXPECT_TRUE(file.valid());
    const char image[] = "MZ";
    std::uint32_t written = 0;
    EXPECT_TRUE(ports().files.WriteFile(file.get(), image, 2, &written));
    return path;
  }

  std::unique_ptr<test::TestMachine> machine_;
};

// S-1-5-21-1-2-3-4567: a domain account SID that no machine knows.
std::vector<std::uint8_t> UnmappedSid() {
  std::vector<std::uint8_t> sid = {1, 5, 0, 0, 0, 0, 0, 5};
  for (const std::uint32_t part : {21u, 1u, 2u, 3u, 4567u}) {
    for (int shift = 0; shift < 32; shift += 8) {
      sid.push_back(static_cast<std::uint8_t>(part >> shift));
    }
  }
  return sid;
}

// The version is an NT one with an EX block (the product type is only there), and VerifyVersion
// agrees with it: the system is at least XP exactly when GetVersionEx says so, at least itself,
// and below its next service pack, its next major version and a far future one.
TEST_P(SystemFactsContract, VersionIsNtAndVerifyAgreesWithIt) {
  ISystemInfo& system = ports().system;
  OsVersionInfo version;
  ASSERT_TRUE(system.GetVersionEx(&version));
  EXPECT_EQ(version.platformId, os::PlatformWin32Nt);
  EXPECT_GE(version.majorVersion, 5u);
  EXPECT_TRUE(version.productType == os::NtWorkstation ||
              version.productType == os::NtDomainController || version.productType == os::NtServer)
      << int{version.productType};

  struct Case {
    const char* name;
    std::uint32_t major, minor;
    std::uint16_t servicePackMajor, servicePackMinor;
    bool expected;
  };
  const bool atLeastXp =
      std::tie(version.majorVersion, version.minorVersion) >= std::make_tuple(5u, 1u);
  const Case cases[] = {
      {"Xp", 5, 1, 0, 0, atLeastXp},
      {"Itself", version.majorVersion, version.minorVersion, version.servicePackMajor,
       version.servicePackMinor, true},
      {"NextServicePack", version.majorVersion, version.minorVersion,
       static_cast<std::uint16_t>(version.servicePackMajor + 1), 0, false},
      {"NextMajor", version.majorVersion + 1, 0, 0, 0, false},
      {"FarFuture", 99, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(system.VerifyVersionAtLeast(c.major, c.minor, c.servicePackMajor, c.servicePackMinor),
              c.expected)
        << version.majorVersion << "." << version.minorVersion << " SP" << version.servicePackMajor
        << "." << version.servicePackMinor;
  }
}

// Both targets are the 32-bit program on a 64-bit system.
// An installed family has faces, a made-up one none; a font is made from its fields and deleted
// once.
TEST_P(SystemFactsContract, FontFamiliesAndFonts) {
  IGdi& gdi = ports().gdi;
  // Tahoma ships with Wine and with every Windows since XP.
  EXPECT_GT(gdi.EnumFontFamiliesEx(L"Tahoma", font::DefaultCharset), 0);
  EXPECT_EQ(gdi.EnumFontFamiliesEx(L"Kvd No Such Family", font::DefaultCharset), 0);
  EXPECT_EQ(gdi.EnumFontFamiliesEx(std::wstring(40, L'x').c_str(), font::DefaultCharset), 0);
  FontSpec spec;
  spec.height = 18;
  spec.weight = font::FwBold;
  spec.charSet = font::AnsiCharset;
  spec.pitchAndFamily = font::FfSwiss;
  spec.faceName = L"Tahoma";
  const FontHandle made = gdi.CreateFont(spec);
  ASSERT_NE(made, 0u);
  EXPECT_TRUE(gdi.DeleteObject(made));
  EXPECT_FALSE(gdi.DeleteObject(made));
}

TEST_P(SystemFactsContract, ThirtyTwoBitProgramRunsUnderWow64) {
  bool wow64 = false;
  ASSERT_TRUE(ports().system.IsWow64Process(&wow64));
  EXPECT_TRUE(wow64);
}

// The program runs as an administrator (the manifest asks for it; Wine runs everything so): the
// token lists BUILTIN\Administrators enabled, every group's SID is whole, and the group has an
// account name.
TEST_P(SystemFactsContract, TokenHoldsTheAdministratorsGroup) {
  ISecurity& security = ports().security;
  std::vector<TokenGroup> groups;
  ASSERT_TRUE(security.GetProcessTokenGroups(&groups));
  ASSERT_FALSE(groups.empty());
  const TokenGroup* administrators = nullptr;
  for (const TokenGroup& group : groups) {
    ASSERT_GE(group.sid.size(), 8u);
    EXPECT_EQ(group.sid[0], 1);  // SID_REVISION
    EXPECT_EQ(group.sid.size(), 8u + 4u * group.sid[1]);
    if (group.sid == AdministratorsSid()) administrators = &group;
  }
  ASSERT_NE(administrators, nullptr);
  EXPECT_NE(administrators->attributes & kSeGroupEnabled, 0u);

  std::wstring name;
  std::wstring domain;
  ASSERT_TRUE(security.LookupAccountSid(AdministratorsSid(), &name, &domain));
  EXPECT_FALSE(name.empty());
  EXPECT_FALSE(domain.empty());
}

// A well-formed SID that no account has is "none mapped", not an error of the call.
TEST_P(SystemFactsContract, SidWithoutAnAccountIsNotMapped) {
  ports().errors.SetLastError(0);
  std::wstring name = L"untouched";
  std::wstring domain;
  EXPECT_FALSE(ports().security.LookupAccountSid(UnmappedSid(), &name, &domain));
  EXPECT_EQ(ports().errors.GetLastError(), kErrorNoneMapped);
}

// A missing program is not found; an existing one starts, and both of its handles are the
// caller's: the process handle can be waited on, and each closes once.
TEST_P(SystemFactsContract, CreateProcessStartsOnlyWhatExists) {
  IShell& shell = ports().shell;
  ISync& sync = ports().sync;
  const std::wstring missing = machine_->ScratchFolder() + L"\\kvd-missing.exe";
  ProcessInformation none;
  EXPECT_FALSE(shell.CreateProcess(missing.c_str(), nullptr, &none));
  EXPECT_EQ(ports().errors.GetLastError(), err::FileNotFound);

  const std::wstring program = ExistingProgram();
  ProcessInformation started;
  ASSERT_TRUE(shell.CreateProcess(program.c_str(), L"cmd /c exit 0", &started))
      << NarrowUtf8(program) << ", error " << ports().errors.GetLastError();
  EXPECT_NE(started.process, 0u);
  EXPECT_NE(started.thread, 0u);
  EXPECT_NE(started.process, started.thread);
  EXPECT_NE(started.processId, 0u);
  EXPECT_NE(started.threadId, 0u);
  EXPECT_EQ(sync.WaitForSingleObject(started.process, 60 * 1000), wait::Object0);
  EXPECT_TRUE(sync.CloseHandle(started.thread));
  EXPECT_TRUE(sync.CloseHandle(started.process));
  EXPECT_FALSE(sync.CloseHandle(started.process));
}

// The product list ends with ERROR_NO_MORE_ITEMS after codes in braces; a product nobody
// installed is unknown to every call that names it; the UI level is handed back on each change.
TEST_P(SystemFactsContract, InstallerListsProductsAndKnowsNoOthers) {
  IInstaller& installer = ports().installer;
  std::uint32_t index = 0;
  std::uint32_t result = err::Success;
  for (; index < 1000; ++index) {
    wchar_t code[msi::ProductCodeChars] = {};
    result = installer.MsiEnumProducts(index, code);
    if (result != err::Success) break;
    const std::wstring text(code);
    SCOPED_TRACE(NarrowUtf8(text));
    ASSERT_EQ(text.size(), msi::ProductCodeChars - 1);
    EXPECT_EQ(text.front(), L'{');
    EXPECT_EQ(text.back(), L'}');
    EXPECT_NE(text, kMadeUpProduct);
  }
  EXPECT_EQ(result, err::NoMoreItems) << "at index " << index;
  wchar_t past[msi::ProductCodeChars] = {};
  EXPECT_EQ(installer.MsiEnumProducts(index + 1, past), err::NoMoreItems);

  wchar_t value[64] = {};
  std::uint32_t chars = static_cast<std::uint32_t>(std::size(value));
  EXPECT_EQ(installer.MsiGetProductInfo(kMadeUpProduct, L"Publisher", value, &chars),
            kErrorUnknownProduct);
  MsiHandle handle = 0xBAD;
  EXPECT_EQ(installer.MsiOpenProduct(kMadeUpProduct, &handle), kErrorUnknownProduct);
  EXPECT_EQ(handle, 0u);

  const std::uint32_t quiet = msi::UiLevelNone | msi::UiLevelSourceResOnly;
  const std::uint32_t before = installer.MsiSetInternalUI(quiet);
  EXPECT_EQ(installer.MsiSetInternalUI(before), quiet);
}

// The adapter list comes in two steps: the size first (or "no data" without any adapter), then
// the list for a buffer that large; a buffer too small is answered with the size again.
TEST_P(SystemFactsContract, AdaptersComeInTwoSteps) {
  INetwork& network = ports().network;
  std::uint32_t bytes = 0;
  const std::uint32_t sizeAnswer =
      network.GetAdaptersAddresses(net::AfInet, net::GaaFlagIncludePrefix, nullptr, &bytes);
  if (sizeAnswer == net::ErrorNoData) GTEST_SKIP() << "this machine has no network adapter";
  ASSERT_EQ(sizeAnswer, net::ErrorBufferOverflow);
  ASSERT_GT(bytes, 0u);

  std::vector<AdapterAddress> adapters;
  std::uint32_t small = 16;
  EXPECT_EQ(network.GetAdaptersAddresses(net::AfInet, net::GaaFlagIncludePrefix, &adapters, &small),
            net::ErrorBufferOverflow);
  EXPECT_GE(small, bytes);
  EXPECT_TRUE(adapters.empty());

  ASSERT_EQ(network.GetAdaptersAddresses(net::AfInet, net::GaaFlagIncludePrefix, &adapters, &bytes),
            err::Success);
  ASSERT_FALSE(adapters.empty());
  for (const AdapterAddress& adapter : adapters) {
    SCOPED_TRACE(adapter.adapterName);
    EXPECT_FALSE(adapter.adapterName.empty());
    EXPECT_FALSE(adapter.friendlyName.empty());
    EXPECT_NE(adapter.ifType, 0u);
  }

  // No device answers for an adapter that does not exist.
  std::uint32_t medium = 0xBAD;
  EXPECT_FALSE(network.QueryPhysicalMedium(L"{00000000-0000-0000-0000-000000000000}", &medium));
  EXPECT_EQ(medium, 0xBADu);
}

// The maker's configuration files as the program reads them.
TEST_P(SystemFactsContract, IniValuesBySectionAndKey) {
  const std::wstring path = machine_->ScratchFolder() + L"\\config.ini";
  {
    auto& files = ports().files;
    auto handle =
        MakeUniqueFile(files, files.CreateFile(path.c_str(), file::GenericWrite, 0,
                                               file::CreateAlways, file::AttributeNormal));
    ASSERT_TRUE(handle.valid());
    const std::string text =
        "; written by the maker's software\r\n[DeviceInfo]\r\nModelName =  QX-800 Series  \r\n"
        "Quoted=\"  kept  \"\r\nIPAddress=\r\n[ScannerInfo]\r\nDeviceInstanceId=USB\\VID_1A2B\r\n";
    std::uint32_t written = 0;
    ASSERT_TRUE(files.WriteFile(handle.get(), text.data(), static_cast<std::uint32_t>(text.size()),
                                &written));
  }
  struct Case {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* file;
    std::wstring expected;
  };
  const std::wstring missing = machine_->ScratchFolder() + L"\\missing.ini";
  const Case cases[] = {
      {L"DeviceInfo", L"ModelName", path.c_str(), L"QX-800 Series"},
      {L"deviceinfo", L"MODELNAME", path.c_str(), L"QX-800 Series"},
      {L"DeviceInfo", L"Quoted", path.c_str(), L"  kept  "},
      {L"DeviceInfo", L"IPAddress", path.c_str(), L""},
      {L"DeviceInfo", L"Absent", path.c_str(), L"default"},
      {L"ScannerInfo", L"DeviceInstanceId", path.c_str(), L"USB\\VID_1A2B"},
      {L"ScannerInfo", L"ModelName", path.c_str(), L"default"},
      {L"DeviceInfo", L"ModelName", missing.c_str(), L"default"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(NarrowUtf8(std::wstring(c.section) + L"/" + c.key));
    wchar_t value[64] = {};
    const std::uint32_t chars = ports().ini.GetPrivateProfileString(
        c.section, c.key, L"default", value, static_cast<std::uint32_t>(std::size(value)), c.file);
    EXPECT_EQ(std::wstring(value, chars), c.expected);
  }
  wchar_t small[4] = {};
  EXPECT_EQ(
      ports().ini.GetPrivateProfileString(L"DeviceInfo", L"ModelName", L"", small, 4, path.c_str()),
      3u);
  EXPECT_EQ(std::wstring(small), L"QX-");

  // A whole section: its entries, each ending in a NUL, the list in one more.
  wchar_t section[128] = {};
  const std::uint32_t listed = ports().ini.GetPrivateProfileSection(
      L"deviceinfo", section, static_cast<std::uint32_t>(std::size(section)), path.c_str());
  const std::wstring entries(section, listed);
  const std::wstring nul(1, L'\0');
  EXPECT_EQ(entries,
            L"ModelName=QX-800 Series" + nul + L"Quoted=\"  kept  \"" + nul + L"IPAddress=" + nul);
  EXPECT_EQ(section[listed], L'\0');
  // A buffer too small for the section: chars - 2, and the first entry complete.
  wchar_t cut[30] = {};
  EXPECT_EQ(ports().ini.GetPrivateProfileSection(L"DeviceInfo", cut, 30, path.c_str()), 28u);
  EXPECT_EQ(std::wstring(cut), L"ModelName=QX-800 Series");
  EXPECT_EQ(ports().ini.GetPrivateProfileSection(L"Absent", section, 128, path.c_str()), 0u);
  EXPECT_EQ(ports().ini.GetPrivateProfileSection(L"DeviceInfo", section, 128, missing.c_str()), 0u);
}

INSTANTIATE_TEST_SUITE_P(All, SystemFactsContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
