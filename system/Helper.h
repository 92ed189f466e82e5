// system/: facts about the computer and the maker's installed software (CUtil), shared by many
// parts of the program.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/Platform.h"
#include "system/Threads.h"

// Set by GetOSName: the system is Windows Vista / Windows 7 workstation. Read by later checks
// from their worker threads, hence atomic.
extern std::atomic<bool> g_bVista;
extern std::atomic<bool> g_bWin7;

// The process-wide "Listen_Event" (auto-reset) and the window the watchdog reports to (the
// diagnosis page; none until the host window sets it).
extern std::atomic<kvd::platform::SyncHandle> g_hListenEvent;
extern std::atomic<kvd::platform::WindowHandle> g_hWatchTarget;
// Sets "Listen_Event" when it exists: a watched conversation with the device has ended.
void SignalListenEvent(kvd::platform::ISync& sync);

// Questions about the operating system, the maker's suite and the device's driver values.
// Holds nothing but the ports it asks through.
class CUtil {
 public:
  explicit CUtil(kvd::platform::Platform& platform) : m_platform(platform) {}

  // One HKLM value (32-bit view): with `buffer` null only its type and size. False when the key
  // or value cannot be read, when the buffer is too small (`size` then tells what it needs), or
  // when the path or name is empty (then nothing is asked). Callers that need to tell an absent
  // value from an unreadable one read through kvd::reg (system/Registry.h).
  bool ReadRegistryValue(const std::wstring& keyPath, const std::wstring& valueName,
                         std::uint32_t* type, std::uint8_t* buffer, std::uint32_t* size);

  bool GetOSName(std::wstring& name);
  bool IsOSSupported();
  bool IsVistaOrLater();
  bool IsWow64();
  bool IsAdmin();
  void GetAppVersion(std::wstring& version);
  bool GetBrevaneBinFolder(std::wstring& folder);
  bool IsTechnicalInfoPresent(std::wstring& path);
  void LaunchTechnicalnfoExe(const std::wstring& path);
  bool IsWin7UpgradeIssueExists();
  std::wstring GetInstallDirForModel(const std::wstring& model);
  bool HasScanButton(const std::wstring& driverKey);
  bool IsADFSupported(const std::wstring& driverKey);
  bool GetConnectionType();
  std::uint32_t EnumAdapterAddresses(std::vector<kvd::platform::AdapterAddress>& adapters);
  bool GetDeviceName(const std::wstring& model, std::wstring& name);

  // Leaves the two marks that make the next start resume (the restart flag and the program's
  // Run entry) and asks the system to reboot; true only when the reboot was really requested.
  bool RestartMachine();
  // Enables the shutdown privilege and asks for a reboot, without any resume marks (the
  // device-manager check's restart): true only when the system took the request.
  bool RequestReboot();
  // The restart flag is there: this program asked for the reboot that started it.
  bool IsRestartPending();
  // Removes both marks (the host window does it at start when a restart is pending).
  void RemoveRestartMarks();

  // Watches a worker that talks to the scanner: unless "Listen_Event" is signalled within 80
  // seconds, the diagnosis page is told that the scanner does not respond. The watchdog is a
  // thread of `owner`; it also ends when the worker ends or the owner asks its threads to stop.
  // An empty thread starts nothing.
  void StartWatcher(const CThreadGroup::Thread& thread, CThreadGroup& owner);

  kvd::platform::Platform& Ports() { return m_platform; }

 private:
  kvd::platform::Platform& m_platform;
};

inline constexpr const wchar_t* kRestartKey = L"SOFTWARE\\KVD";
inline constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The suite's registration of the KLE component, whose version tells the Windows 7 upgrade issue.
inline constexpr const wchar_t* kKleKey =
    L"SOFTWARE\\Quvari\\{4C1F7E25-8A3B-4D90-B6E2-19D5C0A7F381}";
