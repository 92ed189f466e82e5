#include "app/CheckTable.h"

#include "issues/KVDBVMIssue.h"
#include "issues/KVDConnectionIssue.h"
#include "issues/KVDDashraIssue.h"
#include "issues/KVDDeviceManagerIssue.h"
#include "issues/KVDDriverIssue.h"
#include "issues/KVDFrontPanelIssue.h"
#include "issues/KVDLumeqServiceIssue.h"
#include "issues/KVDQVScanIssue.h"
#include "issues/KVDRegistryMismatchIssue.h"
#include "issues/KVDTWAINDetectionIssue.h"
#include "issues/KVDTabborIssue.h"
#include "issues/KVDWindowsScanIssue.h"

namespace {

template <class Check>
std::unique_ptr<CKVDIssue> Make(kvd::platform::Platform& platform) {
  return std::make_unique<Check>(platform);
}

using namespace shows;
constexpr unsigned kEvery = AllInOne | Tarvel | Ostrel | Lumeq;

// The Windows scan check with the WIA test scan of the program.
CheckFactory WindowsScanCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    auto scan = [&platform, services](const DeviceDetails& device,
                                      kvd::platform::WindowHandle owner) {
      const WiaWrap::ScanHost host{platform, services.deviceCount ? services.deviceCount() : 1,
                                   services.scanProgress};
      return WiaWrap::WiaGetImage(host, device, owner);
    };
    return std::make_unique<CKVDWindowsScanIssue>(platform, scan);
  };
}

// The driver check with the manager's driver refresh.
CheckFactory DriverCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDDriverIssue>(
        platform, CKVDDriverIssue::Repair{services.refreshDrivers, services.runAgain});
  };
}

// The registry check with the scan checks' results and the driver refresh.
CheckFactory RegistryCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDRegistryMismatchIssue>(
        platform,
        CKVDRegistryMismatchIssue::Services{
            [services] { return issue::AnyPassed(services.wiaPassed, services.twainPassed); },
            DriverRepair{services.refreshDrivers, services.runAgain}});
  };
}

// The scan-flow check with the scan checks' results.
CheckFactory TabborCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDTabborIssue>(
        platform, CKVDTabborIssue::Services{services.wiaPassed, services.twainPassed});
  };
}

// The front-panel check with the run's results and the manager's hold on completion.
CheckFactory FrontPanelCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDFrontPanelIssue>(
        platform, CKVDFrontPanelIssue::Services{services.wiaPassed, services.twainPassed,
                                                services.dashraPresent, services.simulatingTarvel,
                                                services.holdCompletion});
  };
}

// The Lumeq service check with the scan checks' results.
CheckFactory LumeqServiceCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDLumeqServiceIssue>(
        platform, CKVDLumeqServiceIssue::Services{services.wiaPassed, services.twainPassed});
  };
}

// The scanning-application checks with the scan checks' results and the program's record of
// the applications.
template <class Check>
CheckFactory ScanApplicationCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<Check>(
        platform, CKVDQVScanIssue::Services{services.wiaPassed, services.twainPassed,
                                            services.qvScanPath, services.scanToPath});
  };
}

// The Dashra check, telling the program whether the hub is there and which patch it needs.
CheckFactory DashraCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDDashraIssue>(
        platform, CKVDDashraIssue::Services{services.setDashraPresent, services.destPatchNeeded});
  };
}

// The monitor check with the manager's hold on completion.
CheckFactory MonitorCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDBVMIssue>(platform,
                                          CKVDBVMIssue::Services{services.holdCompletion});
  };
}

// The TWAIN check with what it asks of the program.
CheckFactory TwainCheck(const CheckServices& services) {
  return [services](kvd::platform::Platform& platform) -> std::unique_ptr<CKVDIssue> {
    return std::make_unique<CKVDTWAINDetectionIssue>(platform, services.twain);
  };
}

}  // namespace

CheckTable ProgramCheckTable(const CheckServices& services) {
  // Columns of the page rows: all-in-one, Tarvel, Ostrel, Lumeq.
  return {{
      {1, L"CONNECTIVITY", false, kEvery, {0, 0, 0, 0}, Make<CKVDConnectionIssue>},
      {2, L"DEVICEMANAGER", false, kEvery, {1, 1, 1, 1}, Make<CKVDDeviceManagerIssue>},
      {3, L"DRIVER", true, AllInOne | Tarvel, {2, 2, -1, -1}, DriverCheck(services)},
      {4, L"WIA", true, kEvery, {3, 3, 2, 2}, WindowsScanCheck(services)},
      {5, L"DASHRA", false, AllInOne, {4, -1, -1, -1}, DashraCheck(services)},
      {6, L"TWAIN", true, kEvery, {5, 4, 3, 3}, TwainCheck(services)},
      {7, L"REGISTRY", false, AllInOne | Tarvel | Ostrel, {6, 5, 4, -1}, RegistryCheck(services)},
      {8, L"QVSCANFLOW", false, AllInOne | Tarvel, {7, 6, -1, -1}, TabborCheck(services)},
      {9, L"BVM", false, AllInOne, {8, -1, -1, -1}, MonitorCheck(services)},
      {10,
       L"QVSCAN",
       false,
       Ostrel,
       {-1, -1, 5, -1},
       ScanApplicationCheck<CKVDQVScanIssue>(services)},
      // ScanTo shares the QV Scan check's name.
      {11,
       L"QVSCAN",
       false,
       Lumeq,
       {-1, -1, -1, 4},
       ScanApplicationCheck<CKVDScanToIssue>(services)},
      {12, L"LUMEQ_SERVICE", false, Lumeq, {-1, -1, -1, 5}, LumeqServiceCheck(services)},
      {13,
       L"FRONT_PANEL",
       false,
       AllInOneWithScanButton | Tarvel,
       {9, 7, -1, -1},
       FrontPanelCheck(services)},
  }};
}
