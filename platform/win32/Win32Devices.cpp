// The Plug and Play, run-time library, Winsock and ICMP ports over setupapi, cfgmgr32, kernel32,
// ws2_32 and the entries of the IP helper library that the program loaded itself.
#include "platform/win32/Guids.h"
#include "platform/win32/ScanSettingsTypes.h"
#include "platform/win32/Win32Platform.h"

#include "platform/win32/Windows.h"

// Winsock 2 before anything that pulls in the old winsock.h; icmpapi needs the IP helper types.
#include <winsock2.h>

#include <cfgmgr32.h>
#include <iphlpapi.h>
#include <setupapi.h>

// After iphlpapi.h, whose address and option types it uses.
#include <icmpapi.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#undef GetSystemDirectory
#undef GetWindowsDirectory
#undef LoadLibrary

namespace kvd::platform::win32 {

static_assert(digcf::Default == DIGCF_DEFAULT);
static_assert(digcf::Present == DIGCF_PRESENT);
static_assert(digcf::AllClasses == DIGCF_ALLCLASSES);
static_assert(spdrp::DeviceDesc == SPDRP_DEVICEDESC);
static_assert(spdrp::HardwareId == SPDRP_HARDWAREID);
static_assert(spdrp::CompatibleIds == SPDRP_COMPATIBLEIDS);
static_assert(spdrp::Service == SPDRP_SERVICE);
static_assert(spdrp::Class == SPDRP_CLASS);
static_assert(spdrp::ClassGuid == SPDRP_CLASSGUID);
static_assert(spdrp::Driver == SPDRP_DRIVER);
static_assert(spdrp::Mfg == SPDRP_MFG);
static_assert(spdrp::FriendlyName == SPDRP_FRIENDLYNAME);
static_assert(cr::Success == CR_SUCCESS);
static_assert(cr::InvalidPointer == CR_INVALID_POINTER);
static_assert(cr::InvalidDevNode == CR_INVALID_DEVNODE);
static_assert(cr::NoSuchDevNode == CR_NO_SUCH_DEVNODE);
static_assert(cr::BufferSmall == CR_BUFFER_SMALL);
static_assert(cr::Failure == CR_FAILURE);
static_assert(dics::Enable == DICS_ENABLE && dics::Disable == DICS_DISABLE);
static_assert(dics::FlagGlobal == DICS_FLAG_GLOBAL &&
              dics::FlagConfigSpecific == DICS_FLAG_CONFIGSPECIFIC);
static_assert(dics::DifPropertyChange == DIF_PROPERTYCHANGE);
static_assert(dics::DiNeedRestart == DI_NEEDRESTART && dics::DiNeedReboot == DI_NEEDREBOOT);
static_assert(cmprob::Disabled == CM_PROB_DISABLED);
static_assert(cr::ReenumerateRetryInstallation == CM_REENUMERATE_RETRY_INSTALLATION);
static_assert(cr::CallNotImplemented == CR_CALL_NOT_IMPLEMENTED);
static_assert(cr::DnHasProblem == DN_HAS_PROBLEM);
static_assert(cr::DnStarted == DN_STARTED);
static_assert(cr::DnDriverLoaded == DN_DRIVER_LOADED);
static_assert(sizeof(DevInst) == sizeof(DEVINST));
// INVALID_HANDLE_VALUE is ~0 as a pointer (not a constant expression here).
static_assert(kInvalidDevInfoSet == ~static_cast<std::uintptr_t>(0));
static_assert(sizeof(Guid) == sizeof(GUID));

static_assert(kInaddrNone == INADDR_NONE);
static_assert(icmp::kEchoReplyBytes == sizeof(ICMP_ECHO_REPLY));
static_assert(icmp::IpSuccess == IP_SUCCESS);
static_assert(icmp::IpBufTooSmall == IP_BUF_TOO_SMALL);
static_assert(icmp::IpReqTimedOut == IP_REQ_TIMED_OUT);
static_assert(kInvalidIcmpHandle == ~static_cast<std::uintptr_t>(0));

namespace {

HDEVINFO ToSet(DevInfoSet set) { return reinterpret_cast<HDEVINFO>(set); }

SP_DEVINFO_DATA ToElement(const DevInfoData& element) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  data.ClassGuid = ToGuid(element.classGuid);
  data.DevInst = element.devInst;
  data.Reserved = element.reserved;
  return data;
}

}  // namespace

DevInfoSet Win32Devices::GetClassDevs(const Guid* classGuid, const wchar_t* enumerator,
                                      std::uint32_t flags) {
  GUID guid{};
  if (classGuid != nullptr) guid = ToGuid(*classGuid);
  return reinterpret_cast<DevInfoSet>(SetupDiGetClassDevsExW(classGuid != nullptr ? &guid : nullptr,
                                                             enumerator, nullptr, flags, nullptr,
                                                             nullptr, nullptr));
}

bool Win32Devices::EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* out) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInfo(ToSet(set), index, &data)) return false;
  out->classGuid = FromGuid(data.ClassGuid);
  out->devInst = data.DevInst;
  out->reserved = data.Reserved;
  return true;
}

bool Win32Devices::GetDeviceRegistryProperty(DevInfoSet set, const DevInfoData& element,
                                             std::uint32_t property, std::uint32_t* type,
                                             std::uint8_t* buffer, std::uint32_t bytes,
                                             std::uint32_t* required) {
  SP_DEVINFO_DATA data = ToElement(element);
  InOut<DWORD> winType(type);
  InOut<DWORD> winRequired(required);
  return SetupDiGetDeviceRegistryPropertyW(ToSet(set), &data, property, winType.get(), buffer,
                                           bytes, winRequired.get()) != FALSE;
}

bool Win32Devices::GetDeviceInstanceId(DevInfoSet set, const DevInfoData& element, wchar_t* buffer,
                                       std::uint32_t chars, std::uint32_t* required) {
  SP_DEVINFO_DATA data = ToElement(element);
  InOut<DWORD> winRequired(required);
  return SetupDiGetDeviceInstanceIdW(ToSet(set), &data, buffer, chars, winRequired.get()) != FALSE;
}

bool Win32Devices::GetDeviceInfoListDetail(DevInfoSet set, DevMachine* machine) {
  SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
  detail.cbSize = sizeof detail;
  if (!SetupDiGetDeviceInfoListDetailW(ToSet(set), &detail)) return false;
  *machine = reinterpret_cast<DevMachine>(detail.RemoteMachineHandle);
  return true;
}

bool Win32Devices::ClassGuidsFromName(const wchar_t* className, Guid* guids, std::uint32_t size,
                                      std::uint32_t* required) {
  std::vector<GUID> list(size);
  DWORD needed = 0;
  const bool ok = SetupDiClassGuidsFromNameExW(className, size != 0 ? list.data() : nullptr, size,
                                               &needed, nullptr, nullptr) != FALSE;
  if (required != nullptr) *required = needed;
  if (!ok) return false;
  for (DWORD i = 0; i < size && i < needed; ++i) guids[i] = FromGuid(list[i]);
  return true;
}

bool Win32Devices::DestroyDeviceInfoList(DevInfoSet set) {
  return SetupDiDestroyDeviceInfoList(ToSet(set)) != FALSE;
}

std::uint32_t Win32Devices::GetDeviceId(DevInst devInst, wchar_t* buffer, std::uint32_t chars) {
  return CM_Get_Device_IDW(devInst, buffer, chars, 0);
}

std::uint32_t Win32Devices::GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                             DevInst devInst, DevMachine machine) {
  InOut<ULONG> winStatus(status);
  InOut<ULONG> winProblem(problem);
  return CM_Get_DevNode_Status_Ex(winStatus.get(), winProblem.get(), devInst, 0,
                                  reinterpret_cast<HMACHINE>(machine));
}

bool Win32Devices::SetPropertyChangeParams(DevInfoSet set, const DevInfoData& element,
                                           std::uint32_t stateChange, std::uint32_t scope,
                                           std::uint32_t hwProfile) {
  SP_DEVINFO_DATA data = ToElement(element);
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = scope;
  params.HwProfile = hwProfile;
  return SetupDiSetClassInstallParamsW(ToSet(set), &data, &params.ClassInstallHeader,
                                       sizeof params) != FALSE;
}

bool Win32Devices::CallClassInstaller(std::uint32_t installFunction, DevInfoSet set,
                                      const DevInfoData& element) {
  SP_DEVINFO_DATA data = ToElement(element);
  return SetupDiCallClassInstaller(installFunction, ToSet(set), &data) != FALSE;
}

bool Win32Devices::GetDeviceInstallFlags(DevInfoSet set, const DevInfoData& element,
                                         std::uint32_t* flags) {
  SP_DEVINFO_DATA data = ToElement(element);
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!SetupDiGetDeviceInstallParamsW(ToSet(set), &data, &params)) return false;
  *flags = params.Flags;
  return true;
}

std::uint32_t Win32Devices::LocateRootDevNode(DevInst* devInst) {
  DEVINST root = 0;
  const CONFIGRET result = CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr);
  *devInst = root;
  return result;
}

std::uint32_t Win32Devices::ReenumerateDevNode(DevInst devInst, std::uint32_t flags) {
  return CM_Reenumerate_DevNode_Ex(devInst, flags, nullptr);
}

std::uint32_t Win32Modules::GetSystemDirectory(wchar_t* buffer, std::uint32_t chars) {
  return GetSystemDirectoryW(buffer, chars);
}

std::uint32_t Win32Modules::GetWindowsDirectory(wchar_t* buffer, std::uint32_t chars) {
  return GetWindowsDirectoryW(buffer, chars);
}

ModuleHandle Win32Modules::LoadLibrary(const wchar_t* path) {
  return reinterpret_cast<ModuleHandle>(LoadLibraryW(path));
}

ProcAddress Win32Modules::GetProcAddress(ModuleHandle module, const char* name) {
  return reinterpret_cast<ProcAddress>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

bool Win32Modules::FreeLibrary(ModuleHandle module) {
  return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != FALSE;
}

void Win32Modules::CallDevicePropertiesRunDll(ProcAddress entry, const wchar_t* commandLine,
                                              int show) {
  using RunDll = void(WINAPI*)(HWND, HINSTANCE, LPCWSTR, int);
  // The export's documented signature; the address came from GetProcAddress for that name.
  const auto run = reinterpret_cast<RunDll>(entry);
  run(nullptr, ::GetModuleHandleW(nullptr), commandLine, show);
}

std::uint32_t Win32Modules::CallDriverPackageUninstall(ProcAddress entry, const wchar_t* infPath,
                                                       std::uint32_t flags, bool* needReboot) {
  // DWORD DriverPackageUninstallW(PCWSTR, DWORD, PCINSTALLERINFO_W, BOOL*): the install-log
  // entry is not used, so its structure is not needed either.
  using Uninstall = DWORD(WINAPI*)(LPCWSTR, DWORD, const void*, BOOL*);
  const auto uninstall = reinterpret_cast<Uninstall>(entry);
  BOOL reboot = FALSE;
  const DWORD result = uninstall(infPath, flags, nullptr, &reboot);
  *needReboot = reboot != FALSE;
  return result;
}

namespace {

AiODeviceScanSettings* ScanSettingsObject(ScanSettings object) {
  return reinterpret_cast<AiODeviceScanSettings*>(object);
}

}  // namespace

ScanSettings Win32Modules::CallCreateScanSettings(ProcAddress entry, const std::wstring& deviceId) {
  BSTR id = ::SysAllocString(deviceId.c_str());
  if (id == nullptr) throw std::bad_alloc();
  const auto create = reinterpret_cast<CreateAiODeviceScanSettingsFn>(entry);
  AiODeviceScanSettings* object = create(id);
  ::SysFreeString(id);
  return reinterpret_cast<ScanSettings>(object);
}

void Win32Modules::CallDestroyScanSettings(ProcAddress entry, ScanSettings object) {
  reinterpret_cast<DestroyAiODeviceScanSettingsFn>(entry)(ScanSettingsObject(object));
}

bool Win32Modules::ScanSettingsOpenSession(ScanSettings object) {
  return ScanSettingsObject(object)->OpenSession();
}

void Win32Modules::ScanSettingsCloseSession(ScanSettings object) {
  ScanSettingsObject(object)->CloseSession();
}

bool Win32Modules::ScanSettingsShortcuts(ScanSettings object, std::uint32_t* count) {
  void* list = nullptr;
  unsigned long listed = 0;
  const bool listedOk = ScanSettingsObject(object)->GetDeviceShortcutList(&list, &listed);
  if (list != nullptr) ::CoTaskMemFree(list);
  *count = listedOk ? static_cast<std::uint32_t>(listed) : 0;
  return listedOk;
}

int Win32Sockets::WSAStartup(std::uint16_t version, WsaData* data) {
  WSADATA wsa{};
  const int result = ::WSAStartup(version, &wsa);
  data->version = wsa.wVersion;
  data->highVersion = wsa.wHighVersion;
  return result;
}

int Win32Sockets::WSACleanup() { return ::WSACleanup(); }

InAddr Win32Sockets::inet_addr(const char* text) { return ::inet_addr(text); }

namespace {

bool HostAddresses(const hostent* host, std::vector<InAddr>* addresses) {
  addresses->clear();
  if (host == nullptr) return false;
  if (host->h_addrtype == AF_INET && host->h_length == sizeof(InAddr)) {
    for (char** entry = host->h_addr_list; entry != nullptr && *entry != nullptr; ++entry) {
      InAddr address = 0;
      std::memcpy(&address, *entry, sizeof address);
      addresses->push_back(address);
    }
  }
  return true;
}

}  // namespace

bool Win32Sockets::gethostbyname(const char* name, std::vector<InAddr>* addresses) {
  return HostAddresses(::gethostbyname(name), addresses);
}

bool Win32Sockets::gethostbyaddr(InAddr address, std::vector<InAddr>* addresses) {
  return HostAddresses(
      ::gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET), addresses);
}

namespace {

using IcmpCreateFileFn = HANDLE(WINAPI*)();
using IcmpSendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID,
                                      DWORD, DWORD);
using IcmpCloseHandleFn = BOOL(WINAPI*)(HANDLE);

template <class Fn>
Fn Entry(ProcAddress entry) {
  return reinterpret_cast<Fn>(entry);
}

}  // namespace

IcmpHandle Win32Icmp::IcmpCreateFile(ProcAddress entry) {
  return reinterpret_cast<IcmpHandle>(Entry<IcmpCreateFileFn>(entry)());
}

std::uint32_t Win32Icmp::IcmpSendEcho(ProcAddress entry, IcmpHandle handle, InAddr address,
                                      std::uint16_t requestBytes, const IpOptions& options,
                                      std::uint32_t replyBytes, std::uint32_t timeoutMs,
                                      EchoReply* reply) {
  // Never a null request pointer, even for no data: the call documents a buffer there, and a
  // null one is refused by some versions of the library.
  std::vector<std::uint8_t> request(std::max<std::size_t>(requestBytes, 1));
  // Aligned for the reply structure the call writes at its start.
  std::vector<std::uint64_t> buffer((replyBytes + sizeof(std::uint64_t) - 1) /
                                    sizeof(std::uint64_t));
  IP_OPTION_INFORMATION info{};
  info.Ttl = options.ttl;
  info.Tos = options.tos;
  info.Flags = options.flags;
  const DWORD count =
      Entry<IcmpSendEchoFn>(entry)(reinterpret_cast<HANDLE>(handle), address, request.data(),
                                   requestBytes, &info, buffer.data(), replyBytes, timeoutMs);
  if (count != 0 && replyBytes >= sizeof(ICMP_ECHO_REPLY)) {
    ICMP_ECHO_REPLY first{};
    std::memcpy(&first, buffer.data(), sizeof first);
    reply->address = first.Address;
    reply->status = first.Status;
    reply->roundTripMs = first.RoundTripTime;
  }
  return count;
}

bool Win32Icmp::IcmpCloseHandle(ProcAddress entry, IcmpHandle handle) {
  return Entry<IcmpCloseHandleFn>(entry)(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace kvd::platform::win32
