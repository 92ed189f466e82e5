#include "repair/L2Uninstall.h"

#include <cstdint>
#include <cwctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

namespace {
constexpr std::uint32_t kUiNoneSourceResOnly = msi::UiLevelNone | msi::UiLevelSourceResOnly;
constexpr std::uint32_t kUiFull = 5;  // INSTALLUILEVEL_FULL
constexpr int kDefaultInstallLevel = 0;
constexpr int kStateAbsent = 2;  // INSTALLSTATE_ABSENT
constexpr std::uint32_t kUserCancelled = 1602;
constexpr std::intptr_t kShellStarted = 32;  // ShellExecuteW answers more than this on success
constexpr std::uint32_t kProfileChars = 260;

constexpr const wchar_t* kInstalledProductsKey = L"SOFTWARE\\Quvari\\Installed Products";
constexpr const wchar_t* kInstallerConfigNode =
    L"/InstallerConfigXML/cfgProductInfo/Models/Model/UsbID";

// folder + "\\" + name.
std::wstring Child(std::wstring folder, std::wstring_view name) {
  folder += L'\\';
  folder += name;
  return folder;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

// A whole section as its "key=value" entries each ending in a NUL. A section cut short is
// asked for again with more room: a device listed late in a long section must still be found.
std::wstring ProfileSection(IIniFiles& ini, const wchar_t* section, const std::wstring& file) {
  std::vector<wchar_t> buffer(kProfileChars);
  for (int round = 0; round < 12; ++round) {
    const auto chars = static_cast<std::uint32_t>(buffer.size());
    const std::uint32_t got =
        ini.GetPrivateProfileSection(section, buffer.data(), chars, file.c_str());
    if (got + 2 < chars || chars >= (1u << 20)) {
      return std::wstring(buffer.data(), got < chars ? got : chars - 1);
    }
    buffer.assign(static_cast<std::size_t>(chars) * 2, L'\0');
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scrubber

bool CL2Uninstall::Uinstall(const DeviceDetails& device) {
  KVD_SCOPE(L"CL2Uninstall::Uinstall");
  KVD_LOG(kind::Debug, L"Uninstalls the selected device.");
  m_bTarvel = device.bTarvel;
  if (!GetInstallDirPath()) {
    KVD_LOG(kind::Info, L"Failed to get the installed directory path");
    return false;
  }
  if (!EnumerateInstalledQVDeviceCDGUID()) {
    KVD_LOG(kind::Info, L"Failed to enumerate installed devices from registry.");
    return false;
  }
  std::wstring productFolder;
  std::wstring dataFileName;
  if (!FindScrubberData(device.strDeviceDesc, device.strModel, productFolder, dataFileName)) {
    KVD_LOG(kind::Info, L"Failed to get the scrubber name amd path for uninstalling the device.");
    return false;
  }
  const bool onWow64 = CUtil(m_platform).IsWow64();
  const std::wstring scrubber =
      productFolder + L"\\setup\\" + (onWow64 ? L"qvclean40.exe" : L"qvclean01.exe");
  // A name with a blank would reach the scrubber as two arguments; quoted only then, so that
  // every other name reaches it exactly as before.
  const std::wstring dataArgument = dataFileName.find_first_of(L" \t") != std::wstring::npos
                                        ? L"\"" + dataFileName + L"\""
                                        : dataFileName;
  const std::wstring parameters =
      L"-datfile " + dataArgument + L" -showdisconnect -nocopytotemp -forcereboot";
  return Start(scrubber, parameters.c_str());
}

bool CL2Uninstall::GetInstallDirPath() {
  KVD_SCOPE(L"CL2Uninstall::GetInstallDirPath");
  const kvd::reg::RegText folder = CDeviceRegistry(m_platform.registry).SuiteText(L"InstallFolder");
  if (!folder.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get the InstallFolder value.Path : %s",
            CDeviceRegistry::kSuiteKey);
    return false;
  }
  std::wstring path = WithoutTrailingBackslashes(folder.text);
  while (!path.empty() && path.front() == L'\\') path.erase(path.begin());
  m_strInstallDir = Trim(path + L"\\Brevane\\");
  return true;
}

bool CL2Uninstall::EnumerateInstalledQVDeviceCDGUID() {
  KVD_SCOPE(L"CL2Uninstall::EnumerateInstalledQVDeviceCDGUID");
  m_arrProductGuids.clear();
  IRegistry& registry = m_platform.registry;
  UniqueHkey key = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kInstalledProductsKey,
                         sam::AllAccess | sam::Wow64_64Key, key.put()) != err::Success) {
    KVD_LOG(kind::Debug, L"Failed to open registry for L2 Uninstall. Path : %s",
            kInstalledProductsKey);
    return false;
  }
  for (std::uint32_t index = 0;; ++index) {
    wchar_t name[261] = {};
    std::uint32_t chars = 261;
    const LStatus status = registry.EnumValue(key.get(), index, name, &chars);
    // A name too long for a folder of the suite is passed over; the walk goes on after it.
    if (status == static_cast<LStatus>(err::MoreData)) continue;
    if (status != err::Success) break;
    m_arrProductGuids.emplace_back(name, chars);
  }
  return true;
}

bool CL2Uninstall::FindScrubberData(const std::wstring& deviceDesc, const std::wstring& model,
                                    std::wstring& productFolder, std::wstring& dataFileName) {
  KVD_SCOPE(L"CL2Uninstall::FindScrubberData");
  for (const std::wstring& name : m_arrProductGuids) {
    const std::wstring product = Trim(name);
    const std::wstring folder = m_strInstallDir + product;
    const std::wstring autorun = folder + L"\\autorun.inf";
    if (!kvd::platform::PathFileExists(m_platform.files, autorun)) continue;
    const std::wstring division = ProfileString(m_platform.ini, L"Version", L"DIVISION", autorun);
    std::wstring release =
        ProfileString(m_platform.ini, L"Version", L"COEXIST_RELEASE_NUM", autorun);
    if (release.empty()) release = ProfileString(m_platform.ini, L"Version", L"ICE_REV", autorun);
    std::wstring dataFile = division;
    dataFile += L"scr";
    dataFile += release;
    dataFile += L".dat";
    const std::wstring dataPath = Child(Child(folder, L"setup"), dataFile);
    if (!kvd::platform::PathFileExists(m_platform.files, dataPath)) continue;
    const std::wstring models = ProfileSection(m_platform.ini, L"Models", dataPath);
    if (IsModelListed(models, dataPath, deviceDesc, model)) {
      productFolder = folder;
      dataFileName = dataFile;
      return true;
    }
  }
  return false;
}

bool CL2Uninstall::IsModelListed(const std::wstring& models, const std::wstring& dataPath,
                                 const std::wstring& deviceDesc, const std::wstring& model) {
  KVD_SCOPE(L"CL2Uninstall::IsModelListed");
  // An empty name is in every text: it would pick the first product's scrubber, which removes
  // software and restarts the computer, for a device nobody identified.
  const std::wstring wanted = ToLowerOrdinal(Trim(m_bTarvel ? model : deviceDesc));
  if (wanted.empty()) return false;
  std::size_t at = 0;
  while (at < models.size()) {
    std::size_t end = models.find(L'\0', at);
    if (end == std::wstring::npos) end = models.size();
    const std::wstring entry = models.substr(at, end - at);
    at = end + 1;
    if (entry.empty()) break;
    const std::size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring section = Trim(entry.substr(equals + 1));
    for (wchar_t& c : section) c = static_cast<wchar_t>(std::towupper(c));
    const std::wstring listed = ToLowerOrdinal(
        Trim(ProfileString(m_platform.ini, section.c_str(), L"devicemodel", dataPath)));
    if (Contains(listed, wanted)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Windows Installer

bool CL2Uninstall::UnInstallMsi(const std::wstring& deviceText) {
  KVD_SCOPE(L"CL2Uninstall::UnInstallMsi");
  IInstaller& installer = m_platform.installer;
  installer.MsiSetInternalUI(kUiNoneSourceResOnly);
  const std::wstring device = ToLowerOrdinal(Trim(deviceText));
  for (std::uint32_t index = 0;; ++index) {
    wchar_t code[39] = {};
    // Any answer but a product ends the walk: an error repeated for every index would
    // otherwise never let it end.
    if (installer.MsiEnumProducts(index, code) != err::Success) break;
    MsiHandle product = 0;
    if (installer.MsiOpenProduct(code, &product) != err::Success) continue;
    std::wstring modelName;
    const std::uint32_t read = InstallerText(modelName, [&](wchar_t* buffer, std::uint32_t* chars) {
      return installer.MsiGetProductProperty(product, L"ModelName", buffer, chars);
    });
    installer.MsiCloseHandle(product);
    modelName = ToLowerOrdinal(Trim(modelName));
    if (read != err::Success || modelName.empty()) continue;
    if (device.find(modelName) == std::wstring::npos) continue;

    KVD_LOG(kind::Info, L"Found the device for MSI uninstallation ");
    installer.MsiSetInternalUI(kUiFull);
    const std::uint32_t result =
        installer.MsiConfigureProduct(code, kDefaultInstallLevel, kStateAbsent);
    if (result == err::Success) {
      KVD_LOG(kind::Info, L"Uninstalled the device MSI");
      return true;
    }
    if (result == kUserCancelled) {
      KVD_LOG(kind::Info, L"Uninstallation aborted by user");
      return false;
    }
    KVD_LOG(kind::Error, L"Uninstallation of device MSI failed = %d", static_cast<int>(result));
    installer.MsiSetInternalUI(kUiNoneSourceResOnly);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Lumeq

CL2Uninstall::LumeqModelFolder CL2Uninstall::FindLumeqModelFolder(const DeviceDetails& device) {
  using End = LumeqModelFolder::End;
  LumeqModelFolder found;
  const kvd::reg::RegText matching = kvd::reg::MachineText(
      m_platform.registry, CDeviceRegistry::ClassKey(device.strDriverKey), L"MatchingDeviceId");
  if (!matching.IsRead()) {
    found.end = End::NoMatchingDeviceId;
    return found;
  }
  // usb\vid_2f8d&pid_1234&rev_0100 names the model as vid_2f8d&pid_1234.
  std::wstring identifier = matching.text;
  const std::size_t lastAmp = identifier.rfind(L'&');
  if (lastAmp != std::wstring::npos) {
    identifier.erase(lastAmp);
    const std::size_t slash = identifier.rfind(L'\\');
    if (slash != std::wstring::npos) identifier.erase(0, slash + 1);
  }
  const kvd::reg::RegText installFolder =
      CDeviceRegistry(m_platform.registry).SuiteText(L"InstallFolder");
  if (!installFolder.IsRead()) {
    found.end = End::NoInstallFolder;
    return found;
  }
  found.installFolder = WithoutTrailingBackslashes(installFolder.text);
  const std::wstring& base = found.installFolder;
  const wchar_t* key = device.bNetwork ? L"NETWORK_WIA_HWID" : L"PRODUCT_VIDPID";
  std::vector<std::wstring> candidates;
  for (const std::wstring& name : Folders(base + L"\\*.*")) {
    if (!Contains(ToLowerOrdinal(Trim(name)), L"lumeq")) continue;
    const std::wstring path = WithoutTrailingBackslashes(Child(base, name));
    candidates.push_back(path);
    const std::wstring properties = path + L"\\properties.ini";
    if (kvd::platform::PathFileExists(m_platform.files, properties) &&
        IsVidPidListed(identifier, properties, key)) {
      found.name = name;
      found.end = End::Found;
      return found;
    }
  }
  // The driver's catalog file marks the model folder it was installed from.
  const kvd::reg::RegText infPath = kvd::reg::MachineText(
      m_platform.registry, CDeviceRegistry::ClassKey(device.strDriverKey), L"InfPath");
  if (!infPath.IsRead()) {
    found.end = End::NoInfPath;
    return found;
  }
  std::wstring windows;
  const bool expanded =
      kvd::platform::ExpandEnvironment(m_platform.environment, L"%windir%", windows);
  if (!expanded || windows.find(L'%') != std::wstring::npos) {
    found.end = End::NoWindowsFolder;
    return found;
  }
  const std::wstring catalog = Trim(ProfileString(m_platform.ini, L"Version", L"CatalogFile.NTx86",
                                                  windows + L"\\inf\\" + infPath.text));
  if (!catalog.empty()) {
    for (const std::wstring& path : candidates) {
      if (kvd::platform::PathFileExists(m_platform.files, Child(path, catalog))) {
        found.name = std::wstring(PathFindFileName(path));
        found.end = End::Found;
        return found;
      }
    }
  }
  found.end = End::NotFound;
  return found;
}

bool CL2Uninstall::UnInstallLumeqDevice(const DeviceDetails& device) {
  KVD_SCOPE(L"CL2Uninstall::UnInstallLumeqDevice");
  using End = LumeqModelFolder::End;
  const std::wstring classKey = CDeviceRegistry::ClassKey(device.strDriverKey);
  const LumeqModelFolder found = FindLumeqModelFolder(device);
  switch (found.end) {
    case End::Found:
      return Start(found.installFolder + L"\\" + found.name + L"\\Uninstall.exe", nullptr);
    case End::NoMatchingDeviceId:
      KVD_LOG(kind::Debug, L"Failed to get the MatchingDEviceID from registry.Path: %s ",
              classKey.c_str());
      break;
    case End::NoInstallFolder:
      KVD_LOG(kind::Debug, L"Failed to get the InstallFolder from registry . Path: %s",
              CDeviceRegistry::kSuiteKey);
      break;
    case End::NoInfPath:
      KVD_LOG(kind::Debug,
              L"Failed to get the InfPath from registry for diagnosing QVScanTo issue. Path: %s",
              classKey.c_str());
      break;
    case End::NoWindowsFolder:
      KVD_LOG(kind::Info, L"Failed to expand %%windir%%.");
      break;
    case End::NotFound:
      KVD_LOG(kind::Info, L"Failed to get the Insatallation folder Path.");
      break;
  }
  return false;
}

bool CL2Uninstall::IsVidPidListed(const std::wstring& identifier, const std::wstring& path,
                                  const std::wstring& key) {
  KVD_SCOPE(L"CL2Uninstall::IsVidPidListed");
  const std::wstring wanted = ToLowerOrdinal(Trim(identifier));
  if (wanted.empty()) return false;
  const auto bytes = ReadWholeFile(m_platform.files, path);
  if (!bytes) return false;
  const std::wstring text = DecodeTextFile(*bytes);
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(at, end - at);
    at = end + 1;
    if (!Contains(line, key)) continue;
    if (Contains(ToLowerOrdinal(Trim(line)), wanted)) return true;
  }
  return false;
}

bool CL2Uninstall::UnInstallLumeqDevice(const std::wstring& deviceId) {
  KVD_SCOPE(L"CL2Uninstall::UnInstallLumeqDevice");
  wchar_t programFiles[260] = {};
  const HResult folder = m_platform.files.GetFolderPath(csidl::ProgramFiles, programFiles);
  if (!hr::Succeeded(folder)) {
    KVD_LOG_FAILED_CALL(L"SHGetSpecialFolderPathW", folder, L"CSIDL_PROGRAM_FILES");
    return false;
  }
  const std::wstring base = WithoutTrailingBackslashes(programFiles) + L"\\QV";
  const std::wstring installers = base + L"\\durEzavarizi\\";
  std::wstring last;
  bool matched = false;
  for (const std::wstring& name : Folders(installers + L"*.*")) {
    last = name;
    const std::wstring config = installers + name + L"\\Installer\\InstallerConfig.xml";
    if (IsDeviceMatching(config, deviceId)) {
      KVD_LOG(kind::Debug, L"Device found. Path: %s", config.c_str());
      matched = true;
      break;
    }
  }
  const std::wstring setup = installers + last + L"\\Setup.exe";
  if (!matched) {
    KVD_LOG(kind::Info, L"Could not locate the unistallation executable. Path: %s", setup.c_str());
    return false;
  }
  return Start(setup, L"/Uninstall");
}

bool CL2Uninstall::IsDeviceMatching(const std::wstring& configPath, const std::wstring& deviceId) {
  KVD_SCOPE(L"CL2Uninstall::IsDeviceMatching");
  std::unique_ptr<IXmlDocument> document;
  if (!hr::Succeeded(m_platform.xml.CreateDocument(&document)) || !document) {
    KVD_LOG(kind::Error, L"CreateInstance failed for XML DOM");
    return false;
  }
  bool loaded = false;
  document->Load(configPath.c_str(), &loaded);
  if (!loaded) {
    KVD_LOG(kind::Error, L"Failed to load XML DOM");
    return false;
  }
  std::wstring node;
  if (document->SelectSingleNodeText(kInstallerConfigNode, &node) != hr::Ok) {
    KVD_LOG(kind::Debug, L"Failed to get node from XPath.");
    return false;
  }
  node = ToLowerOrdinal(Trim(node));
  const std::wstring device = ToLowerOrdinal(Trim(deviceId));
  // An empty text is in every text: it would start the first installer's removal for any
  // device.
  if (!node.empty() && !device.empty() && (Contains(device, node) || Contains(node, device))) {
    KVD_LOG(kind::Info, L"Device matches.");
    return true;
  }
  KVD_LOG(kind::Info, L"Device does not matches.");
  return false;
}

// ---------------------------------------------------------------------------------------------
// Shared

std::vector<std::wstring> CL2Uninstall::Folders(const std::wstring& pattern) {
  std::vector<std::wstring> folders;
  FindData entry;
  UniqueFind find =
      MakeUniqueFind(m_platform.files, m_platform.files.FindFirstFile(pattern.c_str(), &entry));
  if (!find.valid()) return folders;
  do {
    if ((entry.attributes & file::AttributeDirectory) == 0) continue;
    if (entry.fileName == L"." || entry.fileName == L"..") continue;
    folders.push_back(entry.fileName);
  } while (m_platform.files.FindNextFile(find.get(), &entry));
  return folders;
}

bool CL2Uninstall::Start(const std::wstring& file, const wchar_t* parameters) {
  KVD_SCOPE(L"CL2Uninstall::Start");
  const std::intptr_t result =
      m_platform.shell.ShellExecute(0, nullptr, file.c_str(), parameters, nullptr, sw::ShowNormal);
  // Only a started uninstaller is a success: the user is told when it could not be started.
  if (result > kShellStarted) return true;
  KVD_LOG(kind::Info, L"Failed to launch the uninstaller. Path: %s , Parameters: %s", file.c_str(),
          parameters != nullptr ? parameters : L"");
  return false;
}

namespace kvd::repair {

bool ReadMatchingDeviceId(platform::IRegistry& registry, const DeviceDetails& device,
                          std::wstring& id) {
  KVD_SCOPE(L"kvd::repair::ReadMatchingDeviceId");
  const std::wstring classKey = CDeviceRegistry::ClassKey(device.strDriverKey);
  const kvd::reg::RegText read = kvd::reg::MachineText(registry, classKey, L"MatchingDeviceId");
  if (!read.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get the MatchingDEviceID from registry.Path: %s ",
            classKey.c_str());
    return false;
  }
  id = read.text;
  return true;
}

bool UninstallDeviceSoftware(platform::Platform& platform, const DeviceDetails& device) {
  KVD_SCOPE(L"kvd::repair::UninstallDeviceSoftware");
  CL2Uninstall uninstall(platform);
  if (device.bLumeq) {
    if (uninstall.UnInstallLumeqDevice(device)) return true;
    std::wstring id;
    return ReadMatchingDeviceId(platform.registry, device, id) &&
           uninstall.UnInstallLumeqDevice(id);
  }
  if (device.bOstrel) return uninstall.UnInstallMsi(device.strDeviceDesc);
  return uninstall.Uinstall(device);
}

}  // namespace kvd::repair
