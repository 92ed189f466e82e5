#pragma once

#include <cstdint>

#include "platform/api/IDevices.h"
#include "platform/api/Types.h"

namespace kvd::platform {

// A COM reference to one of the maker's scanner components (the scanner manager, a scanner
// object, its extension or document-feeder interface) as a plain number; 0 is none. Each one
// handed out is given back with Release.
using CrocanObject = std::uintptr_t;

namespace crocan {
// The largest records the components fill, and the feeder capability record the program
// provides (its fields are not read).
inline constexpr std::uint32_t kDescriptionBytes = 1088;
inline constexpr std::uint32_t kCapabilityBytes = 124;
inline constexpr std::uint32_t kBufferInfoBytes = 0x0C;
inline constexpr std::uint32_t kFeederCapabilityBytes = 512;

// The methods whose only arguments are the session and the status: the interface they belong
// to and their virtual slot.
enum class SessionCall : std::uint8_t {
  CloseScannerSession,  // IScanner 4
  UnlockScanner,        // IScanner 6
  LampOn,               // IScanner 8
  InitializeScanner,    // IScanner 12
  ResetScanner,         // IScanner 13
  StartScan,            // IScanner 16
  StopScan,             // IScanner 17
  ADFPaperFeed,         // IScannerADF 4
};

constexpr const char* NameOf(SessionCall call) {
  switch (call) {
    case SessionCall::CloseScannerSession:
      return "CloseScannerSession";
    case SessionCall::UnlockScanner:
      return "UnlockScanner";
    case SessionCall::LampOn:
      return "LampOn";
    case SessionCall::InitializeScanner:
      return "InitializeScanner";
    case SessionCall::ResetScanner:
      return "ResetScanner";
    case SessionCall::StartScan:
      return "StartScan";
    case SessionCall::StopScan:
      return "StopScan";
    case SessionCall::ADFPaperFeed:
      return "ADFPaperFeed";
  }
  return "";
}

constexpr unsigned SlotOf(SessionCall call) {
  switch (call) {
    case SessionCall::CloseScannerSession:
      return 4;
    case SessionCall::UnlockScanner:
      return 6;
    case SessionCall::LampOn:
      return 8;
    case SessionCall::InitializeScanner:
      return 12;
    case SessionCall::ResetScanner:
      return 13;
    case SessionCall::StartScan:
      return 16;
    case SessionCall::StopScan:
      return 17;
    case SessionCall::ADFPaperFeed:
      return 4;
  }
  return 0;
}

// The components' identities.
inline constexpr Guid ClsidScannerManager = {
    0xD045BA43, 0x121E, 0x4163, {0x99, 0x0D, 0x53, 0xA7, 0xD9, 0x14, 0x6C, 0x24}};
inline constexpr Guid IidScannerManager = {
    0x83C5E5F9, 0xE489, 0x4ECE, {0xB5, 0x19, 0x9E, 0x90, 0x03, 0x84, 0xE0, 0x2A}};
inline constexpr Guid IidScanner = {
    0x73CC19F1, 0x482D, 0x4757, {0xB6, 0xDF, 0x45, 0xAE, 0x3D, 0x9E, 0x21, 0x67}};
inline constexpr Guid IidScannerExt = {
    0x38D7606D, 0x8018, 0x4126, {0xB1, 0x51, 0x16, 0xCC, 0xD1, 0xE7, 0xEA, 0x7A}};
inline constexpr Guid IidScannerAdf = {
    0x6774CE0C, 0xB6FD, 0x493C, {0x88, 0xDA, 0xDF, 0x2F, 0x54, 0xE8, 0x03, 0xBB}};
}  // namespace crocan

// The maker's scanner components (codename Crocan) through their COM interfaces, called by
// virtual slot: IQVScnMgr, IScanner, IScannerExt and IScannerADF. Each method answers the
// component's HRESULT; the methods of the scanner interfaces also give the component's status
// value, which means something only when the call failed. Buffers are the caller's, of the
// sizes named.
class ICrocan {
 public:
  virtual ~ICrocan() = default;
  // CoInitialize(nullptr) / CoUninitialize on the calling thread.
  virtual HResult CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  // CLSIDFromString.
  virtual HResult ClassIdFromString(const wchar_t* text, Guid* classId) = 0;
  // CoCreateInstance(CLSID_QVScnMgr, nullptr, CLSCTX_ALL, IID_IQVScnMgr).
  virtual HResult CreateScannerManager(CrocanObject* manager) = 0;
  // IQVScnMgr slot 10: the scanner description (kDescriptionBytes) of a friendly name, passed
  // as a BSTR.
  virtual HResult GetScannerByFriendlyName2(CrocanObject manager, const wchar_t* friendlyName,
                                            std::uint8_t* description) = 0;
  // CoCreateInstance(classId, nullptr, CLSCTX_ALL, IID_IScanner).
  virtual HResult CreateScanner(const Guid& classId, CrocanObject* scanner) = 0;
  // QueryInterface of a scanner object for IScannerExt / IScannerADF.
  virtual HResult QueryExtension(CrocanObject scanner, CrocanObject* extension) = 0;
  virtual HResult QueryFeeder(CrocanObject scanner, CrocanObject* feeder) = 0;

  // IScanner slot 3: the text and the 16-bit value of the description.
  virtual HResult OpenScannerSession(CrocanObject scanner, const wchar_t* name, std::uint16_t value,
                                     std::uint32_t* session, std::uint32_t* status) = 0;
  // The session-and-status methods (the feeder's on the IScannerADF reference).
  virtual HResult Call(CrocanObject object, crocan::SessionCall call, std::uint32_t session,
                       std::uint32_t* status) = 0;
  // IScanner slot 5.
  virtual HResult LockScanner(CrocanObject scanner, std::uint32_t session, std::uint32_t flags,
                              std::uint32_t timeoutMs, std::uint32_t* status) = 0;
  // IScanner slot 7: one byte, non-zero when the lamp is on.
  virtual HResult GetLampStatus(CrocanObject scanner, std::uint32_t session, std::uint8_t* lampOn,
                                std::uint32_t* status) = 0;
  // IScanner slot 10: the capability record (kCapabilityBytes).
  virtual HResult GetScannerCapabilities(CrocanObject scanner, std::uint32_t session,
                                         std::uint8_t* capabilities, std::uint32_t* status) = 0;
  // IScanner slot 11: the buffer info (kBufferInfoBytes) of a scan-parameter record.
  virtual HResult GetBufferInfo(CrocanObject scanner, std::uint32_t session,
                                const std::uint8_t* parameters, std::uint8_t* bufferInfo,
                                std::uint32_t* status) = 0;
  // IScanner slot 14.
  virtual HResult SetScannerParameters(CrocanObject scanner, std::uint32_t session,
                                       const std::uint8_t* parameters, std::uint32_t* status) = 0;
  // IScanner slot 15: three tables of `tableBytes` each.
  virtual HResult SetGammaTable(CrocanObject scanner, std::uint32_t session,
                                std::uint32_t tableBytes, const std::uint8_t* red,
                                const std::uint8_t* green, const std::uint8_t* blue,
                                std::uint32_t* status) = 0;
  // IScanner slot 18: `count` bytes into `buffer`.
  virtual HResult ReadScan(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                           std::uint32_t count, std::uint32_t* status) = 0;
  // IScanner slot 19: up to `count` bytes into `buffer`, how many in `read`.
  virtual HResult ReadScanData(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                               std::uint32_t count, std::uint32_t* read, std::uint32_t* status) = 0;
  // IScannerExt slot 3.
  virtual HResult ExtensionCall(CrocanObject extension, std::uint32_t session, std::uint32_t value,
                                std::uint32_t* status) = 0;
  // IScannerADF slot 3: the feeder capability record (kFeederCapabilityBytes).
  virtual HResult GetADFScannerCapabilities(CrocanObject feeder, std::uint32_t session,
                                            std::uint8_t* capabilities, std::uint32_t* status) = 0;
  // IScannerADF slot 5: one byte, 1 when a page waits, 0 while the feeder is not ready.
  virtual HResult ADFIsReady(CrocanObject feeder, std::uint32_t session, std::uint8_t* ready,
                             std::uint32_t* status) = 0;
  // IUnknown::Release.
  virtual void Release(CrocanObject object) = 0;
};

}  // namespace kvd::platform
