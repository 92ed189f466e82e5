// The registry consistency check: what the imaging suite (Brevane) keeps about the device is in
// place. The suite's profile write path (repaired silently), the driver's model and settings
// values, the identifier that links the driver to the suite's registration of the device, and
// the imaging class index in that registration. For an Ostrel device only the driver's
// scan-folder setting. A wrong class index is rewritten; everything else is the driver refresh's.
#pragma once

#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "issues/DriverRepair.h"
#include "platform/api/Platform.h"

class CKVDRegistryMismatchIssue : public CKVDIssue {
 public:
  // What the check needs from the running program: whether the Windows scan or the TWAIN check
  // passed in this run (a problem is then a warning), and the driver refresh.
  struct Services {
    std::function<bool()> scanPassed;
    DriverRepair driver;
  };

  // The outcomes Diagnose answers besides a pass (107).
  static constexpr int kDeviceDataWrong = 109;  // repaired by the driver refresh
  static constexpr int kClassIndexWrong = 110;  // repaired by rewriting the index
  static constexpr int kNoIdentifier = 119;     // the identifier cannot be rebuilt
  // What Fix answers besides 100 (repaired).
  static constexpr int kRefreshFailed = 2000;
  static constexpr int kRewriteFailed = 103;

  static constexpr const wchar_t* kProfileWritePath = L"%APPDATA%\\QV\\Brevane\\Data\\Destination";

  explicit CKVDRegistryMismatchIssue(kvd::platform::Platform& platform, Services services = {});

  int Diagnose(const _DeviceDetails& device) override;
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  // 107 when the suite's profile write path is the expected one (its profile file made
  // writable on the way), else 0.
  int DiagnoseProfileWritePath();
  bool FixProfileWritePath();
  // 107, 109, 110 or 119, with the error code of a failure.
  int CheckRegistry(const _DeviceDetails& device);
  // The identifier rebuilt from the suite's registration of the device's model, and written to
  // the driver's DeviceData key.
  bool SetKLEDeviceID(const _DeviceDetails& device, std::wstring& identifier);
  // The one sub-key of `keyPath`; false when it has none or several.
  bool GetDeviceInstanceName(const std::wstring& keyPath, std::wstring& name);
  int CheckRegistryForOstrelDevice(const _DeviceDetails& device);
  // Writes m_strImagingClassIndex to m_strScanFunctionKey.
  bool FixRegistryMismatch();
  int SetUI(int code);
  int SetFixUI(int code);

  // "<suite>\<model>\DeviceInstances\<instance>\Functions\Scan" of an identifier
  // "#Quvari#<model>#<instance>"; empty when it names no model or no instance.
  static std::wstring ScanFunctionKeyOf(const std::wstring& identifier);
  // The instance number that ends a driver key ("{...}\0003" gives "0003"); empty for a key of
  // five characters or fewer.
  static std::wstring ExpectedClassIndex(const std::wstring& driverKey);

  std::wstring m_strImagingClassIndex;
  std::wstring m_strScanFunctionKey;

 private:
  void Pass();
  bool ScanPassed() const { return m_services.scanPassed && m_services.scanPassed(); }
  // Where the index of `device` belongs and what it should be, from the identifier its driver
  // records now: the repair writes what belongs to the device it is given.
  void LocateClassIndex(const _DeviceDetails& device);

  kvd::platform::Platform& m_platform;
  Services m_services;
};
