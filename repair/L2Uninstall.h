// repair/: the repairs that act on the machine (device software uninstall, restart, driver
// refresh), through the ports.
#pragma once

#include <string>

#include "platform/api/Platform.h"

// Finds and starts the uninstaller of a device's software, one strategy per kind of
// installation. Every failure is logged and answered false; the caller tells the user.
class CL2Uninstall {
 public:
  explicit CL2Uninstall(kvd::platform::Platform& platform) : m_platform(platform) {}
  virtual ~CL2Uninstall() = default;
  CL2Uninstall(const CL2Uninstall&) = delete;
  CL2Uninstall& operator=(const CL2Uninstall&) = delete;

  // The Windows Installer product whose "ModelName" the device text contains, removed with the
  // installer's full user interface: true once one was removed.
  bool UnInstallMsi(const std::wstring& deviceText);

 private:
  kvd::platform::Platform& m_platform;
};
