#include "platform/sim/SimMachine.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace {
// The port methods that can fail on Windows, so that a fault can be injected into them.
constexpr std::string_view kFailable[] = {
    // IRegistry
    "OpenKeyEx", "CreateKeyEx", "QueryValueEx", "SetValueEx", "DeleteValue", "DeleteKeyEx",
    "EnumKeyEx", "EnumValue", "DeleteTree", "CloseKey",
    // IFileSystem (and ISync's CloseHandle)
    "GetFileAttributesEx", "CreateFile", "SetFilePointer", "WriteFile", "ReadFile", "CloseHandle",
    "DeleteFile", "CreateDirectory", "GetTempFileName", "GetLongPathName", "SearchPath",
    "GetFolderPath", "FindFirstFile", "FindNextFile", "FindClose", "CopyFile",
    // IEnvironment
    "ExpandEnvironmentStrings", "SetEnvironmentVariable",
    // IProcess
    "GetModuleFileName", "GetModuleHandleEx", "EnumProcessModules", "GetFileVersionInfoSize",
    "GetFileVersionInfo", "VerQueryValue", "CreateToolhelp32Snapshot", "OpenProcess",
    "TerminateProcess",
    // IClock
    "QueryPerformanceCounter", "QueryPerformanceFrequency", "GetLocalCalendarTime",
    // IErrors
    "FormatMessage",
    // ISync
    "CreateMutex", "WaitForSingleObject", "WaitForMultipleObjects", "ReleaseMutex", "CreateEvent",
    "OpenEvent", "SetEvent", "ResetEvent",
    // IXmlFactory
    "CreateDocument",
    // IGdi (EnumFontFamiliesEx answers a count, with no failure of its own)
    "CreateFont", "DeleteObject",
    // ISystemInfo, ISecurity, IShell
    "GetVersionEx", "VerifyVersionAtLeast", "IsWow64Process", "GetProcessTokenGroups",
    "LookupAccountSid", "CreateProcess", "MessageBox", "OpenProcessToken", "LookupPrivilegeValue",
    "AdjustTokenPrivileges", "InitiateSystemShutdownEx", "ShellExecute", "ShellExecuteEx",
    "GetExitCodeProcess",
    // IInstaller (MsiSetInternalUI cannot fail)
    "MsiEnumProducts", "MsiGetProductInfo", "MsiOpenProduct", "MsiDoAction",
    "MsiGetProductProperty", "MsiGetTargetPath", "MsiConfigureProduct", "MsiCloseHandle",
    // INetwork
    "GetAdaptersAddresses", "QueryPhysicalMedium",
    // IWindowMessages
    "SendMessage", "PostMessage",
    // IDevices
    "GetClassDevs", "EnumDeviceInfo", "GetDeviceRegistryProperty", "GetDeviceInstanceId",
    "GetDeviceInfoListDetail", "ClassGuidsFromName", "DestroyDeviceInfoList", "GetDeviceId",
    "GetDevNodeStatus", "LocateRootDevNode", "ReenumerateDevNode", "SetPropertyChangeParams",
    "CallClassInstaller", "GetDeviceInstallFlags",
    // IModules
    "GetSystemDirectory", "GetWindowsDirectory", "LoadLibrary", "GetProcAddress", "FreeLibrary",
    // IServices
    "OpenSCManager", "OpenService", "QueryServiceConfig", "ChangeServiceConfig",
    "QueryServiceStatus", "StartService", "CloseServiceHandle",
    // ICrocan (its own failures with a status: SimCrocan::Fail)
    "CreateScannerManager", "GetScannerByFriendlyName2", "CreateScanner", "OpenScannerSession",
    "CloseScannerSession", "LockScanner", "UnlockScanner", "GetLampStatus", "LampOn",
    "GetScannerCapabilities", "GetBufferInfo", "InitializeScanner", "ResetScanner",
    "SetScannerParameters", "SetGammaTable", "StartScan", "StopScan", "ReadScan", "ReadScanData",
    "ExtensionCall", "GetADFScannerCapabilities", "ADFPaperFeed", "ADFIsReady",
    // ITwain: the library, and the triplets by the data they carry
    "TwainLoadLibrary", "DsmParent", "DsmIdentity", "DsmUserInterface", "DsmProcessEvent",
    "DsmStatus", "DsmImageInfo", "DsmNativeTransfer", "DsmPendingTransfers",
    // ISockets (inet_addr cannot fail), IIcmp
    "WSAStartup", "WSACleanup", "gethostbyname", "gethostbyaddr", "IcmpCreateFile", "IcmpSendEcho",
    "IcmpCloseHandle",
    // IWia (CoUninitialize, the interface queries, NewFileMedium, FreeMedium and Release cannot
    // fail)
    "CoInitialize", "CreateDevMgr", "CreateDevice", "SelectDeviceDlg", "EnumChildItems", "GetCount",
    "Next", "DeviceDlg", "ReadProperties", "WriteTransferFormat", "GetData",
    // Not here, because they cannot fail: GetTickCount, Sleep, OutputDebugString, GetLastError,
    // SetLastError, GetCommandLine, GetCurrentProcessId, GetCurrentThreadId.
};
}  // namespace

SimMachine::SimMachine()
    : errors_(calls_),
      clock_(calls_, errors_),
      registry_(calls_, clock_),
      files_(calls_, errors_, clock_),
      environment_(calls_, errors_),
      process_(calls_, errors_, files_),
      debug_(calls_),
      sync_(calls_, errors_, clock_),
      xml_(calls_, files_),
      system_(calls_, errors_),
      security_(calls_, errors_, sync_),
      shell_(calls_, errors_, files_, sync_, process_),
      installer_(calls_),
      network_(calls_),
      ini_(calls_, files_),
      devices_(calls_, errors_, registry_),
      modules_(calls_, errors_, files_, process_),
      sockets_(calls_, errors_, hosts_),
      icmp_(calls_, errors_, clock_, modules_, hosts_),
      gdi_(calls_),
      services_(calls_, errors_),
      wia_(calls_),
      crocan_(calls_),
      twain_(calls_, clock_, files_),
      com_(calls_),
      windows_(calls_, errors_, clock_),
      ports_{registry_, files_, environment_, process_,  clock_,   debug_,     errors_,
             sync_,     xml_,   system_,      security_, shell_,   installer_, network_,
             windows_,  ini_,   devices_,     modules_,  sockets_, icmp_,      gdi_,
             services_, wia_,   crocan_,      twain_,    com_} {
  // The executable is a file like any other: it can be searched for, opened and read.
  files_.PutFile(process_.ModulePath(), {'M', 'Z'});
  system_.FollowWow64([this](bool wow64) { files_.SetWow64(wow64); });
  modules_.AddLibrary(
      std::wstring(SimModules::kSystemFolder) + L"\\iphlpapi.dll",
      {"GetAdaptersAddresses", "IcmpCreateFile", "IcmpCloseHandle", "IcmpSendEcho"});
  // The still-image service of every Windows 7 (Wine has one by that name too).
  SimServices::Service stillImage;
  stillImage.serviceType = 0x20;  // SERVICE_WIN32_SHARE_PROCESS
  stillImage.binaryPathName = L"C:\\Windows\\system32\\svchost.exe -k imgsvc";
  stillImage.displayName = L"Windows Image Acquisition (WIA)";
  services_.Put(L"stisvc", stillImage);
  // The setup classes every Windows has, by the names SetupAPI finds them under.
  const std::pair<platform::Guid, const wchar_t*> classes[] = {
      {platform::devclass::Image, L"Image"},
      {platform::devclass::Usb, L"USB"},
      {platform::devclass::Printer, L"Printer"}};
  for (const auto& [guid, name] : classes) {
    registry_.PutString(platform::kHkeyLocalMachine,
                        std::wstring(SimDevices::kClassRoot) + L"\\" + platform::GuidToText(guid),
                        L"Class", name);
  }
}

void SimMachine::InjectFault(std::string_view method, int nth, std::uint32_t code,
                             bool persistent) {
  if (method.empty() ||
      std::find(std::begin(kFailable), std::end(kFailable), method) == std::end(kFailable)) {
    throw std::invalid_argument("InjectFault: no port method that can fail is named " +
                                std::string(method));
  }
  calls_.Inject(method, nth, code, persistent);
}

void SimMachine::ClearFaults() { calls_.Clear(); }

void SimMachine::InjectHang(std::string_view method, int nth) { calls_.InjectHang(method, nth); }

void SimMachine::ReleaseHangs() { calls_.ReleaseHangs(); }

std::size_t SimMachine::HungCalls() const { return calls_.HungCalls(); }

std::uint64_t SimMachine::CallCount(std::string_view method) const { return calls_.Count(method); }

}  // namespace kvd::sim
