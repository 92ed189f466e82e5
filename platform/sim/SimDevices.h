#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/api/IDevices.h"
#include "platform/api/IModules.h"
#include "platform/api/IPing.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimProcess.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// The Plug and Play tree as Windows keeps it: every node is its registry key
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance> with a "ClassGUID" value,
// and its properties are that key's values ("DeviceDesc", "HardwareID", "Service", "Class",
// "Driver", "Mfg", "FriendlyName", ...). Setup classes are the keys under Control\Class with their
// "Class" names. What the registry does not hold is kept here: whether the device is plugged in
// (present) and its problem number. Instance ids are the key path upper-cased, as the PnP
// manager reports them.
class SimDevices final : public platform::IDevices {
 public:
  SimDevices(SimCalls& calls, SimErrors& errors, SimRegistry& registry);

  static constexpr const wchar_t* kEnumRoot = L"SYSTEM\\CurrentControlSet\\Enum";
  static constexpr const wchar_t* kClassRoot = L"SYSTEM\\CurrentControlSet\\Control\\Class";

  platform::DevInfoSet GetClassDevs(const platform::Guid* classGuid, const wchar_t* enumerator,
                                    std::uint32_t flags) override;
  bool EnumDeviceInfo(platform::DevInfoSet set, std::uint32_t index,
                      platform::DevInfoData* out) override;
  bool GetDeviceRegistryProperty(platform::DevInfoSet set, const platform::DevInfoData& element,
                                 std::uint32_t property, std::uint32_t* type, std::uint8_t* buffer,
                                 std::uint32_t bytes, std::uint32_t* required) override;
  bool GetDeviceInstanceId(platform::DevInfoSet set, const platform::DevInfoData& element,
                           wchar_t* buffer, std::uint32_t chars, std::uint32_t* required) override;
  bool GetDeviceInfoListDetail(platform::DevInfoSet set, platform::DevMachine* machine) override;
  bool ClassGuidsFromName(const wchar_t* className, platform::Guid* guids, std::uint32_t size,
                          std::uint32_t* required) override;
  bool DestroyDeviceInfoList(platform::DevInfoSet set) override;
  std::uint32_t GetDeviceId(platform::DevInst devInst, wchar_t* buffer,
                            std::uint32_t chars) override;
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                 platform::DevInst devInst, platform::DevMachine machine) override;
  // A property change applies on CallClassInstaller: enabling clears the node's "disabled"
  // problem (22), disabling sets it; every change is recorded.
  bool SetPropertyChangeParams(platform::DevInfoSet set, const platform::DevInfoData& element,
                               std::uint32_t stateChange, std::uint32_t scope,
                               std::uint32_t hwProfile) override;
  bool CallClassInstaller(std::uint32_t installFunction, platform::DevInfoSet set,
                          const platform::DevInfoData& element) override;
  // DI_NEEDRESTART after a change of a node told to need one.
  bool GetDeviceInstallFlags(platform::DevInfoSet set, const platform::DevInfoData& element,
                             std::uint32_t* flags) override;
  // The root node is "HTREE\ROOT\0"; a rescan of it is recorded with its flags.
  std::uint32_t LocateRootDevNode(platform::DevInst* devInst) override;
  std::uint32_t ReenumerateDevNode(platform::DevInst devInst, std::uint32_t flags) override;

  // Set-up and inspection. A node is present with no problem until told otherwise.
  void SetPresent(const std::wstring& instanceId, bool present);
  void SetProblem(const std::wstring& instanceId, std::uint32_t problem);
  std::size_t OpenSetCount() const;
  // The flags of every rescan of the root node, in order.
  std::vector<std::uint32_t> RootRescans() const;
  // A property change of the node makes its class installer ask for a restart.
  void SetChangeNeedsRestart(const std::wstring& instanceId, bool needs);
  struct Change {
    std::wstring instanceId;  // upper case
    std::uint32_t stateChange = 0;
    std::uint32_t scope = 0;
  };
  std::vector<Change> Changes() const;

 private:
  struct Node {
    std::wstring path;  // below the Enum key, as stored
    platform::DevInst devInst = 0;
    platform::Guid classGuid;
  };
  struct Set {
    std::vector<Node> nodes;
  };

  // The node's facts, looked up by its id in upper case.
  struct State {
    bool present = true;
    std::uint32_t problem = 0;
    bool changeNeedsRestart = false;
    bool changed = false;
    std::uint32_t pendingState = 0;
    std::uint32_t pendingScope = 0;
  };

  std::vector<Node> ListLocked(const platform::Guid* classGuid, const wchar_t* enumerator,
                               bool presentOnly, bool* enumeratorFound);
  platform::DevInst InternLocked(const std::wstring& upperId);
  const Node* ElementLocked(platform::DevInfoSet set, const platform::DevInfoData& element);

  SimCalls& calls_;
  SimErrors& errors_;
  SimRegistry& registry_;
  mutable std::mutex mutex_;
  std::map<platform::DevInfoSet, Set> sets_;
  std::map<std::wstring, platform::DevInst> devInsts_;  // by upper-case id
  std::vector<std::uint32_t> rootRescans_;
  std::vector<Change> changes_;
  std::vector<std::wstring> ids_;         // devInst - 1 -> upper-case id
  std::map<std::wstring, State> states_;  // by upper-case id
};

// Libraries: a library loads when its file exists and it was declared with its exports. A bare
// name is searched the way LoadLibraryW searches it: the program's folder first, then the system
// folder, so that a test can plant a library where it must not be picked up.
class SimModules final : public platform::IModules {
 public:
  SimModules(SimCalls& calls, SimErrors& errors, SimFileSystem& files, SimProcess& process);

  static constexpr const wchar_t* kSystemFolder = L"C:\\Windows\\system32";

  std::uint32_t GetSystemDirectory(wchar_t* buffer, std::uint32_t chars) override;
  std::uint32_t GetWindowsDirectory(wchar_t* buffer, std::uint32_t chars) override;
  platform::ModuleHandle LoadLibrary(const wchar_t* path) override;
  platform::ProcAddress GetProcAddress(platform::ModuleHandle module, const char* name) override;
  bool FreeLibrary(platform::ModuleHandle module) override;
  // Records the command line and runs the behaviour set for the property sheet (the user's
  // doing while it shows), if any.
  void CallDevicePropertiesRunDll(platform::ProcAddress entry, const wchar_t* commandLine,
                                  int show) override;

  // What the user does while a device's property sheet shows (for example updating its driver,
  // which makes its driver key again).
  void SetPropertySheet(std::function<void(const std::wstring& commandLine)> behaviour);
  // The command lines of the property sheets shown, with the export each was called through.
  struct SheetCall {
    std::string exportName;
    std::wstring commandLine;
    int show = 0;
  };
  std::vector<SheetCall> PropertySheets() const;
  // Records the call and answers as the driver store is told to (ERROR_SUCCESS and no restart
  // until then).
  std::uint32_t CallDriverPackageUninstall(platform::ProcAddress entry, const wchar_t* infPath,
                                           std::uint32_t flags, bool* needReboot) override;
  struct PackageRemoval {
    std::uint32_t result = 0;
    bool needReboot = false;
  };
  void SetDriverPackageUninstall(PackageRemoval answer);
  struct PackageCall {
    std::string exportName;
    std::wstring infPath;
    std::uint32_t flags = 0;
  };
  std::vector<PackageCall> PackageUninstalls() const;

  // The device scan-settings library's objects: one is made for a device id it was told about
  // (none for any other), with the answers set for that id. Every call is recorded with its id.
  struct ScanSettingsDevice {
    bool makesObject = true;
    bool opens = true;
    bool lists = true;
    std::uint32_t shortcuts = 0;
  };
  void SetScanSettings(const std::wstring& deviceId, ScanSettingsDevice device);
  struct ScanSettingsCall {
    std::string operation;  // the export or the operation's name
    std::wstring deviceId;
  };
  std::vector<ScanSettingsCall> ScanSettingsCalls() const;
  // Objects made and not destroyed; sessions opened and not closed.
  int LiveScanSettings() const;
  int OpenScanSettingsSessions() const;
  platform::ScanSettings CallCreateScanSettings(platform::ProcAddress entry,
                                                const std::wstring& deviceId) override;
  void CallDestroyScanSettings(platform::ProcAddress entry, platform::ScanSettings object) override;
  bool ScanSettingsOpenSession(platform::ScanSettings object) override;
  void ScanSettingsCloseSession(platform::ScanSettings object) override;
  bool ScanSettingsShortcuts(platform::ScanSettings object, std::uint32_t* count) override;

  // Makes the file and declares its exports.
  void AddLibrary(const std::wstring& path, std::vector<std::string> exports);
  // The export an entry stands for ("" for none), and the full path of the library it is in.
  std::string ExportName(platform::ProcAddress entry) const;
  std::wstring ExportLibrary(platform::ProcAddress entry) const;
  // Every path loaded so far, as resolved, in order; the number of loads not yet freed.
  std::vector<std::wstring> LoadedPaths() const;
  int LoadedCount() const;

 private:
  struct Library {
    std::wstring path;
    std::vector<std::string> exports;
  };
  struct Loaded {
    std::wstring key;  // lower-case path
    int references = 0;
  };

  SimCalls& calls_;
  SimErrors& errors_;
  SimFileSystem& files_;
  SimProcess& process_;
  mutable std::mutex mutex_;
  std::map<std::wstring, Library> libraries_;  // by lower-case path
  std::map<platform::ModuleHandle, Loaded> loaded_;
  std::map<platform::ProcAddress, std::pair<std::wstring, std::string>> entries_;
  std::vector<std::wstring> loadedPaths_;
  std::function<void(const std::wstring&)> sheet_;
  std::vector<SheetCall> sheets_;
  PackageRemoval packageRemoval_;
  std::vector<PackageCall> packageCalls_;
  platform::ProcAddress nextEntry_ = 0x7100;
  struct ScanSettingsObject {
    std::wstring deviceId;
    bool open = false;
  };
  // A call through an entry that is not the export named, or on an object not made or already
  // destroyed, is recorded with "!" before its name.
  void RecordScanSettings(std::string operation, const std::wstring& deviceId);
  std::map<std::wstring, ScanSettingsDevice> scanSettingsDevices_;
  std::map<platform::ScanSettings, ScanSettingsObject> scanSettings_;
  std::vector<ScanSettingsCall> scanSettingsCalls_;
  platform::ScanSettings nextScanSettings_ = 0x5100;
};

// The hosts the network knows: names with their addresses, and which addresses answer an echo
// request. Every 127.x.y.z answers, as the loopback network does.
class SimHosts {
 public:
  SimHosts();  // knows "localhost"
  void AddHost(const std::string& name, const std::vector<platform::InAddr>& addresses);
  void SetAnswers(platform::InAddr address, bool answers);
  // Whether a reverse lookup (gethostbyaddr) finds the address; by default it does for every
  // address the network knows.
  void SetReverseEntry(platform::InAddr address, bool found);
  // The status of the replies from the address (IP_SUCCESS by default; a router answers
  // IP_DEST_HOST_UNREACHABLE, for example).
  void SetReplyStatus(platform::InAddr address, std::uint32_t status);
  std::uint32_t ReplyStatus(platform::InAddr address) const;
  // The addresses of a name (compared without case); empty when unknown.
  std::vector<platform::InAddr> Lookup(const std::string& name) const;
  bool Knows(platform::InAddr address) const;
  bool Answers(platform::InAddr address) const;

  // "10.0.0.5" as inet_addr reads it; kInaddrNone when it is not a dotted address.
  static platform::InAddr Parse(const std::string& dotted);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::vector<platform::InAddr>> names_;  // lower-case name
  std::map<platform::InAddr, bool> answers_;
  std::set<platform::InAddr> withoutReverse_;
  std::map<platform::InAddr, std::uint32_t> statuses_;
};

class SimSockets final : public platform::ISockets {
 public:
  SimSockets(SimCalls& calls, SimErrors& errors, SimHosts& hosts);
  int WSAStartup(std::uint16_t version, platform::WsaData* data) override;
  int WSACleanup() override;
  platform::InAddr inet_addr(const char* text) override;
  bool gethostbyname(const char* name, std::vector<platform::InAddr>* addresses) override;
  bool gethostbyaddr(platform::InAddr address, std::vector<platform::InAddr>* addresses) override;

  int StartedCount() const;  // WSAStartup calls not yet cleaned up

 private:
  // Lookups need Winsock started (WSANOTINITIALISED otherwise), as on Windows and Wine.
  bool Started();

  SimCalls& calls_;
  SimErrors& errors_;
  SimHosts& hosts_;
  mutable std::mutex mutex_;
  int started_ = 0;
};

// Echo requests: answered at once by an address that answers; one that does not costs the
// request's timeout on the simulated clock and fails with IP_REQ_TIMED_OUT. Entries must be the
// ICMP exports SimModules handed out.
class SimIcmp final : public platform::IIcmp {
 public:
  SimIcmp(SimCalls& calls, SimErrors& errors, SimClock& clock, SimModules& modules,
          SimHosts& hosts);
  platform::IcmpHandle IcmpCreateFile(platform::ProcAddress entry) override;
  std::uint32_t IcmpSendEcho(platform::ProcAddress entry, platform::IcmpHandle handle,
                             platform::InAddr address, std::uint16_t requestBytes,
                             const platform::IpOptions& options, std::uint32_t replyBytes,
                             std::uint32_t timeoutMs, platform::EchoReply* reply) override;
  bool IcmpCloseHandle(platform::ProcAddress entry, platform::IcmpHandle handle) override;

  // Echo requests sent, by destination; handles open.
  std::vector<platform::InAddr> Requests() const;
  std::size_t OpenHandleCount() const;

 private:
  bool EntryIs(platform::ProcAddress entry, const char* name) const;

  SimCalls& calls_;
  SimErrors& errors_;
  SimClock& clock_;
  SimModules& modules_;
  SimHosts& hosts_;
  mutable std::mutex mutex_;
  std::set<platform::IcmpHandle> handles_;
  std::vector<platform::InAddr> requests_;
};

}  // namespace kvd::sim
