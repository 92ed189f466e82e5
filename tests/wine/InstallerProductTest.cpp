// A real Windows Installer product under Wine, read back through the installer port the way the
// program reads a maker's product: found in the product list, described by its registered info,
// opened and costed for its properties and folders, and removed. The product is
// fixtures/quvari-model.wxs, built with wixl next to this executable.
#include "platform/win32/Windows.h"

#include <msi.h>

// The ports' methods of these names are called below; <windows.h> and <msi.h> would rename them.
#undef CreateProcess
#undef MsiConfigureProduct
#undef MsiEnumProducts
#undef MsiGetProductInfo

#include <gtest/gtest.h>

#include "system/Helper.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {
namespace {

// The fixture's Product Id.
constexpr wchar_t kProductCode[] = L"{BA88E81C-DD62-4AEA-A3BE-17DC30AFE3B7}";
constexpr wchar_t kOtherProduct[] = L"{5E1F0C3A-7B2D-4C86-A9E4-3D0B6F81C2A7}";

constexpr std::uint32_t kErrorUnknownProduct = 1605;
constexpr std::uint32_t kErrorUnknownProperty = 1608;
constexpr std::uint32_t kErrorDirectory = 267;
constexpr int kInstallLevelDefault = 0;
constexpr int kInstallStateAbsent = 2;
static_assert(kErrorUnknownProduct == ERROR_UNKNOWN_PRODUCT);
static_assert(kErrorUnknownProperty == ERROR_UNKNOWN_PROPERTY);
static_assert(kErrorDirectory == ERROR_DIRECTORY);
static_assert(kInstallLevelDefault == INSTALLLEVEL_DEFAULT);
static_assert(kInstallStateAbsent == INSTALLSTATE_ABSENT);

// One installer text read the way the program reads it: a first buffer too small on purpose, then
// one of the length the installer answered.
struct InstallerText {
  std::uint32_t result = err::Success;
  std::wstring text;
  int calls = 0;
};

template <class Call>
InstallerText ReadGrowing(Call&& call) {
  InstallerText out;
  std::vector<wchar_t> buffer(4);
  for (;;) {
    auto chars = static_cast<std::uint32_t>(buffer.size());
    ++out.calls;
    out.result = call(buffer.data(), &chars);
    if (out.result == err::Success) out.text.assign(buffer.data(), chars);
    if (out.result != err::MoreData || out.calls == 4) return out;
    buffer.assign(chars + 1, L'\0');
  }
}

class InstallerProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    quvariFolder_ = Folder(csidl::ProgramFilesX86) + L"\\Quvari";
    quvariFolderExisted_ = Exists(quvariFolder_);
    const std::wstring package = ExecutableFolder() + L"\\quvari-model.msi";
    ASSERT_TRUE(Exists(package)) << NarrowUtf8(package) << " is built with the tests (wixl)";
    ASSERT_EQ(RunMsiexec(L"/i \"" + package + L"\" /qn"), 0u);
    // The program asks the installer with its user interface off; so do the tests.
    previousUiLevel_ = installer().MsiSetInternalUI(msi::UiLevelNone);
  }

  void TearDown() override {
    installer().MsiSetInternalUI(previousUiLevel_);
    // A test may have removed the product itself.
    const std::uint32_t exitCode = RunMsiexec(std::wstring(L"/x ") + kProductCode + L" /qn");
    EXPECT_TRUE(exitCode == 0 || exitCode == kErrorUnknownProduct) << exitCode;
    wchar_t value[64] = {};
    auto chars = static_cast<std::uint32_t>(std::size(value));
    EXPECT_EQ(installer().MsiGetProductInfo(kProductCode, L"Publisher", value, &chars),
              kErrorUnknownProduct);
    // Wine's uninstall leaves the emptied parent folder behind; remove it when it is ours (the
    // call removes only an empty folder).
    if (!quvariFolderExisted_) ::RemoveDirectoryW(quvariFolder_.c_str());
  }

  IInstaller& installer() { return platform_.Ports().installer; }
  IFileSystem& files() { return platform_.Ports().files; }

  std::wstring Folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(files().GetFolderPath(csidl, path), hr::Ok) << csidl;
    return path;
  }

  bool Exists(const std::wstring& path) {
    FileAttributeData data;
    return files().GetFileAttributesEx(path.c_str(), &data);
  }

  std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    const std::uint32_t chars = platform_.Ports().process.GetModuleFileName(
        0, path, static_cast<std::uint32_t>(std::size(path)));
    EXPECT_GT(chars, 0u);
    return PathRemoveFileSpec(std::wstring(path, chars));
  }

  // msiexec with these arguments, started through the shell port and waited for: its exit code,
  // or ~0 when it could not be run to its end.
  std::uint32_t RunMsiexec(const std::wstring& arguments) {
    ISync& sync = platform_.Ports().sync;
    const std::wstring program = Folder(csidl::System) + L"\\msiexec.exe";
    const std::wstring commandLine = L"msiexec " + arguments;
    ProcessInformation started;
    if (!platform_.Ports().shell.CreateProcess(program.c_str(), commandLine.c_str(), &started)) {
      ADD_FAILURE() << "CreateProcess " << NarrowUtf8(program) << " failed with error "
                    << platform_.Ports().errors.GetLastError();
      return ~0u;
    }
    const UniqueSync process = MakeUniqueSync(sync, started.process);
    const UniqueSync thread = MakeUniqueSync(sync, started.thread);
    // Far longer than an install of this size takes; only a hung msiexec reaches it.
    if (sync.WaitForSingleObject(process.get(), 5 * 60 * 1000) != wait::Object0) {
      ADD_FAILURE() << NarrowUtf8(commandLine) << " did not end";
      return ~0u;
    }
    DWORD exitCode = ~0u;
    EXPECT_TRUE(::GetExitCodeProcess(reinterpret_cast<HANDLE>(process.get()), &exitCode));
    return exitCode;
  }

  Win32Platform platform_;
  std::uint32_t previousUiLevel_ = 0;
  std::wstring quvariFolder_;
  bool quvariFolderExisted_ = false;
};

// The installed product is in the list, and its registered info reads in two steps (the first
// buffer is too small: ERROR_MORE_DATA with the length, without the NUL).
TEST_F(InstallerProductTest, ListedAndDescribedByItsInfo) {
  bool listed = false;
  for (std::uint32_t index = 0; index < 1000 && !listed; ++index) {
    wchar_t code[msi::ProductCodeChars] = {};
    const std::uint32_t result = installer().MsiEnumProducts(index, code);
    if (result != err::Success) {
      EXPECT_EQ(result, err::NoMoreItems);
      break;
    }
    listed = std::wstring(code) == kProductCode;
  }
  EXPECT_TRUE(listed);

  struct Case {
    const char* name;
    const wchar_t* property;
    std::uint32_t result;
    std::wstring text;
    int calls;
  };
  const Case cases[] = {
      {"Publisher", L"Publisher", err::Success, L"Quvari Imaging", 2},
      {"ProductName", L"ProductName", err::Success, L"Quvari QX-2400 Model Support", 2},
      {"VersionString", L"VersionString", err::Success, L"1.0.0", 2},
      {"UnknownProperty", L"KvdNoSuchInfo", kErrorUnknownProperty, L"", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InstallerText read = ReadGrowing([&](wchar_t* buffer, std::uint32_t* chars) {
      return installer().MsiGetProductInfo(kProductCode, c.property, buffer, chars);
    });
    EXPECT_EQ(read.result, c.result);
    EXPECT_EQ(read.text, c.text);
    EXPECT_EQ(read.calls, c.calls);
  }
}

// Opened, the product answers its properties at once but its folders only once costing has
// resolved them; then INSTALLDIR is the folder the package names, with a trailing backslash.
TEST_F(InstallerProductTest, OpenedProductAnswersPropertiesAndFoldersAfterCosting) {
  MsiHandle handle = 0;
  ASSERT_EQ(installer().MsiOpenProduct(kProductCode, &handle), err::Success);
  ASSERT_NE(handle, 0u);
  const auto targetPath = [&](const wchar_t* folder) {
    return ReadGrowing([&](wchar_t* buffer, std::uint32_t* chars) {
      return installer().MsiGetTargetPath(handle, folder, buffer, chars);
    });
  };
  const auto property = [&](const wchar_t* name) {
    return ReadGrowing([&](wchar_t* buffer, std::uint32_t* chars) {
      return installer().MsiGetProductProperty(handle, name, buffer, chars);
    });
  };

  EXPECT_EQ(targetPath(L"INSTALLDIR").result, kErrorDirectory);
  for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
    SCOPED_TRACE(NarrowUtf8(action));
    EXPECT_EQ(installer().MsiDoAction(handle, action), err::Success);
  }

  const InstallerText model = property(L"ModelName");
  EXPECT_EQ(model.result, err::Success);
  EXPECT_EQ(model.text, L"QX-2400");
  EXPECT_EQ(model.calls, 2);
  const InstallerText unknown = property(L"KvdNoSuchProperty");
  EXPECT_EQ(unknown.result, err::Success);
  EXPECT_EQ(unknown.text, L"");

  const InstallerText folder = targetPath(L"INSTALLDIR");
  EXPECT_EQ(folder.result, err::Success);
  EXPECT_TRUE(EqualsNoCase(folder.text, quvariFolder_ + L"\\QX2400\\")) << NarrowUtf8(folder.text);
  EXPECT_EQ(targetPath(L"KvdNoSuchFolder").result, kErrorDirectory);

  EXPECT_EQ(installer().MsiCloseHandle(handle), err::Success);
  EXPECT_EQ(installer().MsiCloseHandle(handle), err::InvalidHandle);
}

// Configuring the product absent removes it, folder and registration; a product nobody
// installed cannot be configured.
TEST_F(InstallerProductTest, ConfiguredAbsentIsRemoved) {
  const std::wstring folder = quvariFolder_ + L"\\QX2400";
  ASSERT_TRUE(Exists(folder));
  EXPECT_EQ(
      installer().MsiConfigureProduct(kOtherProduct, kInstallLevelDefault, kInstallStateAbsent),
      kErrorUnknownProduct);
  ASSERT_EQ(
      installer().MsiConfigureProduct(kProductCode, kInstallLevelDefault, kInstallStateAbsent),
      err::Success);
  wchar_t value[64] = {};
  auto chars = static_cast<std::uint32_t>(std::size(value));
  EXPECT_EQ(installer().MsiGetProductInfo(kProductCode, L"Publisher", value, &chars),
            kErrorUnknownProduct);
  EXPECT_FALSE(Exists(folder));
}

}  // namespace
// The program's own lookup of a model's folder, against the real installer.
TEST_F(InstallerProductTest, TheInstallFolderOfTheModel) {
  CUtil util(platform_.Ports());
  const std::wstring folder = util.GetInstallDirForModel(L"Quvari QX-2400 Series");
  EXPECT_TRUE(EqualsNoCase(folder, Folder(csidl::ProgramFilesX86) + L"\\Quvari\\QX2400\\qx-2400"))
      << NarrowUtf8(folder);
  EXPECT_EQ(util.GetInstallDirForModel(L"QX-9000"), L"");
}

}  // namespace kvd::platform::win32
