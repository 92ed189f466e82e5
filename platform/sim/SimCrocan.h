#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/ICrocan.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// The maker's scanner components as the driver check meets them: a scanner manager that knows
// scanners by friendly name, scanner objects by class ID, their sessions, lock, lamp, records
// and scans, with steps that fail with a status a test names. Every call is recorded in a line
// of its own; references, sessions and the lock are tracked, so a test sees what was left open.
class SimCrocan final : public platform::ICrocan {
 public:
  struct Scanner {
    std::wstring friendlyName;
    platform::Guid classId;
    // What the description carries for OpenScannerSession.
    std::wstring sessionName = L"QVSCAN0";
    std::uint16_t sessionValue = 1;
    // The capability record's fields.
    std::uint16_t warmUpSeconds = 0;
    std::uint16_t resolution = 300;
    std::uint32_t value1C = 0x11;
    std::uint32_t value24 = 0x22;
    std::uint32_t gammaEntries = 256;
    std::uint32_t gammaMax = 255;
    std::uint16_t gammaBytes = 1;
    // The buffer info of every scan.
    std::uint32_t lines = 100;
    std::uint32_t bytesPerLine = 2550;
    bool lampOn = true;
    bool hasExtension = true;
    bool hasFeeder = false;
    // ADFIsReady's answers in turn (1 a page waits, 0 not ready, 2 empty); the last repeats.
    std::vector<std::uint8_t> ready = {2};
  };

  explicit SimCrocan(SimCalls& calls) : calls_(calls) {}

  platform::HResult CoInitialize() override;
  void CoUninitialize() override;
  platform::HResult ClassIdFromString(const wchar_t* text, platform::Guid* classId) override;
  platform::HResult CreateScannerManager(platform::CrocanObject* manager) override;
  platform::HResult GetScannerByFriendlyName2(platform::CrocanObject manager,
                                              const wchar_t* friendlyName,
                                              std::uint8_t* description) override;
  platform::HResult CreateScanner(const platform::Guid& classId,
                                  platform::CrocanObject* scanner) override;
  platform::HResult QueryExtension(platform::CrocanObject scanner,
                                   platform::CrocanObject* extension) override;
  platform::HResult QueryFeeder(platform::CrocanObject scanner,
                                platform::CrocanObject* feeder) override;
  platform::HResult OpenScannerSession(platform::CrocanObject scanner, const wchar_t* name,
                                       std::uint16_t value, std::uint32_t* session,
                                       std::uint32_t* status) override;
  platform::HResult Call(platform::CrocanObject object, platform::crocan::SessionCall call,
                         std::uint32_t session, std::uint32_t* status) override;
  platform::HResult LockScanner(platform::CrocanObject scanner, std::uint32_t session,
                                std::uint32_t flags, std::uint32_t timeoutMs,
                                std::uint32_t* status) override;
  platform::HResult GetLampStatus(platform::CrocanObject scanner, std::uint32_t session,
                                  std::uint8_t* lampOn, std::uint32_t* status) override;
  platform::HResult GetScannerCapabilities(platform::CrocanObject scanner, std::uint32_t session,
                                           std::uint8_t* capabilities,
                                           std::uint32_t* status) override;
  platform::HResult GetBufferInfo(platform::CrocanObject scanner, std::uint32_t session,
                                  const std::uint8_t* parameters, std::uint8_t* bufferInfo,
                                  std::uint32_t* status) override;
  platform::HResult SetScannerParameters(platform::CrocanObject scanner, std::uint32_t session,
                                         const std::uint8_t* parameters,
                                         std::uint32_t* status) override;
  platform::HResult SetGammaTable(platform::CrocanObject scanner, std::uint32_t session,
                                  std::uint32_t tableBytes, const std::uint8_t* red,
                                  const std::uint8_t* green, const std::uint8_t* blue,
                                  std::uint32_t* status) override;
  platform::HResult ReadScan(platform::CrocanObject scanner, std::uint32_t session,
                             std::uint8_t* buffer, std::uint32_t count,
                             std::uint32_t* status) override;
  platform::HResult ReadScanData(platform::CrocanObject scanner, std::uint32_t session,
                                 std::uint8_t* buffer, std::uint32_t count, std::uint32_t* read,
                                 std::uint32_t* status) override;
  platform::HResult ExtensionCall(platform::CrocanObject extension, std::uint32_t session,
                                  std::uint32_t value, std::uint32_t* status) override;
  platform::HResult GetADFScannerCapabilities(platform::CrocanObject feeder, std::uint32_t session,
                                              std::uint8_t* capabilities,
                                              std::uint32_t* status) override;
  platform::HResult ADFIsReady(platform::CrocanObject feeder, std::uint32_t session,
                               std::uint8_t* ready, std::uint32_t* status) override;
  void Release(platform::CrocanObject object) override;

  // Set-up and inspection.
  // Without a manager its creation fails as for a class that is not registered.
  void SetManagerRegistered(bool registered);
  void AddScanner(Scanner scanner);
  // The next `times` calls of `method` (a name of the interfaces, as the call lines give it;
  // 0: every call from now on) fail with E_FAIL and `status`.
  void Fail(std::string_view method, std::uint32_t status, int times = 0);
  // Every call of `method` throws std::runtime_error (a fault inside the program's own code
  // around the call, which the check must survive).
  void ThrowOn(std::string_view method);
  // One line a call: "GetScannerByFriendlyName2 <name>", "CreateScanner <class id>",
  // "OpenScannerSession <name> <value>", "LockScanner <flags> <time-out>",
  // "SetGammaTable <bytes>", "SetScannerParameters <x dpi> <y dpi>", "ReadScan <bytes>",
  // "ReadScanData <bytes>", "ExtensionCall <value>", and the plain method name for the others.
  std::vector<std::wstring> Calls() const;
  // The red table of the last SetGammaTable (the three are compared: they must be equal).
  std::vector<std::uint8_t> LastGammaTable() const;
  bool GammaTablesEqual() const;
  std::size_t LiveObjects() const;
  std::size_t OpenSessions() const;
  bool Locked() const;
  int ComDepth() const;

 private:
  enum class Kind { Manager, Scanner, Extension, Feeder };
  struct Object {
    Kind kind = Kind::Manager;
    std::size_t scanner = 0;
  };
  struct Failure {
    std::uint32_t status = 0;
    int left = 0;  // 0: every call
  };
  // The fault or hang of the machine's call table, then a failure of this component.
  platform::HResult Enter(std::string_view method, std::uint32_t* status);
  platform::CrocanObject NewLocked(Object object);
  const Object* FindLocked(platform::CrocanObject handle, Kind kind) const;
  // The scanner of an object of a scanner interface whose session is open; null otherwise.
  const Scanner* SessionScannerLocked(platform::CrocanObject object, std::uint32_t session) const;
  void RecordLocked(std::wstring line);

  SimCalls& calls_;
  mutable std::mutex mutex_;
  bool managerRegistered_ = true;
  std::vector<Scanner> scanners_;
  std::map<platform::CrocanObject, Object> objects_;
  std::map<std::uint32_t, std::size_t> sessions_;  // open sessions by handle: their scanner
  std::map<std::size_t, std::size_t> readyCalls_;  // ADFIsReady calls by scanner
  std::map<std::string, Failure, std::less<>> failures_;
  std::vector<std::string> throws_;
  std::vector<std::wstring> calls_log_;
  std::vector<std::uint8_t> gamma_[3];
  std::uint64_t scanBytesLeft_ = 0;
  bool scanning_ = false;
  bool locked_ = false;
  platform::CrocanObject next_ = 0x6100;
  std::uint32_t nextSession_ = 0x51;
  int comDepth_ = 0;
};

}  // namespace kvd::sim
