// What only the simulated machine does: fault injection, call counts, its set-up helpers, the
// Windows details the contract suites cannot pin on every target, and its own clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"
#include "tests/platform/SimTestMachine.h"
#include "tests/support/PortHelpers.h"

namespace kvd::sim {
namespace {

namespace err = platform::err;
namespace file = platform::file;
namespace sam = platform::sam;
namespace wait = platform::wait;
using platform::HKey;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using Bytes = std::vector<std::uint8_t>;

class SimMachineTest : public ::testing::Test {
 protected:
  platform::Platform& ports() { return sim_.Ports(); }
  std::uint32_t LastError() { return sim_.Errors().ThreadError(); }

  platform::LStatus OpenKey(HKey root, const wchar_t* path, std::uint32_t access) {
    platform::UniqueHkey key = platform::MakeUniqueHkey(ports().registry);
    return ports().registry.OpenKeyEx(root, path, access, key.put());
  }

  std::vector<std::wstring> SubKeyNames(HKey root, const wchar_t* path, std::uint32_t view) {
    platform::UniqueHkey key = platform::MakeUniqueHkey(ports().registry);
    std::vector<std::wstring> names;
    if (ports().registry.OpenKeyEx(root, path, sam::Read | view, key.put()) != 0) return names;
    for (std::uint32_t i = 0;; ++i) {
      wchar_t name[256];
      std::uint32_t chars = 256;
      if (ports().registry.EnumKeyEx(key.get(), i, name, &chars, nullptr) != 0) return names;
      names.emplace_back(name, chars);
    }
  }

  std::wstring FolderPath(int csidl) {
    wchar_t path[260] = {};
    return ports().files.GetFolderPath(csidl, path) == platform::hr::Ok ? path : L"<failed>";
  }

  platform::FileHandle Open(const std::wstring& path, std::uint32_t access,
                            std::uint32_t disposition, std::uint32_t share = 0) {
    return ports().files.CreateFile(path.c_str(), access, share, disposition,
                                    file::AttributeNormal);
  }

  SimMachine sim_;
};

// ---------------------------------------------------------------------------------------------
// Faults and counts

// One call of a port method, reporting the error code it failed with (0 on success) in the
// form its interface uses: the LSTATUS, the last error, or the HRESULT.
struct FaultCase {
  const char* method;
  std::function<std::uint32_t(platform::Platform&, SimErrors&)> call;
  bool hresult = false;
};

std::uint32_t LastErrorIf(bool failed, SimErrors& errors) {
  return failed ? errors.ThreadError() : 0;
}

std::vector<FaultCase> FaultCases() {
  using platform::Platform;
  return {
      {"OpenKeyEx",
       [](Platform& p, SimErrors&) {
         platform::UniqueHkey key = platform::MakeUniqueHkey(p.registry);
         return static_cast<std::uint32_t>(
             p.registry.OpenKeyEx(kHkeyCurrentUser, L"Software", sam::Read, key.put()));
       }},
      {"QueryValueEx",
       [](Platform& p, SimErrors&) {
         std::uint32_t bytes = 0;
         // The default value of HKCU exists in no form: success here means "not faulted".
         const auto status =
             p.registry.QueryValueEx(kHkeyCurrentUser, L"", nullptr, nullptr, &bytes);
         return status == static_cast<platform::LStatus>(err::FileNotFound)
                    ? 0u
                    : static_cast<std::uint32_t>(status);
       }},
      {"CreateFile",
       [](Platform& p, SimErrors& e) {
         auto handle = platform::MakeUniqueFile(
             p.files, p.files.CreateFile(L"C:\\ProgramData\\f.txt", file::GenericWrite, 0,
                                         file::OpenAlways, file::AttributeNormal));
         return LastErrorIf(!handle.valid(), e);
       }},
      {"GetTempFileName",
       [](Platform& p, SimErrors& e) {
         wchar_t name[260];
         return LastErrorIf(p.files.GetTempFileName(L"C:\\ProgramData", L"kvd", 7, name) == 0, e);
       }},
      {"GetFolderPath",
       [](Platform& p, SimErrors&) {
         wchar_t path[260];
         return static_cast<std::uint32_t>(p.files.GetFolderPath(platform::csidl::Windows, path));
       },
       true},
      {"ExpandEnvironmentStrings",
       [](Platform& p, SimErrors& e) {
         wchar_t out[64];
         return LastErrorIf(p.environment.ExpandEnvironmentStrings(L"%TEMP%", out, 64) == 0, e);
       }},
      {"GetModuleFileName",
       [](Platform& p, SimErrors& e) {
         wchar_t out[260];
         return LastErrorIf(p.process.GetModuleFileName(0, out, 260) == 0, e);
       }},
      {"QueryPerformanceCounter",
       [](Platform& p, SimErrors& e) {
         std::int64_t counter = 0;
         return LastErrorIf(!p.clock.QueryPerformanceCounter(&counter), e);
       }},
      {"FormatMessage",
       [](Platform& p, SimErrors& e) {
         wchar_t out[260];
         return LastErrorIf(p.errors.FormatMessage(2, 0, out, 260) == 0, e);
       }},
      {"WaitForSingleObject",
       [](Platform& p, SimErrors& e) {
         auto mutex = platform::MakeUniqueSync(p.sync, p.sync.CreateMutex(false, nullptr));
         const bool failed = p.sync.WaitForSingleObject(mutex.get(), 0) == wait::Failed;
         const std::uint32_t code = LastErrorIf(failed, e);
         if (!failed) p.sync.ReleaseMutex(mutex.get());
         return code;
       }},
  };
}

TEST_F(SimMachineTest, TheNthCallFailsOnceInTheShapeOfItsInterface) {
  constexpr std::uint32_t kGenFailure = 31;
  for (const FaultCase& c : FaultCases()) {
    SCOPED_TRACE(c.method);
    const std::uint32_t expected =
        c.hresult ? static_cast<std::uint32_t>(platform::hr::FromWin32(kGenFailure)) : kGenFailure;
    ASSERT_EQ(c.call(ports(), sim_.Errors()), 0u);
    sim_.InjectFault(c.method, 2, kGenFailure);
    EXPECT_EQ(c.call(ports(), sim_.Errors()), 0u);
    EXPECT_EQ(c.call(ports(), sim_.Errors()), expected);
    EXPECT_EQ(c.call(ports(), sim_.Errors()), 0u);
    EXPECT_EQ(sim_.CallCount(c.method), 4u);
  }
}

TEST_F(SimMachineTest, PersistentFaultsLastUntilCleared) {
  sim_.InjectFault("OpenKeyEx", 1, err::AccessDenied, true);
  sim_.InjectFault("CloseHandle", 1, err::InvalidHandle);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(OpenKey(kHkeyCurrentUser, L"Software", sam::Read),
              static_cast<platform::LStatus>(err::AccessDenied));
  }
  // CloseHandle is one method for files and mutexes, as on Windows.
  const platform::SyncHandle mutex = ports().sync.CreateMutex(false, nullptr);
  EXPECT_FALSE(ports().sync.CloseHandle(mutex));
  EXPECT_EQ(LastError(), err::InvalidHandle);
  EXPECT_TRUE(ports().sync.CloseHandle(mutex));
  sim_.ClearFaults();
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, L"Software", sam::Read), 0);
  EXPECT_EQ(sim_.CallCount("OpenKeyEx"), 4u);
  EXPECT_EQ(sim_.CallCount("CloseHandle"), 2u);
}

TEST_F(SimMachineTest, OnlyPortCallsAreCounted) {
  sim_.Registry().PutString(kHkeyCurrentUser, L"Software\\Quvari", L"Name", L"QS-20");
  EXPECT_TRUE(sim_.Registry().GetValue(kHkeyCurrentUser, L"Software\\Quvari", L"Name"));
  sim_.Files().PutFile(L"C:\\a.txt", {'a'});
  sim_.Clock().Advance(10);
  EXPECT_EQ(sim_.CallCount("OpenKeyEx"), 0u);
  EXPECT_EQ(sim_.CallCount("CreateFile"), 0u);
  EXPECT_EQ(OpenKey(kHkeyCurrentUser, L"Software\\Quvari", sam::Read), 0);
  ports().clock.Sleep(5);
  ports().clock.GetTickCount();
  ports().clock.GetTickCount();
  EXPECT_EQ(sim_.CallCount("OpenKeyEx"), 1u);
  EXPECT_EQ(sim_.CallCount("CloseKey"), 1u);
  EXPECT_EQ(sim_.CallCount("Sleep"), 1u);
  EXPECT_EQ(sim_.CallCount("GetTickCount"), 2u);
}

TEST_F(SimMachineTest, FaultsCanOnlyBeInjectedWhereWindowsCanFail) {
  EXPECT_THROW(sim_.InjectFault("GetTickCount", 1, 5), std::invalid_argument);
  EXPECT_THROW(sim_.InjectFault("Sleep", 1, 5), std::invalid_argument);
  EXPECT_THROW(sim_.InjectFault("OpenKey", 1, 5), std::invalid_argument);  // misspelt
  EXPECT_THROW(sim_.InjectFault("CreateFile", 0, 5), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// Registry

TEST_F(SimMachineTest, SetUpUsesRealPathsAndThePortsSeeThe32BitView) {
  sim_.Registry().PutString(kHkeyLocalMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\Kavid", L"Path",
                            L"C:\\Kavid");
  struct Case {
    const char* name;
    const wchar_t* path;
    std::uint32_t view;
    platform::LStatus expected;
  };
  const Case cases[] = {
      {"Redirected", L"Software\\Quvari\\Kavid", 0, 0},
      {"WideViewDoesNotSeeIt", L"Software\\Quvari\\Kavid", sam::Wow64_64Key,
       static_cast<platform::LStatus>(err::FileNotFound)},
      {"WideViewThroughWow6432Node", L"Software\\Wow6432Node\\Quvari\\Kavid", sam::Wow64_64Key, 0},
      {"NamedWow6432NodeIsNotRedirectedTwice", L"Software\\Wow6432Node\\Quvari\\Kavid", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OpenKey(kHkeyLocalMachine, c.path, sam::Read | c.view), c.expected);
  }
  EXPECT_EQ(SubKeyNames(kHkeyLocalMachine, L"Software", 0),
            (std::vector<std::wstring>{L"Microsoft", L"Quvari"}));
  EXPECT_EQ(SubKeyNames(kHkeyLocalMachine, L"Software", sam::Wow64_64Key),
            (std::vector<std::wstring>{L"Microsoft", L"Wow6432Node"}));

  ASSERT_TRUE(test::PutDword(ports().registry, kHkeyLocalMachine, L"Software\\Quvari\\New",
                             L"Count", 0x1234));
  EXPECT_EQ(
      sim_.Registry().GetValue(kHkeyLocalMachine, L"SOFTWARE\\Wow6432Node\\Quvari\\New", L"count"),
      (SimRegistry::Value{platform::regtype::Dword, {0x34, 0x12, 0, 0}}));
  EXPECT_FALSE(sim_.Registry().KeyExists(kHkeyLocalMachine, L"SOFTWARE\\Quvari"));
}

TEST_F(SimMachineTest, DeniedKeysRefuseOpenAndCreate) {
  sim_.Registry().PutKey(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services\\Locked\\Below");
  sim_.Registry().DenyAccess(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services\\Locked");
  constexpr auto denied = static_cast<platform::LStatus>(err::AccessDenied);
  EXPECT_EQ(OpenKey(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services\\Locked", sam::Read),
            denied);
  platform::UniqueHkey key = platform::MakeUniqueHkey(ports().registry);
  EXPECT_EQ(ports().registry.CreateKeyEx(kHkeyLocalMachine,
                                         L"SYSTEM\\CurrentControlSet\\Services\\Locked", sam::Read,
                                         key.put(), nullptr),
            denied);
  EXPECT_EQ(ports().registry.CreateKeyEx(kHkeyLocalMachine,
                                         L"SYSTEM\\CurrentControlSet\\Services\\Locked\\New",
                                         sam::Write, key.put(), nullptr),
            denied);
  EXPECT_EQ(
      OpenKey(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services\\Locked\\Below", sam::Read),
      0);
  EXPECT_EQ(OpenKey(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services", sam::Read), 0);
}

TEST_F(SimMachineTest, RegistryDetailsOfWindows) {
  SimRegistry& registry = sim_.Registry();
  const platform::FileTime start = sim_.Clock().Now();
  registry.PutKey(kHkeyCurrentUser, L"Software\\Order\\a_b");
  registry.PutKey(kHkeyCurrentUser, L"Software\\Order\\aZb");
  registry.PutKey(kHkeyCurrentUser, L"Software\\Order\\aab");
  // Upper-case order: '_' comes after the letters.
  EXPECT_EQ(SubKeyNames(kHkeyCurrentUser, L"Software\\Order", 0),
            (std::vector<std::wstring>{L"aab", L"aZb", L"a_b"}));

  EXPECT_EQ(registry.GetLastWriteTime(kHkeyCurrentUser, L"Software\\Order\\aab"), start);
  sim_.Clock().Advance(1500);
  ASSERT_TRUE(test::PutString(ports().registry, kHkeyCurrentUser, L"Software\\Order\\aab", L"v",
                              L"x", false));
  EXPECT_EQ(registry.GetLastWriteTime(kHkeyCurrentUser, L"Software\\Order\\aab"),
            start + 1500 * 10000);
  registry.SetLastWriteTime(kHkeyCurrentUser, L"Software\\Order\\aZb", 42);
  platform::UniqueHkey order = platform::MakeUniqueHkey(ports().registry);
  ASSERT_EQ(
      ports().registry.OpenKeyEx(kHkeyCurrentUser, L"Software\\Order", sam::Read, order.put()), 0);
  wchar_t name[16];
  std::uint32_t chars = 16;
  platform::FileTime written = 0;
  ASSERT_EQ(ports().registry.EnumKeyEx(order.get(), 1, name, &chars, &written), 0);
  EXPECT_EQ(written, 42u);

  // Text without its NUL gets one in the caller's buffer when there is room, uncounted.
  platform::UniqueHkey key = platform::MakeUniqueHkey(ports().registry);
  ASSERT_EQ(ports().registry.OpenKeyEx(kHkeyCurrentUser, L"Software\\Order\\aab", sam::AllAccess,
                                       key.put()),
            0);
  std::uint8_t data[6] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
  std::uint32_t bytes = sizeof data;
  ASSERT_EQ(ports().registry.QueryValueEx(key.get(), L"v", nullptr, data, &bytes), 0);
  EXPECT_EQ(bytes, 2u);
  EXPECT_EQ(Bytes(data, data + 6), (Bytes{'x', 0, 0, 0, 0xCC, 0xCC}));

  // A handle to a key deleted under it answers ERROR_KEY_DELETED.
  registry.RemoveKey(kHkeyCurrentUser, L"Software\\Order");
  EXPECT_EQ(ports().registry.QueryValueEx(key.get(), L"v", nullptr, nullptr, &bytes),
            static_cast<platform::LStatus>(err::KeyDeleted));
  EXPECT_EQ(ports().registry.DeleteKeyEx(kHkeyCurrentUser, L"", 0),
            static_cast<platform::LStatus>(err::AccessDenied));
  key.reset();
  order.reset();
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Files

TEST_F(SimMachineTest, KnownFoldersAreThoseOfA32BitProcess) {
  struct Case {
    const char* name;
    int csidl;
    const wchar_t* path;
  };
  const Case cases[] = {
      {"CommonAppData", platform::csidl::CommonAppData, L"C:\\ProgramData"},
      {"LocalAppData", platform::csidl::LocalAppData, L"C:\\Users\\tester\\AppData\\Local"},
      {"AppData", platform::csidl::AppData, L"C:\\Users\\tester\\AppData\\Roaming"},
      {"Windows", platform::csidl::Windows, L"C:\\Windows"},
      {"System", platform::csidl::System, L"C:\\Windows\\System32"},
      {"ProgramFiles", platform::csidl::ProgramFiles, L"C:\\Program Files (x86)"},
      {"ProgramFilesX86", platform::csidl::ProgramFilesX86, L"C:\\Program Files (x86)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FolderPath(c.csidl), c.path);
  }
  for (const wchar_t* folder : {L"C:\\Program Files", L"C:\\Users\\tester\\AppData\\Local\\Temp",
                                L"C:\\Windows\\System32"}) {
    EXPECT_TRUE(sim_.Files().Exists(folder)) << platform::NarrowUtf8(folder);
  }

  const std::wstring startup =
      L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
  sim_.Files().Remove(L"C:\\ProgramData\\Microsoft");
  wchar_t path[260];
  EXPECT_EQ(ports().files.GetFolderPath(platform::csidl::CommonStartup, path),
            platform::hr::FromWin32(err::FileNotFound));
  sim_.Files().DenyWrites(L"C:\\ProgramData");
  EXPECT_EQ(ports().files.GetFolderPath(
                platform::csidl::CommonStartup | platform::csidl::FlagCreate, path),
            platform::hr::FromWin32(err::AccessDenied));
  sim_.Files().Remove(L"C:\\ProgramData");
  sim_.Files().PutFolder(L"C:\\ProgramData");
  EXPECT_EQ(FolderPath(platform::csidl::CommonStartup | platform::csidl::FlagCreate), startup);
  EXPECT_TRUE(sim_.Files().Exists(startup));
}

TEST_F(SimMachineTest, RelativePathsFollowTheCurrentFolder) {
  SimFileSystem& files = sim_.Files();
  EXPECT_EQ(files.CurrentFolder(), L"C:\\Users\\tester");
  files.SetCurrentFolder(L"c:\\users\\TESTER\\documents");
  EXPECT_EQ(files.CurrentFolder(), L"C:\\Users\\tester\\Documents");
  struct Case {
    const char* name;
    const wchar_t* given;
    const wchar_t* lands;
  };
  const Case cases[] = {
      {"Plain", L"notes.txt", L"C:\\Users\\tester\\Documents\\notes.txt"},
      {"Up", L"..\\Desktop\\up.txt", L"C:\\Users\\tester\\Desktop\\up.txt"},
      {"Rooted", L"\\rooted.txt", L"C:\\rooted.txt"},
      {"DriveRelative", L"C:drive.txt", L"C:\\Users\\tester\\Documents\\drive.txt"},
      {"TrailingDotsDropped", L"dots.txt..", L"C:\\Users\\tester\\Documents\\dots.txt"},
      {"ForwardSlashes", L"C:/Windows/fwd.txt", L"C:\\Windows\\fwd.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::UniqueFile handle =
        platform::MakeUniqueFile(ports().files, Open(c.given, file::GenericWrite, file::CreateNew));
    ASSERT_TRUE(handle.valid()) << LastError();
    EXPECT_TRUE(files.GetFile(c.lands).has_value());
  }
  EXPECT_EQ(files.List(L"C:\\Users\\tester\\Documents"),
            (std::vector<std::wstring>{L"dots.txt", L"drive.txt", L"notes.txt"}));

  wchar_t answer[260];
  ASSERT_EQ(ports().files.GetLongPathName(L"NOTES.TXT", answer, 260), 9u);
  EXPECT_EQ(std::wstring(answer), L"notes.txt");
  ASSERT_NE(
      ports().files.GetLongPathName(L"c:\\users\\tester\\..\\TESTER\\.\\desktop", answer, 260), 0u);
  EXPECT_EQ(std::wstring(answer), L"c:\\Users\\tester\\..\\tester\\.\\Desktop");

  const std::wstring longPath = L"C:\\" + std::wstring(200, L'd') + L"\\" + std::wstring(60, L'f');
  const std::wstring longName = L"\\\\?\\C:\\" + std::wstring(256, L'n');
  struct Refused {
    const char* name;
    const wchar_t* path;
    std::uint32_t error;
  };
  const Refused refused[] = {
      {"OtherDrive", L"D:\\x.txt", err::PathNotFound},
      {"BadCharacter", L"C:\\a?b.txt", err::InvalidName},
      {"NetworkPath", L"\\\\server\\share\\x.txt", 53},
      {"Folder", L"C:\\Windows", err::AccessDenied},
      {"LongerThanMaxPath", longPath.c_str(), err::PathNotFound},
      {"LongNameWithoutLimit", longName.c_str(), err::InvalidName},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Open(r.path, file::GenericWrite, file::OpenAlways), platform::kInvalidFile);
    EXPECT_EQ(LastError(), r.error);
  }
  const std::wstring extended = L"\\\\?\\C:\\Windows\\" + std::wstring(255, L'x');
  EXPECT_TRUE(ports().files.CloseHandle(Open(extended, file::GenericWrite, file::CreateNew)));
  // A new folder leaves room for an 8.3 name in it.
  EXPECT_FALSE(ports().files.CreateDirectory((L"C:\\" + std::wstring(250, L'd')).c_str()));
  EXPECT_EQ(LastError(), 206u);  // ERROR_FILENAME_EXCED_RANGE
}

TEST_F(SimMachineTest, SearchPathLooksInTheCurrentFolderThenTheSystemFolders) {
  SimFileSystem& files = sim_.Files();
  files.PutFile(L"C:\\Users\\tester\\both.dll", {1});
  files.PutFile(L"C:\\Windows\\System32\\both.dll", {2});
  files.PutFile(L"C:\\Windows\\System32\\sys.dll", {3});
  files.PutFile(L"C:\\Windows\\win.exe", {4});
  files.PutFile(L"C:\\B\\listed.txt", {5});
  struct Case {
    const char* name;
    const wchar_t* path;
    const wchar_t* file;
    const wchar_t* extension;
    const wchar_t* found;
  };
  const Case cases[] = {
      {"CurrentFirst", nullptr, L"both", L".dll", L"C:\\Users\\tester\\both.dll"},
      {"ThenSystem32", nullptr, L"SYS.DLL", nullptr, L"C:\\Windows\\System32\\SYS.DLL"},
      {"ThenWindows", nullptr, L"win", L".exe", L"C:\\Windows\\win.exe"},
      {"FolderList", L"C:\\A;C:\\B\\", L"listed.txt", nullptr, L"C:\\B\\listed.txt"},
      {"FullPathAsIs", nullptr, L"C:\\Windows\\.\\win.exe", nullptr, L"C:\\Windows\\win.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wchar_t answer[260] = {};
    ASSERT_NE(ports().files.SearchPath(c.path, c.file, c.extension, 260, answer), 0u);
    EXPECT_EQ(std::wstring(answer), c.found);
  }
}

TEST_F(SimMachineTest, HeldAndWriteDeniedFilesAreRefused) {
  SimFileSystem& files = sim_.Files();
  const std::wstring held = L"C:\\ProgramData\\Quvari\\held.log";
  files.PutFile(held, {'h'});
  files.HoldExclusively(held);
  EXPECT_EQ(Open(held, 0, file::OpenExisting, file::ShareRead | file::ShareWrite),
            platform::kInvalidFile);
  EXPECT_EQ(LastError(), err::SharingViolation);
  EXPECT_FALSE(ports().files.DeleteFile(held.c_str()));
  EXPECT_EQ(LastError(), err::SharingViolation);
  platform::FileAttributeData data;
  EXPECT_TRUE(ports().files.GetFileAttributesEx(held.c_str(), &data));
  files.ReleaseHold(held);
  EXPECT_TRUE(ports().files.CloseHandle(Open(held, file::GenericRead, file::OpenExisting)));

  files.DenyWrites(L"C:\\ProgramData\\Quvari");
  const std::wstring fresh = L"C:\\ProgramData\\Quvari\\new.log";
  struct Case {
    const char* name;
    std::function<bool()> call;
  };
  const Case refused[] = {
      {"Create",
       [&] { return Open(fresh, file::GenericWrite, file::CreateNew) != platform::kInvalidFile; }},
      {"OpenForWriting",
       [&] {
         return Open(held, file::GenericWrite, file::OpenExisting) != platform::kInvalidFile;
       }},
      {"Delete", [&] { return ports().files.DeleteFile(held.c_str()); }},
      {"Folder", [&] { return ports().files.CreateDirectory(L"C:\\ProgramData\\Quvari\\Sub"); }},
      {"TempFile",
       [&] {
         wchar_t name[260];
         return ports().files.GetTempFileName(L"C:\\ProgramData\\Quvari", L"kvd", 0, name) != 0;
       }},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(LastError(), err::AccessDenied);
  }
  const platform::FileHandle reader = Open(held, file::GenericRead, file::OpenExisting);
  EXPECT_NE(reader, platform::kInvalidFile);
  EXPECT_TRUE(ports().files.CloseHandle(reader));
  EXPECT_EQ(files.OpenHandleCount(), 0u);
}

TEST_F(SimMachineTest, TempFileNumbersStartAtTheTickAndSkipTakenNames) {
  // 1,000,000 ms is 0xF4240; the search starts at its low 16 bits.
  sim_.Files().PutFile(L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvd4242.tmp", {});
  std::vector<std::wstring> names;
  for (int i = 0; i < 3; ++i) {
    wchar_t name[260];
    ASSERT_NE(ports().files.GetTempFileName(L"C:\\Users\\tester\\AppData\\Local\\Temp", L"kvdlog",
                                            0, name),
              0u);
    names.emplace_back(name);
  }
  EXPECT_EQ(names,
            (std::vector<std::wstring>{L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvd4240.tmp",
                                       L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvd4241.tmp",
                                       L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvd4243.tmp"}));
  wchar_t name[260];
  EXPECT_EQ(ports().files.GetTempFileName(L"C:\\NoSuchFolder", L"kvd", 0, name), 0u);
  EXPECT_EQ(LastError(), err::PathNotFound);
}

TEST_F(SimMachineTest, FileTimesAreTheClocks) {
  const platform::FileTime start = sim_.Clock().Now();
  const std::wstring path = L"C:\\Users\\tester\\times.bin";
  platform::UniqueFile handle =
      platform::MakeUniqueFile(ports().files, Open(path, file::GenericWrite, file::CreateNew));
  ASSERT_TRUE(handle.valid());
  sim_.Clock().Advance(2000);
  std::uint32_t written = 0;
  ASSERT_TRUE(ports().files.WriteFile(handle.get(), "1234", 4, &written));
  platform::FileAttributeData data;
  ASSERT_TRUE(ports().files.GetFileAttributesEx(path.c_str(), &data));
  EXPECT_EQ(data.creationTime, start);
  EXPECT_EQ(data.lastWriteTime, start + 2000 * 10000);
  EXPECT_EQ(data.fileSize, 4u);
  EXPECT_EQ(data.attributes, file::AttributeArchive);
}

// ---------------------------------------------------------------------------------------------
// Environment, process

TEST_F(SimMachineTest, EnvironmentExpandsAsWindowsDoes) {
  struct Case {
    const char* name;
    const wchar_t* source;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"Temp", L"%TEMP%", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
      {"Tmp", L"%tmp%", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
      {"Profile", L"%USERPROFILE%", L"C:\\Users\\tester"},
      {"SystemRoot", L"%SystemRoot%\\System32", L"C:\\Windows\\System32"},
      {"Windir", L"%windir%", L"C:\\Windows"},
      {"ProgramData", L"%ProgramData%|%ALLUSERSPROFILE%", L"C:\\ProgramData|C:\\ProgramData"},
      {"ProgramFilesOf32BitProcess", L"%ProgramFiles%", L"C:\\Program Files (x86)"},
      // A '%' that starts no defined name is copied alone, and the scan goes on after it.
      {"UndefinedThenDefined", L"%KVD_NONE%TEMP%",
       L"%KVD_NONE"
       L"C:\\Users\\tester\\AppData\\Local\\Temp"},
      {"LoneBeforeDefined", L"5% of %windir%", L"5% of C:\\Windows"},
      {"DoubledPercentsDoNotEscape", L"%%windir%%", L"%C:\\Windows%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sim_.Environment().Expand(c.source), c.expected);
  }
  EXPECT_FALSE(ports().environment.SetEnvironmentVariable(L"A=B", L"x"));
  EXPECT_EQ(LastError(), err::InvalidParameter);
  sim_.Environment().Put(L"KvdHome", L"C:\\Kvd");
  EXPECT_EQ(sim_.Environment().Get(L"KVDHOME"), L"C:\\Kvd");
}

TEST_F(SimMachineTest, ProcessFactsAndTheirSetUp) {
  platform::IProcess& process = ports().process;
  const std::wstring exe = L"C:\\Program Files (x86)\\Quvari\\Kavid\\kavid.exe";
  wchar_t path[260];
  ASSERT_EQ(process.GetModuleFileName(0, path, 260), exe.size());
  EXPECT_EQ(std::wstring(path), exe);
  EXPECT_TRUE(sim_.Files().Exists(exe));
  const wchar_t* firstLine = process.GetCommandLine();
  EXPECT_EQ(std::wstring(firstLine), L"\"" + exe + L"\"");
  EXPECT_EQ(process.GetCurrentProcessId(), 4242u);

  std::uint32_t ids[3] = {process.GetCurrentThreadId()};
  std::thread([&] { ids[1] = process.GetCurrentThreadId(); }).join();
  std::thread([&] { ids[2] = process.GetCurrentThreadId(); }).join();
  EXPECT_EQ(ids[0], 0x1000u);
  EXPECT_EQ(ids[1], 0x1004u);
  EXPECT_EQ(ids[2], 0x1008u);

  sim_.Process().SetCommandLine(L"kavid.exe /log");
  sim_.Process().SetProcessId(77);
  sim_.Process().SetModulePath(L"C:\\Kavid\\kavid.exe");
  EXPECT_EQ(std::wstring(process.GetCommandLine()), L"kavid.exe /log");
  EXPECT_EQ(std::wstring(firstLine), L"\"" + exe + L"\"");  // still valid
  EXPECT_EQ(process.GetCurrentProcessId(), 77u);
  ASSERT_NE(process.GetModuleFileName(SimProcess::kExecutableHandle, path, 260), 0u);
  EXPECT_EQ(std::wstring(path), L"C:\\Kavid\\kavid.exe");

  const platform::ModuleHandle added = sim_.Process().AddModule(L"C:\\Kavid\\QvScan.dll");
  platform::ModuleHandle byName = 0;
  ASSERT_TRUE(process.GetModuleHandleEx(platform::modflag::UnchangedRefcount, L"qvscan", &byName));
  EXPECT_EQ(byName, added);
  std::uint32_t needed = 0;
  ASSERT_TRUE(process.EnumProcessModules(nullptr, 0, &needed));
  std::vector<platform::ModuleHandle> modules(needed / sizeof(platform::ModuleHandle));
  ASSERT_TRUE(process.EnumProcessModules(modules.data(), needed, &needed));
  EXPECT_EQ(modules.front(), SimProcess::kExecutableHandle);
  EXPECT_EQ(modules.back(), added);
  EXPECT_FALSE(process.GetModuleHandleEx(0, L"absent.dll", &byName));
  EXPECT_EQ(LastError(), 126u);
  EXPECT_EQ(process.GetModuleFileName(0x1234, path, 260), 0u);
  EXPECT_EQ(LastError(), 126u);
}

// The block a resource compiler (windres) made of:
//   FILEVERSION 1,2,3,4  PRODUCTVERSION 1,2,0,0  FILEOS 0x40004  FILETYPE 1
//   BLOCK "040904b0": CompanyName "Quvari", FileVersion "1.2.3.4"; Translation 0x409, 1200
const Bytes kCompiledBlock = {
    0x3C, 0x01, 0x34, 0x00, 0x00, 0x00, 0x56, 0x00, 0x53, 0x00, 0x5F, 0x00, 0x56, 0x00, 0x45, 0x00,
    0x52, 0x00, 0x53, 0x00, 0x49, 0x00, 0x4F, 0x00, 0x4E, 0x00, 0x5F, 0x00, 0x49, 0x00, 0x4E, 0x00,
    0x46, 0x00, 0x4F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00,
    0x02, 0x00, 0x01, 0x00, 0x04, 0x00, 0x03, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9C, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x53, 0x00, 0x74, 0x00, 0x72, 0x00, 0x69, 0x00, 0x6E, 0x00, 0x67, 0x00, 0x46, 0x00,
    0x69, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x49, 0x00, 0x6E, 0x00, 0x66, 0x00, 0x6F, 0x00, 0x00, 0x00,
    0x78, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30, 0x00, 0x34, 0x00, 0x30, 0x00, 0x39, 0x00, 0x30, 0x00,
    0x34, 0x00, 0x62, 0x00, 0x30, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x07, 0x00, 0x01, 0x00, 0x43, 0x00,
    0x6F, 0x00, 0x6D, 0x00, 0x70, 0x00, 0x61, 0x00, 0x6E, 0x00, 0x79, 0x00, 0x4E, 0x00, 0x61, 0x00,
    0x6D, 0x00, 0x65, 0x00, 0x00, 0x00, 0x00, 0x00, 0x51, 0x00, 0x75, 0x00, 0x76, 0x00, 0x61, 0x00,
    0x72, 0x00, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x08, 0x00, 0x01, 0x00, 0x46, 0x00,
    0x69, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x56, 0x00, 0x65, 0x00, 0x72, 0x00, 0x73, 0x00, 0x69, 0x00,
    0x6F, 0x00, 0x6E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0x2E, 0x00, 0x32, 0x00, 0x2E, 0x00,
    0x33, 0x00, 0x2E, 0x00, 0x34, 0x00, 0x00, 0x00, 0x44, 0x00, 0x00, 0x00, 0x01, 0x00, 0x56, 0x00,
    0x61, 0x00, 0x72, 0x00, 0x46, 0x00, 0x69, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x49, 0x00, 0x6E, 0x00,
    0x66, 0x00, 0x6F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x24, 0x00, 0x04, 0x00, 0x00, 0x00, 0x54, 0x00,
    0x72, 0x00, 0x61, 0x00, 0x6E, 0x00, 0x73, 0x00, 0x6C, 0x00, 0x61, 0x00, 0x74, 0x00, 0x69, 0x00,
    0x6F, 0x00, 0x6E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x04, 0xB0, 0x04,
};

VersionResource CompiledInfo() {
  VersionResource info;
  info.fileVersion = {1, 2, 3, 4};
  info.productVersion = {1, 2, 0, 0};
  info.translations.push_back(
      {0x0409, 1200, {{L"CompanyName", L"Quvari"}, {L"FileVersion", L"1.2.3.4"}}});
  return info;
}

TEST_F(SimMachineTest, VersionBlocksAreBuiltAsAResourceCompilerBuildsThem) {
  EXPECT_EQ(BuildVersionBlock(CompiledInfo()), kCompiledBlock);
}

std::uint32_t Dword(const std::uint8_t* p, std::size_t index) {
  std::uint32_t v = 0;
  std::memcpy(&v, p + 4 * index, 4);
  return v;
}

TEST_F(SimMachineTest, VerQueryValueReadsACompiledBlock) {
  const std::wstring dll = L"C:\\Kavid\\QvScan.dll";
  sim_.Files().PutFile(dll, {'M', 'Z'});
  sim_.Process().PutVersionBlock(dll, kCompiledBlock);
  platform::IProcess& process = ports().process;
  const std::uint32_t size = process.GetFileVersionInfoSize(L"c:\\kavid\\qvscan.DLL");
  EXPECT_EQ(size, (kCompiledBlock.size() - 52) * 4);
  std::vector<std::uint8_t> block(size, 0xCC);
  ASSERT_TRUE(process.GetFileVersionInfo(dll.c_str(), size, block.data()));

  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\", &value, &length));
  EXPECT_EQ(length, 52u);
  EXPECT_EQ(Dword(value, 0), 0xFEEF04BDu);
  EXPECT_EQ(Dword(value, 2), 0x00010002u);  // file version 1.2
  EXPECT_EQ(Dword(value, 3), 0x00030004u);  // .3.4
  EXPECT_EQ(Dword(value, 4), 0x00010002u);  // product version 1.2
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(Bytes(value, value + 4), (Bytes{0x09, 0x04, 0xB0, 0x04}));
  struct Case {
    const char* name;
    const wchar_t* subBlock;
    const wchar_t* text;
  };
  const Case cases[] = {
      {"Company", L"\\StringFileInfo\\040904b0\\CompanyName", L"Quvari"},
      {"KeysIgnoreCase", L"\\stringfileinfo\\040904B0\\fileversion", L"1.2.3.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(process.VerQueryValue(block.data(), c.subBlock, &value, &length));
    EXPECT_EQ(length, std::wstring_view(c.text).size() + 1);
    EXPECT_EQ(platform::FromUtf16Bytes(value, length * 2), c.text);
  }
  EXPECT_FALSE(process.VerQueryValue(block.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                                     &value, &length));
  EXPECT_EQ(LastError(), err::ResourceTypeNotFound);

  // A buffer cut before VarFileInfo: the block says so and nothing past it is read.
  std::vector<std::uint8_t> cut(248, 0xCC);
  ASSERT_TRUE(process.GetFileVersionInfo(dll.c_str(), 248, cut.data()));
  EXPECT_TRUE(process.VerQueryValue(cut.data(), L"\\StringFileInfo\\040904b0\\CompanyName", &value,
                                    &length));
  EXPECT_FALSE(process.VerQueryValue(cut.data(), L"\\VarFileInfo\\Translation", &value, &length));

  EXPECT_EQ(process.GetFileVersionInfoSize(L"C:\\Kavid\\absent.dll"), 0u);
  EXPECT_EQ(LastError(), err::FileNotFound);
  sim_.Files().PutFile(L"C:\\Kavid\\plain.dll", {'M', 'Z'});
  EXPECT_EQ(process.GetFileVersionInfoSize(L"C:\\Kavid\\plain.dll"), 0u);
  EXPECT_EQ(LastError(), err::ResourceTypeNotFound);
}

TEST_F(SimMachineTest, VersionInfoWithSeveralTranslations) {
  VersionResource info;
  info.translations.push_back({0x0409, 1200, {{L"FileDescription", L"Kavid"}}});
  info.translations.push_back(
      {0x0407, 1252, {{L"FileDescription", L"Kavid (de)"}, {L"Comments", L""}}});
  sim_.Process().PutVersionInfo(sim_.Process().ModulePath(), info);
  platform::IProcess& process = ports().process;
  const std::wstring exe = sim_.Process().ModulePath();
  std::vector<std::uint8_t> block(process.GetFileVersionInfoSize(exe.c_str()));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(process.GetFileVersionInfo(exe.c_str(), static_cast<std::uint32_t>(block.size()),
                                         block.data()));
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(Bytes(value, value + length), (Bytes{0x09, 0x04, 0xB0, 0x04, 0x07, 0x04, 0xE4, 0x04}));
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\StringFileInfo\\040704e4\\FileDescription",
                                    &value, &length));
  EXPECT_EQ(platform::FromUtf16Bytes(value, length * 2), L"Kavid (de)");
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\StringFileInfo\\040704e4\\Comments", &value,
                                    &length));
  EXPECT_EQ(length, 1u);
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                                    &value, &length));
  EXPECT_EQ(platform::FromUtf16Bytes(value, length * 2), L"Kavid");
}

// ---------------------------------------------------------------------------------------------
// Clock, errors

TEST_F(SimMachineTest, ClockMovesOnlyWhenTold) {
  platform::IClock& clock = ports().clock;
  EXPECT_EQ(clock.GetTickCount(), 1000000u);
  EXPECT_EQ(clock.GetTickCount(), 1000000u);
  std::int64_t counter = 0;
  ASSERT_TRUE(clock.QueryPerformanceCounter(&counter));
  const std::int64_t counterStart = counter;

  // The watchdog's 80 s pass at once.
  clock.Sleep(80000);
  clock.Sleep(0);
  EXPECT_EQ(clock.GetTickCount(), 1080000u);
  EXPECT_EQ(sim_.Clock().Sleeps(), (std::vector<std::uint32_t>{80000, 0}));
  ASSERT_TRUE(clock.QueryPerformanceCounter(&counter));
  EXPECT_EQ(counter - counterStart, 80000LL * 10000);

  sim_.Clock().AdvanceCounter(5);
  ASSERT_TRUE(clock.QueryPerformanceCounter(&counter));
  EXPECT_EQ(counter - counterStart, 80000LL * 10000 + 5);
  EXPECT_EQ(clock.GetTickCount(), 1080000u);

  sim_.Clock().SetTick(0xFFFFFFF0u);
  sim_.Clock().Advance(0x20);
  EXPECT_EQ(clock.GetTickCount(), 0x10u);

  // An odd frequency does not drift from the tick over many small steps.
  sim_.Clock().SetFrequency(3);
  ASSERT_TRUE(clock.QueryPerformanceCounter(&counter));
  const std::int64_t before = counter;
  for (int i = 0; i < 1000; ++i) sim_.Clock().Advance(1);
  ASSERT_TRUE(clock.QueryPerformanceCounter(&counter));
  EXPECT_EQ(counter - before, 3);

  sim_.Clock().SetFrequency(0);
  std::int64_t frequency = 1;
  EXPECT_FALSE(clock.QueryPerformanceFrequency(&frequency));
  EXPECT_FALSE(clock.QueryPerformanceCounter(&counter));
}

TEST_F(SimMachineTest, CalendarStartsOnItsDayAndMovesWithTheTick) {
  platform::IClock& clock = ports().clock;
  auto now = [&] {
    platform::CalendarTime t;
    EXPECT_TRUE(clock.GetLocalCalendarTime(&t));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return std::string(text);
  };
  EXPECT_EQ(now(), "2026-12-10 09:30:00");
  EXPECT_EQ(sim_.Clock().Now(), 134413686000000000u);
  clock.Sleep(1999);
  EXPECT_EQ(now(), "2026-12-10 09:30:01");
  EXPECT_EQ(sim_.Clock().Now(), 134413686000000000u + 1999 * 10000);
  sim_.Clock().Advance((21ULL * 86400 + 14 * 3600 + 29 * 60) * 1000 + 59001);
  EXPECT_EQ(now(), "2027-01-01 00:00:01");
  sim_.Clock().SetCalendarTime({2028, 2, 29, 23, 59, 59});
  EXPECT_EQ(now(), "2028-02-29 23:59:59");
  sim_.Clock().Advance(1000);
  EXPECT_EQ(now(), "2028-03-01 00:00:00");
  sim_.Clock().FailLocalTime(true);
  platform::CalendarTime t;
  EXPECT_FALSE(clock.GetLocalCalendarTime(&t));
}

TEST_F(SimMachineTest, FormatMessageHasTheEnglishSystemTexts) {
  struct Case {
    std::uint32_t code;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"The operation completed successfully.\r\n"},
      {2, L"The system cannot find the file specified.\r\n"},
      {3, L"The system cannot find the path specified.\r\n"},
      {5, L"Access is denied.\r\n"},
      {6, L"The handle is invalid.\r\n"},
      {32, L"The process cannot access the file because it is being used by another process.\r\n"},
      {80, L"The file exists.\r\n"},
      {87, L"The parameter is incorrect.\r\n"},
      {122, L"The data area passed to a system call is too small.\r\n"},
      {183, L"Cannot create a file when that file already exists.\r\n"},
      {234, L"More data is available.\r\n"},
      {259, L"No more data is available.\r\n"},
      {0x80070005u, L"Access is denied.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    wchar_t text[256] = {};
    const std::uint32_t chars =
        ports().errors.FormatMessage(c.code, platform::kLangNeutralSublangDefault, text, 256);
    EXPECT_EQ(std::wstring(text, chars), c.text);
  }
  wchar_t text[256];
  EXPECT_EQ(ports().errors.FormatMessage(9999, 0, text, 256), 0u);
  EXPECT_EQ(LastError(), err::MrMidNotFound);
  EXPECT_EQ(ports().errors.FormatMessage(2, 0x0407, text, 256), 0u);  // German is not installed
  EXPECT_EQ(LastError(), 1815u);
}

// ---------------------------------------------------------------------------------------------
// Mutexes held by another process

TEST_F(SimMachineTest, MutexHeldElsewhereTimesOutAtOnceOnTheClock) {
  platform::ISync& sync = ports().sync;
  sim_.Sync().HoldElsewhere(L"Local\\KavidRunning");
  platform::UniqueSync mutex =
      platform::MakeUniqueSync(sync, sync.CreateMutex(true, L"KavidRunning"));
  ASSERT_TRUE(mutex.valid());
  EXPECT_EQ(LastError(), err::AlreadyExists);
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), 22000), wait::Timeout);
  EXPECT_EQ(ports().clock.GetTickCount(), 1022000u);
  EXPECT_FALSE(sync.ReleaseMutex(mutex.get()));

  // Names are case-sensitive: another name is another mutex.
  platform::UniqueSync other =
      platform::MakeUniqueSync(sync, sync.CreateMutex(false, L"kavidrunning"));
  EXPECT_EQ(LastError(), err::Success);
  EXPECT_EQ(sync.WaitForSingleObject(other.get(), 0), wait::Object0);

  // A wait without end is a real one, until the other process lets go.
  std::thread release([&] { sim_.Sync().ReleaseElsewhere(L"KavidRunning"); });
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), wait::Infinite), wait::Object0);
  release.join();
  EXPECT_TRUE(sync.ReleaseMutex(mutex.get()));

  EXPECT_EQ(sync.WaitForSingleObject(0x12345, 0), wait::Failed);
  EXPECT_EQ(LastError(), err::InvalidHandle);
}

// ---------------------------------------------------------------------------------------------
// Many threads at once (the trace log writes from eight)

TEST_F(SimMachineTest, ManyThreadsAppendUnderANamedMutex) {
  constexpr int kThreads = 8;
  constexpr int kLines = 100;
  const std::wstring log = L"C:\\ProgramData\\kvd.log";
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &log] {
      platform::Platform& p = ports();
      platform::UniqueSync guard =
          platform::MakeUniqueSync(p.sync, p.sync.CreateMutex(false, L"KvdLog"));
      for (int i = 0; i < kLines; ++i) {
        ASSERT_EQ(p.sync.WaitForSingleObject(guard.get(), wait::Infinite), wait::Object0);
        {
          platform::UniqueFile file = platform::MakeUniqueFile(
              p.files, p.files.CreateFile(log.c_str(), file::GenericWrite,
                                          file::ShareRead | file::ShareWrite, file::OpenAlways,
                                          file::AttributeNormal));
          ASSERT_TRUE(file.valid());
          p.files.SetFilePointer(file.get(), 0, file::End);
          const std::string line = "thread " + std::to_string(t) + "\r\n";
          std::uint32_t written = 0;
          ASSERT_TRUE(p.files.WriteFile(file.get(), line.data(),
                                        static_cast<std::uint32_t>(line.size()), &written));
        }
        ASSERT_TRUE(p.sync.ReleaseMutex(guard.get()));
        p.errors.SetLastError(static_cast<std::uint32_t>(t));
        ASSERT_TRUE(test::PutDword(p.registry, kHkeyCurrentUser, L"Software\\KvdThreads",
                                   std::to_wstring(t).c_str(), static_cast<std::uint32_t>(i)));
        ASSERT_EQ(p.errors.GetLastError(), static_cast<std::uint32_t>(t));
        p.debug.OutputDebugString(L"line");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto content = sim_.Files().GetFile(log);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(content->size(), static_cast<std::size_t>(kThreads * kLines * 10));
  EXPECT_EQ(sim_.Debug().Take().size(), static_cast<std::size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(
        sim_.Registry().GetValue(kHkeyCurrentUser, L"Software\\KvdThreads", std::to_wstring(t)),
        (SimRegistry::Value{platform::regtype::Dword, {kLines - 1, 0, 0, 0}}));
  }
  EXPECT_EQ(sim_.Files().OpenHandleCount(), 0u);
  EXPECT_EQ(sim_.Sync().OpenHandleCount(), 0u);
}

// ---------------------------------------------------------------------------------------------
// The native tier's target

TEST(SimTargetTest, EachMachineIsFreshWithItsScratchAreaAndAVersionedExecutable) {
  ASSERT_EQ(test::AllTargets().size(), 1u);
  EXPECT_EQ(test::AllTargets().front().name, "Sim");
  auto first = test::AllTargets().front().make();
  auto second = test::AllTargets().front().make();
  auto* sim = dynamic_cast<test::SimTestMachine*>(first.get());
  ASSERT_NE(sim, nullptr);
  EXPECT_TRUE(first->IsSimulated());
  EXPECT_NE(first->ScratchFolder(), second->ScratchFolder());
  EXPECT_NE(first->ScratchKey(), second->ScratchKey());
  EXPECT_EQ(first->ScratchFolder().rfind(L"C:\\Users\\tester\\AppData\\Local\\Temp\\kvdtest-", 0),
            0u);
  EXPECT_TRUE(sim->Sim().Files().List(first->ScratchFolder()).empty());
  EXPECT_TRUE(sim->Sim().Registry().KeyExists(kHkeyCurrentUser, first->ScratchKey()));
  EXPECT_NE(
      first->Ports().process.GetFileVersionInfoSize(sim->Sim().Process().ModulePath().c_str()), 0u);
  first->Ports().debug.OutputDebugString(L"x");
  EXPECT_EQ(sim->Sim().Debug().Take(), std::vector<std::wstring>{L"x"});
}

// What Wine does not model: a node that is not plugged in is left out of the present set and
// has no status; a node with a problem reports it.
TEST(SimDevices, PresenceAndProblemNumbers) {
  SimMachine sim;
  const std::wstring root = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2F8D&PID_0001\\";
  for (const wchar_t* instance : {L"A", L"B", L"C"}) {
    sim.Registry().PutString(platform::kHkeyLocalMachine, root + instance, L"ClassGUID",
                             platform::GuidToText(platform::devclass::Image));
  }
  sim.Devices().SetPresent(L"usb\\vid_2f8d&pid_0001\\b", false);
  sim.Devices().SetProblem(L"USB\\VID_2F8D&PID_0001\\C", 28);
  auto& devices = sim.Ports().devices;
  auto listed = [&](std::uint32_t flags) {
    std::vector<platform::DevInst> nodes;
    auto set =
        platform::MakeUniqueDevInfoList(devices, devices.GetClassDevs(nullptr, L"USB", flags));
    platform::DevInfoData element;
    for (std::uint32_t i = 0; devices.EnumDeviceInfo(set.get(), i, &element); ++i) {
      nodes.push_back(element.devInst);
    }
    return nodes;
  };
  const auto all = listed(platform::digcf::AllClasses);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(listed(platform::digcf::AllClasses | platform::digcf::Present).size(), 2u);

  struct Case {
    std::size_t node;
    std::uint32_t answer, status, problem;
  };
  const Case cases[] = {
      {0, platform::cr::Success, platform::cr::DnStarted | platform::cr::DnDriverLoaded, 0},
      {1, platform::cr::NoSuchDevNode, 0, 0},
      {2, platform::cr::Success, platform::cr::DnHasProblem, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    std::uint32_t status = 0;
    std::uint32_t problem = 0;
    EXPECT_EQ(devices.GetDevNodeStatus(&status, &problem, all[c.node], 0), c.answer);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(problem, c.problem);
  }
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  EXPECT_EQ(devices.GetDevNodeStatus(&status, &problem, 999, 0), platform::cr::InvalidDevNode);
  EXPECT_EQ(sim.Devices().OpenSetCount(), 0u);
}

}  // namespace
}  // namespace kvd::sim
