// repair/: the repairs that act on the machine (device software uninstall, restart, driver
// refresh), through the ports.
#pragma once

#include <string>
#include <vector>

#include "discovery/DeviceDetails.h"
#include "platform/api/Platform.h"

// Finds and starts the uninstaller of a device's software, one strategy per kind of
// installation. Every failure is logged and answered false; the caller tells the user. The
// strategies only start the uninstaller (the Windows Installer one runs the removal) and do not
// wait for it: restarting and testing again are the user's.
class CL2Uninstall {
 public:
  explicit CL2Uninstall(kvd::platform::Platform& platform) : m_platform(platform) {}
  virtual ~CL2Uninstall() = default;
  CL2Uninstall(const CL2Uninstall&) = delete;
  CL2Uninstall& operator=(const CL2Uninstall&) = delete;

  // The suite's device scrubber of the product whose data file lists the device's model (all-in-one
  // and Tarvel devices): true once the scrubber was started.
  bool Uinstall(const DeviceDetails& device);

  // The Windows Installer product whose "ModelName" the device text contains, removed with the
  // installer's full user interface: true once one was removed.
  bool UnInstallMsi(const std::wstring& deviceText);

  // The Lumeq model folder whose properties.ini lists the device (or that holds the driver's
  // catalog file): true once its Uninstall.exe was started.
  bool UnInstallLumeqDevice(const DeviceDetails& device);

  // The search for that folder, which the ScanTo check makes too; it writes no record of its
  // own, so that each caller logs what it failed on in its own words.
  struct LumeqModelFolder {
    enum class End {
      Found,
      NoMatchingDeviceId,
      NoInstallFolder,
      NoInfPath,
      NoWindowsFolder,
      NotFound
    };
    End end = End::NotFound;
    std::wstring installFolder;  // the suite's InstallFolder without its trailing backslashes
    std::wstring name;           // the model folder's name in it
  };
  LumeqModelFolder FindLumeqModelFolder(const DeviceDetails& device);

  // The Lumeq installer whose InstallerConfig.xml names the device id: true once its Setup.exe
  // was started with "/Uninstall".
  bool UnInstallLumeqDevice(const std::wstring& deviceId);

 private:
  bool GetInstallDirPath();
  bool EnumerateInstalledQVDeviceCDGUID();
  bool FindScrubberData(const std::wstring& deviceDesc, const std::wstring& model,
                        std::wstring& productFolder, std::wstring& dataFileName);
  // models: the "Models" section as key=value entries, each ending in a NUL.
  bool IsModelListed(const std::wstring& models, const std::wstring& dataPath,
                     const std::wstring& deviceDesc, const std::wstring& model);
  bool IsVidPidListed(const std::wstring& identifier, const std::wstring& path,
                      const std::wstring& key);
  bool IsDeviceMatching(const std::wstring& configPath, const std::wstring& deviceId);
  // The directories (not "." and "..") listed for a pattern, in the file system's order.
  std::vector<std::wstring> Folders(const std::wstring& pattern);
  bool Start(const std::wstring& file, const wchar_t* parameters);

  kvd::platform::Platform& m_platform;
  std::wstring m_strInstallDir;
  std::vector<std::wstring> m_arrProductGuids;
  bool m_bTarvel = false;
};

namespace kvd::repair {

// The device's "MatchingDeviceId" from its class key; false (with a debug record naming the
// key) when it cannot be read.
bool ReadMatchingDeviceId(platform::IRegistry& registry, const DeviceDetails& device,
                          std::wstring& id);

// The uninstall the pages offer, by the device's family: for Lumeq the per-model uninstaller,
// then the installer found by the device's MatchingDeviceId; for Ostrel the Windows Installer
// product named by the description; for every other device the scrubber. Asks nothing: the
// caller has the user's consent and tells the user when this answers false.
bool UninstallDeviceSoftware(platform::Platform& platform, const DeviceDetails& device);

}  // namespace kvd::repair
