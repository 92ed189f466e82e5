#pragma once

#include <cstdint>

#include "platform/api/Platform.h"

namespace kvd::platform::win32 {

// Each adapter forwards to the Win32 call its port method names, with the same arguments, result
// and last error; handles become plain numbers here and nowhere else. No Windows type appears in
// this header, so the wiring can hold the adapters without seeing <windows.h>.

class Win32Registry final : public IRegistry {
 public:
  LStatus OpenKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                    HKey* result) override;
  LStatus CreateKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired, HKey* result,
                      std::uint32_t* disposition) override;
  LStatus QueryValueEx(HKey key, const wchar_t* valueName, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* dataBytes) override;
  LStatus SetValueEx(HKey key, const wchar_t* valueName, std::uint32_t type,
                     const std::uint8_t* data, std::uint32_t dataBytes) override;
  LStatus DeleteValue(HKey key, const wchar_t* valueName) override;
  LStatus DeleteKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired) override;
  LStatus DeleteTree(HKey parent, const wchar_t* subKey) override;
  LStatus EnumKeyEx(HKey key, std::uint32_t index, wchar_t* name, std::uint32_t* nameChars,
                    FileTime* lastWriteTime) override;
  LStatus EnumValue(HKey key, std::uint32_t index, wchar_t* name,
                    std::uint32_t* nameChars) override;
  LStatus CloseKey(HKey key) override;
};

class Win32FileSystem final : public IFileSystem {
 public:
  bool GetFileAttributesEx(const wchar_t* path, FileAttributeData* out) override;
  bool SetFileAttributes(const wchar_t* path, std::uint32_t attributes) override;
  FileHandle CreateFile(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                        std::uint32_t creationDisposition,
                        std::uint32_t flagsAndAttributes) override;
  std::uint32_t SetFilePointer(FileHandle handle, std::int32_t distance,
                               std::uint32_t moveMethod) override;
  bool WriteFile(FileHandle handle, const void* data, std::uint32_t bytes,
                 std::uint32_t* written) override;
  bool ReadFile(FileHandle handle, void* data, std::uint32_t bytes, std::uint32_t* read) override;
  bool CloseHandle(FileHandle handle) override;
  bool DeleteFile(const wchar_t* path) override;
  bool CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) override;
  bool CreateDirectory(const wchar_t* path) override;
  std::uint32_t GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                std::uint32_t unique, wchar_t* tempFileName) override;
  std::uint32_t GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                std::uint32_t chars) override;
  std::uint32_t SearchPath(const wchar_t* path, const wchar_t* fileName, const wchar_t* extension,
                           std::uint32_t chars, wchar_t* buffer) override;
  HResult GetFolderPath(int csidl, wchar_t* path) override;
  FileHandle FindFirstFile(const wchar_t* pattern, FindData* out) override;
  bool FindNextFile(FileHandle find, FindData* out) override;
  bool FindClose(FileHandle find) override;
};

class Win32Environment final : public IEnvironment {
 public:
  std::uint32_t ExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination,
                                         std::uint32_t chars) override;
  bool SetEnvironmentVariable(const wchar_t* name, const wchar_t* value) override;
};

class Win32Process final : public IProcess {
 public:
  std::uint32_t GetModuleFileName(ModuleHandle module, wchar_t* buffer,
                                  std::uint32_t chars) override;
  bool GetModuleHandleEx(std::uint32_t flags, const void* address, ModuleHandle* result) override;
  const wchar_t* GetCommandLine() override;
  std::uint32_t GetCurrentProcessId() override;
  std::uint32_t GetCurrentThreadId() override;
  bool EnumProcessModules(ModuleHandle* modules, std::uint32_t bytes,
                          std::uint32_t* bytesNeeded) override;
  std::uint32_t GetFileVersionInfoSize(const wchar_t* path) override;
  bool GetFileVersionInfo(const wchar_t* path, std::uint32_t bytes, void* data) override;
  bool VerQueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                     std::uint32_t* length) override;
  SyncHandle CreateProcessSnapshot() override;
  bool Process32First(SyncHandle snapshot, ProcessEntry* entry) override;
  bool Process32Next(SyncHandle snapshot, ProcessEntry* entry) override;
  SyncHandle OpenProcess(std::uint32_t access, std::uint32_t processId) override;
  bool QueryFullProcessImageName(SyncHandle process, std::wstring* path) override;
  bool TerminateProcess(SyncHandle process, std::uint32_t exitCode) override;
  bool CloseProcessHandle(SyncHandle handle) override;
  void ExitProcess(std::uint32_t code) override;
};

class Win32Clock final : public IClock {
 public:
  std::uint32_t GetTickCount() override;
  bool QueryPerformanceCounter(std::int64_t* counter) override;
  bool QueryPerformanceFrequency(std::int64_t* frequency) override;
  bool GetLocalCalendarTime(CalendarTime* out) override;
  void Sleep(std::uint32_t milliseconds) override;
};

class Win32DebugOutput final : public IDebugOutput {
 public:
  void OutputDebugString(const wchar_t* text) override;
};

class Win32Errors final : public IErrors {
 public:
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::uint32_t FormatMessage(std::uint32_t code, std::uint32_t languageId, wchar_t* buffer,
                              std::uint32_t chars) override;
};

class Win32Sync final : public ISync {
 public:
  SyncHandle CreateMutex(bool initialOwner, const wchar_t* name) override;
  std::uint32_t WaitForSingleObject(SyncHandle handle, std::uint32_t milliseconds) override;
  std::uint32_t WaitForMultipleObjects(std::uint32_t count, const SyncHandle* handles, bool waitAll,
                                       std::uint32_t milliseconds) override;
  bool ReleaseMutex(SyncHandle handle) override;
  SyncHandle CreateEvent(bool manualReset, bool initialState, const wchar_t* name) override;
  SyncHandle OpenEvent(const wchar_t* name) override;
  bool SetEvent(SyncHandle handle) override;
  bool ResetEvent(SyncHandle handle) override;
  bool CloseHandle(SyncHandle handle) override;
};

class Win32Xml final : public IXmlFactory {
 public:
  HResult CreateDocument(std::unique_ptr<IXmlDocument>* document) override;
};

class Win32SystemInfo final : public ISystemInfo {
 public:
  std::uint16_t GetSystemDefaultLangID() override;
  bool GetVersionEx(OsVersionInfo* out) override;
  bool VerifyVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                            std::uint16_t servicePackMajor,
                            std::uint16_t servicePackMinor) override;
  bool IsWow64Process(bool* wow64) override;
  int GetSystemMetrics(int index) override;
};

class Win32Security final : public ISecurity {
 public:
  bool GetProcessTokenGroups(std::vector<TokenGroup>* groups) override;
  bool LookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring* name,
                        std::wstring* domain) override;
  bool OpenProcessToken(std::uint32_t access, SyncHandle* token) override;
  bool LookupPrivilegeValue(const wchar_t* name, std::uint64_t* luid) override;
  bool AdjustTokenPrivileges(SyncHandle token, std::uint64_t luid) override;
  bool InitiateSystemShutdownEx(const wchar_t* message, std::uint32_t timeoutSeconds,
                                bool forceAppsClosed, bool reboot, std::uint32_t reason) override;
};

class Win32Shell final : public IShell {
 public:
  bool CreateProcess(const wchar_t* applicationName, const wchar_t* commandLine,
                     ProcessInformation* out) override;
  int MessageBox(std::uintptr_t owner, const wchar_t* text, const wchar_t* caption,
                 std::uint32_t type) override;
  std::intptr_t ShellExecute(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                             const wchar_t* parameters, const wchar_t* directory,
                             int show) override;
  bool ShellExecuteEx(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                      const wchar_t* parameters, int show, SyncHandle* process) override;
  bool GetExitCodeProcess(SyncHandle process, std::uint32_t* code) override;
};

class Win32Installer final : public IInstaller {
 public:
  std::uint32_t MsiSetInternalUI(std::uint32_t level) override;
  std::uint32_t MsiEnumProducts(std::uint32_t index, wchar_t* productCode) override;
  std::uint32_t MsiGetProductInfo(const wchar_t* product, const wchar_t* property, wchar_t* buffer,
                                  std::uint32_t* chars) override;
  std::uint32_t MsiOpenProduct(const wchar_t* product, MsiHandle* handle) override;
  std::uint32_t MsiDoAction(MsiHandle handle, const wchar_t* action) override;
  std::uint32_t MsiGetProductProperty(MsiHandle handle, const wchar_t* property, wchar_t* buffer,
                                      std::uint32_t* chars) override;
  std::uint32_t MsiGetTargetPath(MsiHandle handle, const wchar_t* folder, wchar_t* buffer,
                                 std::uint32_t* chars) override;
  std::uint32_t MsiConfigureProduct(const wchar_t* product, int installLevel,
                                    int installState) override;
  std::uint32_t MsiCloseHandle(MsiHandle handle) override;
};

class Win32Network final : public INetwork {
 public:
  std::uint32_t GetAdaptersAddresses(std::uint32_t family, std::uint32_t flags,
                                     std::vector<AdapterAddress>* adapters,
                                     std::uint32_t* bytes) override;
  bool QueryPhysicalMedium(const std::wstring& adapterName, std::uint32_t* medium) override;
};

class Win32Messages final : public IWindowMessages {
 public:
  std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
  bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  bool SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) override;
  bool KillTimer(WindowHandle window, std::uintptr_t id) override;
};

class Win32IniFiles final : public IIniFiles {
 public:
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* defaultValue, wchar_t* buffer,
                                        std::uint32_t chars, const wchar_t* file) override;
  std::uint32_t GetPrivateProfileSection(const wchar_t* section, wchar_t* buffer,
                                         std::uint32_t chars, const wchar_t* file) override;
};

class Win32Devices final : public IDevices {
 public:
  DevInfoSet GetClassDevs(const Guid* classGuid, const wchar_t* enumerator,
                          std::uint32_t flags) override;
  bool EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* out) override;
  bool GetDeviceRegistryProperty(DevInfoSet set, const DevInfoData& element, std::uint32_t property,
                                 std::uint32_t* type, std::uint8_t* buffer, std::uint32_t bytes,
                                 std::uint32_t* required) override;
  bool GetDeviceInstanceId(DevInfoSet set, const DevInfoData& element, wchar_t* buffer,
                           std::uint32_t chars, std::uint32_t* required) override;
  bool GetDeviceInfoListDetail(DevInfoSet set, DevMachine* machine) override;
  bool ClassGuidsFromName(const wchar_t* className, Guid* guids, std::uint32_t size,
                          std::uint32_t* required) override;
  bool DestroyDeviceInfoList(DevInfoSet set) override;
  std::uint32_t GetDeviceId(DevInst devInst, wchar_t* buffer, std::uint32_t chars) override;
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem, DevInst devInst,
                                 DevMachine machine) override;
  bool SetPropertyChangeParams(DevInfoSet set, const DevInfoData& element,
                               std::uint32_t stateChange, std::uint32_t scope,
                               std::uint32_t hwProfile) override;
  bool CallClassInstaller(std::uint32_t installFunction, DevInfoSet set,
                          const DevInfoData& element) override;
  bool GetDeviceInstallFlags(DevInfoSet set, const DevInfoData& element,
                             std::uint32_t* flags) override;
  std::uint32_t LocateRootDevNode(DevInst* devInst) override;
  std::uint32_t ReenumerateDevNode(DevInst devInst, std::uint32_t flags) override;
};

class Win32Services final : public IServices {
 public:
  ScHandle OpenSCManager(const wchar_t* database, std::uint32_t access) override;
  ScHandle OpenService(ScHandle manager, const wchar_t* name, std::uint32_t access) override;
  bool QueryServiceConfig(ScHandle service, std::uint32_t bytes, ServiceConfig* out,
                          std::uint32_t* needed) override;
  bool ChangeServiceStartType(ScHandle service, std::uint32_t serviceType,
                              std::uint32_t startType) override;
  bool QueryServiceStatus(ScHandle service, std::uint32_t* currentState) override;
  bool StartService(ScHandle service) override;
  bool CloseServiceHandle(ScHandle handle) override;
};

class Win32Wia final : public IWia {
 public:
  HResult CoInitialize() override;
  void CoUninitialize() override;
  HResult CreateDevMgr(WiaObject* manager) override;
  HResult CreateDevice(WiaObject manager, const wchar_t* deviceId, WiaObject* root) override;
  HResult SelectDeviceDlg(WiaObject manager, WindowHandle parent, std::int32_t deviceType,
                          std::int32_t flags, WiaObject* root) override;
  HResult EnumChildItems(WiaObject item, WiaObject* enumerator) override;
  HResult GetCount(WiaObject enumerator, std::uint32_t* count) override;
  HResult Next(WiaObject enumerator, WiaObject* item, std::uint32_t* fetched) override;
  HResult DeviceDlg(WiaObject item, WindowHandle parent, std::int32_t flags, std::int32_t intent,
                    std::vector<WiaObject>* items) override;
  HResult QueryPropertyStorage(WiaObject item, WiaObject* storage) override;
  HResult ReadProperties(WiaObject storage, const std::uint32_t* ids, std::uint32_t count,
                         WiaPropertyValue* values) override;
  HResult WriteTransferFormat(WiaObject storage, const Guid& format, std::int32_t tymed) override;
  HResult QueryDataTransfer(WiaObject item, WiaObject* transfer) override;
  WiaObject NewFileMedium() override;
  HResult GetData(WiaObject transfer, WiaObject medium, IWiaTransferCallback& callback) override;
  void FreeMedium(WiaObject medium, bool releaseContents) override;
  void Release(WiaObject object) override;
};

class Win32Crocan final : public ICrocan {
 public:
  HResult CoInitialize() override;
  void CoUninitialize() override;
  HResult ClassIdFromString(const wchar_t* text, Guid* classId) override;
  HResult CreateScannerManager(CrocanObject* manager) override;
  HResult GetScannerByFriendlyName2(CrocanObject manager, const wchar_t* friendlyName,
                                    std::uint8_t* description) override;
  HResult CreateScanner(const Guid& classId, CrocanObject* scanner) override;
  HResult QueryExtension(CrocanObject scanner, CrocanObject* extension) override;
  HResult QueryFeeder(CrocanObject scanner, CrocanObject* feeder) override;
  HResult OpenScannerSession(CrocanObject scanner, const wchar_t* name, std::uint16_t value,
                             std::uint32_t* session, std::uint32_t* status) override;
  HResult Call(CrocanObject object, crocan::SessionCall call, std::uint32_t session,
               std::uint32_t* status) override;
  HResult LockScanner(CrocanObject scanner, std::uint32_t session, std::uint32_t flags,
                      std::uint32_t timeoutMs, std::uint32_t* status) override;
  HResult GetLampStatus(CrocanObject scanner, std::uint32_t session, std::uint8_t* lampOn,
                        std::uint32_t* status) override;
  HResult GetScannerCapabilities(CrocanObject scanner, std::uint32_t session,
                                 std::uint8_t* capabilities, std::uint32_t* status) override;
  HResult GetBufferInfo(CrocanObject scanner, std::uint32_t session, const std::uint8_t* parameters,
                        std::uint8_t* bufferInfo, std::uint32_t* status) override;
  HResult SetScannerParameters(CrocanObject scanner, std::uint32_t session,
                               const std::uint8_t* parameters, std::uint32_t* status) override;
  HResult SetGammaTable(CrocanObject scanner, std::uint32_t session, std::uint32_t tableBytes,
                        const std::uint8_t* red, const std::uint8_t* green,
                        const std::uint8_t* blue, std::uint32_t* status) override;
  HResult ReadScan(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                   std::uint32_t count, std::uint32_t* status) override;
  HResult ReadScanData(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                       std::uint32_t count, std::uint32_t* read, std::uint32_t* status) override;
  HResult ExtensionCall(CrocanObject extension, std::uint32_t session, std::uint32_t value,
                        std::uint32_t* status) override;
  HResult GetADFScannerCapabilities(CrocanObject feeder, std::uint32_t session,
                                    std::uint8_t* capabilities, std::uint32_t* status) override;
  HResult ADFIsReady(CrocanObject feeder, std::uint32_t session, std::uint8_t* ready,
                     std::uint32_t* status) override;
  void Release(CrocanObject object) override;
};

class Win32ComObjects final : public IComObjects {
 public:
  HResult CoInitialize() override;
  void CoUninitialize() override;
  HResult CreateInstance(const Guid& classId, std::uint32_t context, const Guid& interfaceId,
                         ComObject* object) override;
  HResult QueryInterface(ComObject object, const Guid& interfaceId, ComObject* other) override;
  void Release(ComObject object) override;
  HResult CallForObject(ComObject object, unsigned slot, ComObject* out) override;
  HResult CallForNumber(ComObject object, unsigned slot, std::int32_t* out) override;
  HResult CallForItem(ComObject object, unsigned slot, std::int32_t index, ComObject* out) override;
  HResult CallForText(ComObject object, unsigned slot, std::wstring* out) override;
};

class Win32Twain final : public ITwain {
 public:
  TwainLibrary LoadLibrary(const wchar_t* path, bool* hasEntry) override;
  void FreeLibrary(TwainLibrary library) override;
  std::uint16_t Parent(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                       WindowHandle parent) override;
  std::uint16_t Identity(TwainLibrary library, TwIdentity& app, std::uint16_t msg,
                         TwIdentity& source) override;
  std::uint16_t UserInterface(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                              std::uint16_t msg, bool showUi, bool modalUi,
                              WindowHandle parent) override;
  std::uint16_t ProcessEvent(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                             const ThreadMessage& message, std::uint16_t* twMessage) override;
  std::uint16_t Status(TwainLibrary library, TwIdentity& app, TwIdentity* source,
                       std::uint16_t* conditionCode) override;
  std::uint16_t ImageInfo(TwainLibrary library, TwIdentity& app, TwIdentity& source) override;
  std::uint16_t NativeTransfer(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                               TwainImage* image) override;
  std::uint16_t PendingTransfers(TwainLibrary library, TwIdentity& app, TwIdentity& source,
                                 std::uint16_t msg, std::uint16_t* count) override;
  void FreeImage(TwainImage image) override;
  std::wstring AnsiToWide(const std::string& text) override;
  WindowHandle CreateParentWindow() override;
  void DestroyWindow(WindowHandle window) override;
  void SetWindowZOrder(WindowHandle window, bool bottom) override;
  MessageWait GetMessage(ThreadMessage* message, std::uint32_t timeoutMs) override;
  void DispatchMessage(const ThreadMessage& message) override;
};

class Win32Modules final : public IModules {
 public:
  std::uint32_t GetSystemDirectory(wchar_t* buffer, std::uint32_t chars) override;
  std::uint32_t GetWindowsDirectory(wchar_t* buffer, std::uint32_t chars) override;
  ModuleHandle LoadLibrary(const wchar_t* path) override;
  ProcAddress GetProcAddress(ModuleHandle module, const char* name) override;
  bool FreeLibrary(ModuleHandle module) override;
  void CallDevicePropertiesRunDll(ProcAddress entry, const wchar_t* commandLine, int show) override;
  std::uint32_t CallDriverPackageUninstall(ProcAddress entry, const wchar_t* infPath,
                                           std::uint32_t flags, bool* needReboot) override;
  ScanSettings CallCreateScanSettings(ProcAddress entry, const std::wstring& deviceId) override;
  void CallDestroyScanSettings(ProcAddress entry, ScanSettings object) override;
  bool ScanSettingsOpenSession(ScanSettings object) override;
  void ScanSettingsCloseSession(ScanSettings object) override;
  bool ScanSettingsShortcuts(ScanSettings object, std::uint32_t* count) override;
};

class Win32Sockets final : public ISockets {
 public:
  int WSAStartup(std::uint16_t version, WsaData* data) override;
  int WSACleanup() override;
  InAddr inet_addr(const char* text) override;
  bool gethostbyname(const char* name, std::vector<InAddr>* addresses) override;
  bool gethostbyaddr(InAddr address, std::vector<InAddr>* addresses) override;
};

class Win32Icmp final : public IIcmp {
 public:
  IcmpHandle IcmpCreateFile(ProcAddress entry) override;
  std::uint32_t IcmpSendEcho(ProcAddress entry, IcmpHandle handle, InAddr address,
                             std::uint16_t requestBytes, const IpOptions& options,
                             std::uint32_t replyBytes, std::uint32_t timeoutMs,
                             EchoReply* reply) override;
  bool IcmpCloseHandle(ProcAddress entry, IcmpHandle handle) override;
};

class Win32Gdi final : public IGdi {
 public:
  int EnumFontFamiliesEx(const wchar_t* faceName, std::uint8_t charSet) override;
  FontHandle CreateFont(const FontSpec& spec) override;
  bool DeleteObject(FontHandle font) override;
};

// The real machine: one adapter per port. The adapters hold no state, so any number of these may
// exist; Ports() refers into this object and lives as long as it does.
class Win32Platform {
 public:
  Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform& Ports() { return ports_; }

 private:
  Win32Registry registry_;
  Win32FileSystem files_;
  Win32Environment environment_;
  Win32Process process_;
  Win32Clock clock_;
  Win32DebugOutput debug_;
  Win32Errors errors_;
  Win32Sync sync_;
  Win32Xml xml_;
  Win32SystemInfo system_;
  Win32Security security_;
  Win32Shell shell_;
  Win32Installer installer_;
  Win32Network network_;
  Win32Messages messages_;
  Win32IniFiles ini_;
  Win32Devices devices_;
  Win32Modules modules_;
  Win32Sockets sockets_;
  Win32Icmp icmp_;
  Win32Gdi gdi_;
  Win32Services services_;
  Win32Wia wia_;
  Win32Crocan crocan_;
  Win32Twain twain_;
  Win32ComObjects com_;
  Platform ports_;
};

}  // namespace kvd::platform::win32
