// What only the real adapters show: that numbers and handles cross the edge unchanged, which
// folder each id names, the debugger channel and the run-time's local time. The contract suites
// (tests/platform) hold everything that the simulated machine shares.
#include "platform/win32/Windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/win32/Win32Platform.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform::win32 {
namespace {

class Win32AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = test::AllTargets().front().make(); }

  Platform& ports() { return machine_->Ports(); }

  UniqueHkey OpenScratchKey() {
    UniqueHkey key = MakeUniqueHkey(ports().registry);
    EXPECT_EQ(ports().registry.OpenKeyEx(kHkeyCurrentUser, machine_->ScratchKey().c_str(),
                                         sam::Read | sam::Write, key.put()),
              ERROR_SUCCESS);
    return key;
  }

  std::unique_ptr<test::TestMachine> machine_;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// A value written through the port is what Windows stores under the same type number, and one
// Windows stored reads back through the port unchanged (the port's HKey is the HKEY itself).
TEST_F(Win32AdapterTest, ValueTypesAndDataCrossTheEdgeUnchanged) {
  struct Case {
    const char* name;
    std::uint32_t portType;
    DWORD winType;
    std::vector<std::uint8_t> data;
  };
  const Case cases[] = {
      {"Sz", regtype::Sz, REG_SZ, ToUtf16Bytes(L"Quvari", true)},
      {"ExpandSz", regtype::ExpandSz, REG_EXPAND_SZ, ToUtf16Bytes(L"%TEMP%\\kvd", true)},
      {"MultiSz", regtype::MultiSz, REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
      {"Binary", regtype::Binary, REG_BINARY, Bytes({0, 1, 0x7F, 0x80, 0xFF})},
      {"Dword", regtype::Dword, REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
      {"Qword", regtype::Qword, REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 0x80})},
      {"NoneEmpty", regtype::None, REG_NONE, {}},
  };
  UniqueHkey key = OpenScratchKey();
  ASSERT_TRUE(key.valid());
  const auto raw = reinterpret_cast<HKEY>(key.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring viaPort = WidenUtf8(c.name) + L"Port";
    const std::wstring viaWindows = WidenUtf8(c.name) + L"Windows";

    ASSERT_EQ(ports().registry.SetValueEx(key.get(), viaPort.c_str(), c.portType, c.data.data(),
                                          static_cast<std::uint32_t>(c.data.size())),
              ERROR_SUCCESS);
    DWORD winType = 0xDEAD;
    std::vector<std::uint8_t> stored(c.data.size() + 8);
    DWORD storedBytes = static_cast<DWORD>(stored.size());
    ASSERT_EQ(
        ::RegQueryValueExW(raw, viaPort.c_str(), nullptr, &winType, stored.data(), &storedBytes),
        ERROR_SUCCESS);
    EXPECT_EQ(winType, c.winType);
    stored.resize(storedBytes);
    EXPECT_EQ(stored, c.data);

    ASSERT_EQ(::RegSetValueExW(raw, viaWindows.c_str(), 0, c.winType, c.data.data(),
                               static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    std::uint32_t portType = 0xDEAD;
    std::uint32_t portBytes = 0;
    ASSERT_EQ(ports().registry.QueryValueEx(key.get(), viaWindows.c_str(), &portType, nullptr,
                                            &portBytes),
              ERROR_SUCCESS);
    EXPECT_EQ(portType, c.portType);
    ASSERT_EQ(portBytes, c.data.size());
    std::vector<std::uint8_t> read(portBytes + 1, 0xCC);
    ASSERT_EQ(ports().registry.QueryValueEx(key.get(), viaWindows.c_str(), nullptr, read.data(),
                                            &portBytes),
              ERROR_SUCCESS);
    read.resize(portBytes);
    EXPECT_EQ(read, c.data);
  }
}

// The port stores a value's bytes as given, with one exception Windows makes for string types:
// a counted text that does not end in NUL gains the NUL that follows it in memory. Callers (and
// the suites) that store an unterminated text must keep a non-NUL character behind it.
TEST_F(Win32AdapterTest, UnterminatedTextGainsTheNulBehindIt) {
  struct Case {
    const char* name;
    std::uint32_t type;
    const wchar_t* buffer;  // the first 5 characters are counted
    std::uint32_t stored;
  };
  const Case cases[] = {
      {"SzFollowedByNul", regtype::Sz, L"Kavid", 12},
      {"SzFollowedByText", regtype::Sz, L"KavidX", 10},
      {"ExpandSzFollowedByNul", regtype::ExpandSz, L"Kavid", 12},
      {"BinaryFollowedByNul", regtype::Binary, L"Kavid", 10},
  };
  UniqueHkey key = OpenScratchKey();
  ASSERT_TRUE(key.valid());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes = ToUtf16Bytes(c.buffer, true);
    const std::wstring name = WidenUtf8(c.name);
    ASSERT_EQ(ports().registry.SetValueEx(key.get(), name.c_str(), c.type, bytes.data(), 10),
              ERROR_SUCCESS);
    std::uint32_t size = 0;
    ASSERT_EQ(ports().registry.QueryValueEx(key.get(), name.c_str(), nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, c.stored);
  }
}

// The port's roots are HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, which it cannot check at compile
// time (they are pointer casts), and a root reopened with an empty sub-key stays usable.
TEST_F(Win32AdapterTest, RootsAreThePredefinedKeys) {
  EXPECT_EQ(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(HKEY_CURRENT_USER)),
            kHkeyCurrentUser);
  EXPECT_EQ(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE)),
            kHkeyLocalMachine);

  const std::wstring child = machine_->ScratchKey() + L"\\FromRoot";
  {
    UniqueHkey created = MakeUniqueHkey(ports().registry);
    ASSERT_EQ(ports().registry.CreateKeyEx(kHkeyCurrentUser, child.c_str(), sam::Write,
                                           created.put(), nullptr),
              ERROR_SUCCESS);
  }
  HKEY raw = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, child.c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
  ::RegCloseKey(raw);

  for (const HKey root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
    SCOPED_TRACE(root);
    UniqueHkey reopened = MakeUniqueHkey(ports().registry);
    ASSERT_EQ(ports().registry.OpenKeyEx(root, L"", sam::Read, reopened.put()), ERROR_SUCCESS);
    wchar_t name[256];
    auto chars = static_cast<std::uint32_t>(std::size(name));
    EXPECT_EQ(ports().registry.EnumKeyEx(reopened.get(), 0, name, &chars, nullptr), ERROR_SUCCESS);
  }
}

// File, mutex and module numbers are the kernel's handles: Windows accepts them directly, and a
// failed open answers INVALID_HANDLE_VALUE's bits.
TEST_F(Win32AdapterTest, HandlesAreTheKernelHandles) {
  IFileSystem& files = ports().files;
  const std::wstring path = machine_->ScratchFolder() + L"\\handle.bin";
  {
    UniqueFile file =
        MakeUniqueFile(files, files.CreateFile(path.c_str(), file::GenericWrite, 0, file::CreateNew,
                                               file::AttributeNormal));
    ASSERT_TRUE(file.valid());
    std::uint32_t written = 0;
    ASSERT_TRUE(files.WriteFile(file.get(), "12345", 5, &written));
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(reinterpret_cast<HANDLE>(file.get()), &size));
    EXPECT_EQ(size.QuadPart, 5);
  }
  const FileHandle missing =
      files.CreateFile((machine_->ScratchFolder() + L"\\no\\such.bin").c_str(), file::GenericRead,
                       file::ShareRead, file::OpenExisting, file::AttributeNormal);
  EXPECT_EQ(ports().errors.GetLastError(), err::PathNotFound);
  EXPECT_EQ(missing, reinterpret_cast<FileHandle>(INVALID_HANDLE_VALUE));
  EXPECT_EQ(missing, kInvalidFile);

  UniqueSync mutex = MakeUniqueSync(ports().sync, ports().sync.CreateMutex(true, nullptr));
  ASSERT_TRUE(mutex.valid());
  EXPECT_TRUE(::ReleaseMutex(reinterpret_cast<HANDLE>(mutex.get())));
  EXPECT_FALSE(::ReleaseMutex(reinterpret_cast<HANDLE>(mutex.get())));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

  const auto exe = reinterpret_cast<ModuleHandle>(::GetModuleHandleW(nullptr));
  ModuleHandle byAddress = 0;
  ASSERT_TRUE(ports().process.GetModuleHandleEx(modflag::FromAddress | modflag::UnchangedRefcount,
                                                reinterpret_cast<const void*>(&test::AllTargets),
                                                &byAddress));
  EXPECT_EQ(byAddress, exe);
  std::uint32_t needed = 0;
  ASSERT_TRUE(ports().process.EnumProcessModules(nullptr, 0, &needed));
  ASSERT_GE(needed, sizeof(ModuleHandle));
  std::vector<ModuleHandle> modules(needed / sizeof(ModuleHandle) + 8, 0);
  ASSERT_TRUE(ports().process.EnumProcessModules(
      modules.data(), static_cast<std::uint32_t>(modules.size() * sizeof(ModuleHandle)), &needed));
  modules.resize(needed / sizeof(ModuleHandle));
  // Windows lists the executable first.
  EXPECT_EQ(modules.front(), exe);
  const auto kernel32 = reinterpret_cast<ModuleHandle>(::GetModuleHandleW(L"kernel32.dll"));
  EXPECT_NE(std::find(modules.begin(), modules.end(), kernel32), modules.end());
}

// The contract suite reads the running executable's block, which the test executable lacks;
// kernel32's has every part. Values point into the caller's block (nothing is copied) and a
// StringFileInfo length counts characters with the NUL, exactly as VerQueryValueW answers.
TEST_F(Win32AdapterTest, VersionValuesPointIntoTheBlock) {
  wchar_t path[MAX_PATH] = L"";
  ASSERT_NE(::GetModuleFileNameW(::GetModuleHandleW(L"kernel32.dll"), path,
                                 static_cast<DWORD>(std::size(path))),
            0u);
  IProcess& process = ports().process;
  const std::uint32_t size = process.GetFileVersionInfoSize(path);
  ASSERT_GT(size, 0u) << NarrowUtf8(path);
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(process.GetFileVersionInfo(path, size, block.data()));
  auto inside = [&block](const std::uint8_t* value, std::size_t bytes) {
    return value >= block.data() && value + bytes <= block.data() + block.size();
  };

  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\", &value, &length));
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_TRUE(inside(value, length));
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_GE(length, 4u);
  EXPECT_TRUE(inside(value, length));
  WORD translation[2];
  std::memcpy(translation, value, sizeof translation);
  auto hex4 = [](unsigned number) {
    std::wstring out;
    for (int shift = 12; shift >= 0; shift -= 4)
      out += L"0123456789abcdef"[(number >> shift) & 0xF];
    return out;
  };
  const std::wstring fileVersion =
      L"\\StringFileInfo\\" + hex4(translation[0]) + hex4(translation[1]) + L"\\FileVersion";

  ASSERT_TRUE(process.VerQueryValue(block.data(), fileVersion.c_str(), &value, &length))
      << NarrowUtf8(fileVersion);
  EXPECT_TRUE(inside(value, std::size_t{length} * 2));
  const std::wstring text = FromUtf16Bytes(value, std::size_t{length} * 2);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.size() + 1, length);
  void* raw = nullptr;
  UINT rawLength = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), fileVersion.c_str(), &raw, &rawLength));
  EXPECT_EQ(static_cast<const void*>(value), raw);
  EXPECT_EQ(length, rawLength);
}

std::wstring Expand(const wchar_t* text) {
  wchar_t out[MAX_PATH * 2];
  const DWORD chars = ::ExpandEnvironmentStringsW(text, out, static_cast<DWORD>(std::size(out)));
  return chars == 0 || chars > std::size(out) ? std::wstring() : std::wstring(out);
}

std::wstring WindowsFolder() {
  wchar_t out[MAX_PATH];
  const UINT chars = ::GetWindowsDirectoryW(out, static_cast<UINT>(std::size(out)));
  return std::wstring(out, chars < std::size(out) ? chars : 0);
}

std::wstring SystemFolder() {
  wchar_t out[MAX_PATH];
  const UINT chars = ::GetSystemDirectoryW(out, static_cast<UINT>(std::size(out)));
  return std::wstring(out, chars < std::size(out) ? chars : 0);
}

// Each folder id names the folder that Windows reports through its other channels.
TEST_F(Win32AdapterTest, FolderIdsNameTheirFolders) {
  struct Case {
    const char* name;
    int csidl;
    std::wstring expected;  // empty: only the ending is known
    const wchar_t* ending;
  };
  const Case cases[] = {
      {"AppData", csidl::AppData, Expand(L"%APPDATA%"), L""},
      {"LocalAppData", csidl::LocalAppData, Expand(L"%LOCALAPPDATA%"), L""},
      {"CommonAppData", csidl::CommonAppData, Expand(L"%ProgramData%"), L""},
      {"ProgramFiles", csidl::ProgramFiles, Expand(L"%ProgramFiles%"), L""},
      {"ProgramFilesX86", csidl::ProgramFilesX86, Expand(L"%ProgramFiles(x86)%"), L""},
      {"Windows", csidl::Windows, WindowsFolder(), L""},
      {"System", csidl::System, SystemFolder(), L""},
      {"Startup", csidl::Startup | csidl::FlagCreate, Expand(L"%APPDATA%"),
       L"\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
      {"CommonStartup", csidl::CommonStartup | csidl::FlagCreate, Expand(L"%ProgramData%"),
       L"\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.expected.empty()) << "Windows did not name the folder";
    wchar_t path[MAX_PATH] = L"";
    ASSERT_EQ(ports().files.GetFolderPath(c.csidl, path), hr::Ok);
    EXPECT_TRUE(EqualsNoCase(path, c.expected + c.ending))
        << NarrowUtf8(path) << " is not " << NarrowUtf8(c.expected + c.ending);
  }
}

// With no debugger attached, Windows hands debug texts to the one system-wide monitor through the
// DBWIN shared buffer; acting as that monitor shows that the adapter really sends them. The send
// is synchronous: the data event is set before OutputDebugStringW returns.
class DebugMonitor {
 public:
  DebugMonitor() {
    bufferReady_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    otherMonitor_ = bufferReady_ != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
    dataReady_ = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                    L"DBWIN_BUFFER");
    if (mapping_) view_ = ::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096);
  }
  ~DebugMonitor() {
    if (view_) ::UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, dataReady_, bufferReady_}) {
      if (h) ::CloseHandle(h);
    }
  }
  DebugMonitor(const DebugMonitor&) = delete;
  DebugMonitor& operator=(const DebugMonitor&) = delete;

  bool ready() const { return bufferReady_ && dataReady_ && view_; }
  bool otherMonitor() const { return otherMonitor_; }

  // What one send delivered: "<pid>:<text>", or "nothing" when no text arrived.
  template <class Send>
  std::string Receive(Send&& send) {
    ::SetEvent(bufferReady_);
    send();
    if (::WaitForSingleObject(dataReady_, 0) != WAIT_OBJECT_0) return "nothing";
    const auto* bytes = static_cast<const char*>(view_);
    DWORD pid = 0;
    std::memcpy(&pid, bytes, sizeof pid);
    return std::to_string(pid) + ":" + std::string(bytes + sizeof pid);
  }

 private:
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  bool otherMonitor_ = false;
};

// A program started through ShellExecuteEx is a process to wait on, with the exit code it ended
// with; a missing file starts nothing.
TEST_F(Win32AdapterTest, ShellExecuteExGivesAProcessAndItsExitCode) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
  SyncHandle process = 0;
  ASSERT_TRUE(
      ports().shell.ShellExecuteEx(0, L"open", cmd.c_str(), L"/c exit 107", sw::Hide, &process));
  ASSERT_NE(process, 0u);
  EXPECT_EQ(ports().sync.WaitForSingleObject(process, 30000), wait::Object0);
  std::uint32_t code = 0;
  EXPECT_TRUE(ports().shell.GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 107u);
  EXPECT_TRUE(ports().sync.CloseHandle(process));

  process = 1;
  const std::wstring missing = machine_->ScratchFolder() + L"\\DeviceManager\\DeviceManager.exe";
  EXPECT_FALSE(
      ports().shell.ShellExecuteEx(0, L"open", missing.c_str(), L"\"-r\"", sw::Hide, &process));
  EXPECT_EQ(process, 0u);
  EXPECT_NE(ports().errors.GetLastError(), 0u);
}

// The WIA device manager by COM activation, and a device it does not know: interface pointers
// come back as numbers only when the call succeeded, and every one goes back to COM. (Wine's
// manager is made, and answers E_NOTIMPL for every device.)
TEST_F(Win32AdapterTest, WiaDeviceManagerAndAnUnknownDevice) {
  IWia& wia = ports().wia;
  const HResult com = wia.CoInitialize();
  ASSERT_TRUE(hr::Succeeded(com));
  WiaObject manager = 1;
  const HResult created = wia.CreateDevMgr(&manager);
  if (hr::Succeeded(created)) {
    ASSERT_NE(manager, 0u);
    WiaObject root = 1;
    const HResult device =
        wia.CreateDevice(manager, L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\9999", &root);
    EXPECT_FALSE(hr::Succeeded(device));
    EXPECT_EQ(root, 0u);
    wia.Release(manager);
  } else {
    EXPECT_EQ(manager, 0u);
  }
  // A medium that was never filled is freed without releasing contents it does not have.
  const WiaObject medium = wia.NewFileMedium();
  EXPECT_NE(medium, 0u);
  wia.FreeMedium(medium, false);
  wia.CoUninitialize();
}

TEST(Win32DebugOutputTest, TextsReachTheSystemMonitor) {
  if (::IsDebuggerPresent()) GTEST_SKIP() << "a debugger receives the texts instead";
  struct Case {
    const char* name;
    const wchar_t* text;
    const char* received;
  };
  const Case cases[] = {
      {"Plain", L"Kavid: probe 1", "Kavid: probe 1"},
      {"FormatCharsAndNewline", L"%s %d 100%\r\n", "%s %d 100%\r\n"},
      {"Empty", L"", ""},
  };
  std::vector<std::string> received;
  bool otherMonitor = false;
  {
    // gtest copies every failure to the debugger channel too, so nothing is asserted while this
    // process is the monitor.
    DebugMonitor monitor;
    otherMonitor = monitor.otherMonitor();
    if (monitor.ready() && !otherMonitor) {
      Win32Platform real;
      for (const Case& c : cases) {
        received.push_back(monitor.Receive([&] { real.Ports().debug.OutputDebugString(c.text); }));
      }
    }
  }
  if (otherMonitor) GTEST_SKIP() << "another debug monitor holds the DBWIN buffer";
  ASSERT_EQ(received.size(), std::size(cases)) << "the DBWIN buffer could not be set up";
  const std::string pid = std::to_string(::GetCurrentProcessId());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(received[i], pid + ":" + cases[i].received);
  }
}

// The calendar time comes from the C run-time; it must agree with the system's local time, read
// just before and just after (a second may tick in between).
TEST(Win32ClockTest, CalendarTimeIsTheSystemLocalTime) {
  Win32Platform real;
  SYSTEMTIME before{};
  SYSTEMTIME after{};
  CalendarTime now;
  ::GetLocalTime(&before);
  ASSERT_TRUE(real.Ports().clock.GetLocalCalendarTime(&now));
  ::GetLocalTime(&after);
  auto same = [&now](const SYSTEMTIME& t) {
    return now.year == t.wYear && now.month == t.wMonth && now.day == t.wDay &&
           now.hour == t.wHour && now.minute == t.wMinute && now.second == t.wSecond;
  };
  EXPECT_TRUE(same(before) || same(after)) << now.year << "-" << now.month << "-" << now.day << " "
                                           << now.hour << ":" << now.minute << ":" << now.second;
}

// The source manager of the Windows folder through DSM_Entry with the standard's structures:
// the manager opens for a window of this thread, lists the sources Wine installs with its texts
// at the standard's offsets, and closes again.
TEST_F(Win32AdapterTest, TheTwainSourceManagerOpensListsAndCloses) {
  ITwain& twain = ports().twain;
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(ports().modules.GetWindowsDirectory(windows, MAX_PATH), 0u);
  bool hasEntry = false;
  const TwainLibrary library =
      twain.LoadLibrary((std::wstring(windows) + L"\\twain_32.dll").c_str(), &hasEntry);
  ASSERT_NE(library, 0u);
  EXPECT_TRUE(hasEntry);
  // A message-only window: this suite runs without a display.
  HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  TwIdentity app;
  app.majorNum = 1;
  app.language = twain::TWLG_ENGLISH_USA;
  app.country = twain::TWCY_INDIA;
  app.protocolMajor = 2;
  app.supportedGroups = twain::DG_CONTROL | twain::DG_IMAGE;
  app.manufacturer = "Quvari";
  app.productFamily = "Quvari";
  app.productName = "Kavid";
  EXPECT_EQ(twain.Parent(library, app, twain::MSG_OPENDSM, reinterpret_cast<WindowHandle>(window)),
            twain::TWRC_SUCCESS);
  EXPECT_EQ(app.productName, "Kavid");  // read back unchanged
  // Wine's own sources (its gphoto2 and sane sources): their texts where the standard puts them,
  // then the end of the list.
  std::vector<std::string> products;
  TwIdentity source;
  std::uint16_t code = twain.Identity(library, app, twain::MSG_GETFIRST, source);
  for (int i = 0; code == twain::TWRC_SUCCESS && i < 20; ++i) {
    products.push_back(source.productName);
    EXPECT_EQ(source.manufacturer, "The Wine Team") << source.productName;
    code = twain.Identity(library, app, twain::MSG_GETNEXT, source);
  }
  EXPECT_EQ(code, twain::TWRC_ENDOFLIST);
  EXPECT_NE(std::find(products.begin(), products.end(), "GPhoto2 Camera"), products.end());
  EXPECT_EQ(twain.Parent(library, app, twain::MSG_CLOSEDSM, reinterpret_cast<WindowHandle>(window)),
            twain::TWRC_SUCCESS);
  twain.FreeLibrary(library);
  ::DestroyWindow(window);
  EXPECT_EQ(twain.AnsiToWide("Quvari TWAIN"), L"Quvari TWAIN");
}

}  // namespace
}  // namespace kvd::platform::win32
