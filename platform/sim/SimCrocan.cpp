#include "platform/sim/SimCrocan.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace hr = platform::hr;
namespace crocan = platform::crocan;
using platform::CrocanObject;
using platform::HResult;

namespace {

constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);  // REGDB_E_CLASSNOTREG
constexpr HResult kBadClassString = static_cast<HResult>(0x800401F3);      // CO_E_CLASSSTRING
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);         // E_NOINTERFACE
// The status of a call on a session that is not open, or of the wrong scanner.
constexpr std::uint32_t kNoSession = 3;

template <class Value>
void Put(std::uint8_t* record, std::size_t at, Value value) {
  std::memcpy(record + at, &value, sizeof value);  // little-endian, as on Windows
}

template <class Value>
Value Get(const std::uint8_t* record, std::size_t at) {
  Value value{};
  std::memcpy(&value, record + at, sizeof value);
  return value;
}

}  // namespace

void SimCrocan::RecordLocked(std::wstring line) { calls_log_.push_back(std::move(line)); }

HResult SimCrocan::Enter(std::string_view method, std::uint32_t* status) {
  if (status != nullptr) *status = 0;
  if (auto fault = calls_.Enter(method)) return hr::FromWin32(*fault);
  std::lock_guard lock(mutex_);
  if (std::find(throws_.begin(), throws_.end(), method) != throws_.end()) {
    throw std::runtime_error("SimCrocan: " + std::string(method) + " throws");
  }
  auto it = failures_.find(method);
  if (it == failures_.end()) return hr::Ok;
  if (status != nullptr) *status = it->second.status;
  if (it->second.left > 0 && --it->second.left == 0) failures_.erase(it);
  return hr::Fail;
}

CrocanObject SimCrocan::NewLocked(Object object) {
  const CrocanObject handle = next_++;
  objects_[handle] = object;
  return handle;
}

const SimCrocan::Object* SimCrocan::FindLocked(CrocanObject handle, Kind kind) const {
  auto it = objects_.find(handle);
  return it != objects_.end() && it->second.kind == kind ? &it->second : nullptr;
}

const SimCrocan::Scanner* SimCrocan::SessionScannerLocked(CrocanObject object,
                                                          std::uint32_t session) const {
  auto it = objects_.find(object);
  if (it == objects_.end() || it->second.kind == Kind::Manager) return nullptr;
  auto open = sessions_.find(session);
  if (open == sessions_.end() || open->second != it->second.scanner) return nullptr;
  return &scanners_[open->second];
}

HResult SimCrocan::CoInitialize() {
  if (auto fault = calls_.Enter("CoInitialize")) return hr::FromWin32(*fault);
  std::lock_guard lock(mutex_);
  ++comDepth_;
  return hr::Ok;
}

void SimCrocan::CoUninitialize() {
  std::lock_guard lock(mutex_);
  --comDepth_;
}

HResult SimCrocan::ClassIdFromString(const wchar_t* text, platform::Guid* classId) {
  *classId = platform::Guid{};
  const std::wstring_view value = text != nullptr ? text : L"";
  // CLSIDFromString wants the braces.
  if (value.size() != 38 || value.front() != L'{' || value.back() != L'}') return kBadClassString;
  auto guid = platform::GuidFromText(value);
  if (!guid) return kBadClassString;
  *classId = *guid;
  return hr::Ok;
}

HResult SimCrocan::CreateScannerManager(CrocanObject* manager) {
  *manager = 0;
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"CreateScannerManager");
  }
  if (const HResult result = Enter("CreateScannerManager", nullptr); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  if (!managerRegistered_) return kClassNotRegistered;
  *manager = NewLocked({Kind::Manager, 0});
  return hr::Ok;
}

HResult SimCrocan::GetScannerByFriendlyName2(CrocanObject manager, const wchar_t* friendlyName,
                                             std::uint8_t* description) {
  const std::wstring name = friendlyName != nullptr ? friendlyName : L"";
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"GetScannerByFriendlyName2 " + name);
  }
  if (const HResult result = Enter("GetScannerByFriendlyName2", nullptr); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  if (FindLocked(manager, Kind::Manager) == nullptr) return hr::Pointer;
  for (const Scanner& scanner : scanners_) {
    if (!platform::EqualsNoCase(scanner.friendlyName, name)) continue;
    std::memset(description, 0, crocan::kDescriptionBytes);
    const std::size_t chars = std::min<std::size_t>(scanner.sessionName.size(), 255);
    for (std::size_t i = 0; i < chars; ++i) {
      Put<std::uint16_t>(description, 0x200 + 2 * i,
                         static_cast<std::uint16_t>(scanner.sessionName[i]));
    }
    Put<std::uint16_t>(description, 0x400, scanner.sessionValue);
    return hr::Ok;
  }
  return hr::Fail;
}

HResult SimCrocan::CreateScanner(const platform::Guid& classId, CrocanObject* scanner) {
  *scanner = 0;
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"CreateScanner " + platform::GuidToText(classId));
  }
  if (const HResult result = Enter("CreateScanner", nullptr); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < scanners_.size(); ++i) {
    if (scanners_[i].classId == classId) {
      *scanner = NewLocked({Kind::Scanner, i});
      return hr::Ok;
    }
  }
  return kClassNotRegistered;
}

HResult SimCrocan::QueryExtension(CrocanObject scanner, CrocanObject* extension) {
  *extension = 0;
  std::lock_guard lock(mutex_);
  const Object* object = FindLocked(scanner, Kind::Scanner);
  if (object == nullptr) return hr::Pointer;
  if (!scanners_[object->scanner].hasExtension) return kNoInterface;
  *extension = NewLocked({Kind::Extension, object->scanner});
  return hr::Ok;
}

HResult SimCrocan::QueryFeeder(CrocanObject scanner, CrocanObject* feeder) {
  *feeder = 0;
  std::lock_guard lock(mutex_);
  const Object* object = FindLocked(scanner, Kind::Scanner);
  if (object == nullptr) return hr::Pointer;
  if (!scanners_[object->scanner].hasFeeder) return kNoInterface;
  *feeder = NewLocked({Kind::Feeder, object->scanner});
  return hr::Ok;
}

HResult SimCrocan::OpenScannerSession(CrocanObject scanner, const wchar_t* name,
                                      std::uint16_t value, std::uint32_t* session,
                                      std::uint32_t* status) {
  *session = 0;
  const std::wstring text = name != nullptr ? name : L"";
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"OpenScannerSession " + text + L" " + std::to_wstring(value));
  }
  if (const HResult result = Enter("OpenScannerSession", status); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  const Object* object = FindLocked(scanner, Kind::Scanner);
  if (object == nullptr) return hr::Pointer;
  const Scanner& device = scanners_[object->scanner];
  // The description of another scanner opens nothing on this one.
  if (device.sessionName != text || device.sessionValue != value) {
    *status = kNoSession;
    return hr::Fail;
  }
  *session = nextSession_++;
  sessions_[*session] = object->scanner;
  return hr::Ok;
}

HResult SimCrocan::Call(CrocanObject object, crocan::SessionCall call, std::uint32_t session,
                        std::uint32_t* status) {
  const char* name = crocan::NameOf(call);
  {
    std::lock_guard lock(mutex_);
    RecordLocked(platform::WidenUtf8(name));
  }
  if (const HResult result = Enter(name, status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  const Kind kind = call == crocan::SessionCall::ADFPaperFeed ? Kind::Feeder : Kind::Scanner;
  if (FindLocked(object, kind) == nullptr) return hr::Pointer;
  if (SessionScannerLocked(object, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  auto& scanner = scanners_[sessions_[session]];
  switch (call) {
    case crocan::SessionCall::CloseScannerSession:
      sessions_.erase(session);
      break;
    case crocan::SessionCall::UnlockScanner:
      locked_ = false;
      break;
    case crocan::SessionCall::LampOn:
      scanner.lampOn = true;
      break;
    case crocan::SessionCall::StartScan:
      scanning_ = true;
      scanBytesLeft_ = static_cast<std::uint64_t>(scanner.lines) * scanner.bytesPerLine;
      break;
    case crocan::SessionCall::StopScan:
      scanning_ = false;
      break;
    case crocan::SessionCall::InitializeScanner:
    case crocan::SessionCall::ResetScanner:
    case crocan::SessionCall::ADFPaperFeed:
      break;
  }
  return hr::Ok;
}

HResult SimCrocan::LockScanner(CrocanObject scanner, std::uint32_t session, std::uint32_t flags,
                               std::uint32_t timeoutMs, std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"LockScanner " + std::to_wstring(flags) + L" " + std::to_wstring(timeoutMs));
  }
  if (const HResult result = Enter("LockScanner", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  if (SessionScannerLocked(scanner, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  locked_ = true;
  return hr::Ok;
}

HResult SimCrocan::GetLampStatus(CrocanObject scanner, std::uint32_t session, std::uint8_t* lampOn,
                                 std::uint32_t* status) {
  *lampOn = 0;
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"GetLampStatus");
  }
  if (const HResult result = Enter("GetLampStatus", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  const Scanner* device = SessionScannerLocked(scanner, session);
  if (device == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  *lampOn = device->lampOn ? 1 : 0;
  return hr::Ok;
}

HResult SimCrocan::GetScannerCapabilities(CrocanObject scanner, std::uint32_t session,
                                          std::uint8_t* capabilities, std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"GetScannerCapabilities");
  }
  if (const HResult result = Enter("GetScannerCapabilities", status); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  const Scanner* device = SessionScannerLocked(scanner, session);
  if (device == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  std::memset(capabilities, 0, crocan::kCapabilityBytes);
  Put<std::uint16_t>(capabilities, 0x10, device->warmUpSeconds);
  Put<std::uint16_t>(capabilities, 0x18, device->resolution);
  Put<std::uint32_t>(capabilities, 0x1C, device->value1C);
  Put<std::uint32_t>(capabilities, 0x24, device->value24);
  Put<std::uint32_t>(capabilities, 0x50, device->gammaEntries);
  Put<std::uint32_t>(capabilities, 0x54, device->gammaMax);
  Put<std::uint16_t>(capabilities, 0x58, device->gammaBytes);
  return hr::Ok;
}

HResult SimCrocan::GetBufferInfo(CrocanObject scanner, std::uint32_t session,
                                 const std::uint8_t* parameters, std::uint8_t* bufferInfo,
                                 std::uint32_t* status) {
  static_cast<void>(parameters);
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"GetBufferInfo");
  }
  if (const HResult result = Enter("GetBufferInfo", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  const Scanner* device = SessionScannerLocked(scanner, session);
  if (device == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  std::memset(bufferInfo, 0, crocan::kBufferInfoBytes);
  Put<std::uint32_t>(bufferInfo, 0x04, device->lines);
  Put<std::uint32_t>(bufferInfo, 0x08, device->bytesPerLine);
  return hr::Ok;
}

HResult SimCrocan::SetScannerParameters(CrocanObject scanner, std::uint32_t session,
                                        const std::uint8_t* parameters, std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"SetScannerParameters " + std::to_wstring(Get<std::uint16_t>(parameters, 0x1A)) +
                 L" " + std::to_wstring(Get<std::uint16_t>(parameters, 0x1C)));
  }
  if (const HResult result = Enter("SetScannerParameters", status); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  if (SessionScannerLocked(scanner, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  return hr::Ok;
}

HResult SimCrocan::SetGammaTable(CrocanObject scanner, std::uint32_t session,
                                 std::uint32_t tableBytes, const std::uint8_t* red,
                                 const std::uint8_t* green, const std::uint8_t* blue,
                                 std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"SetGammaTable " + std::to_wstring(tableBytes));
    const std::uint8_t* tables[] = {red, green, blue};
    for (int i = 0; i < 3; ++i) gamma_[i].assign(tables[i], tables[i] + tableBytes);
  }
  if (const HResult result = Enter("SetGammaTable", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  if (SessionScannerLocked(scanner, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  return hr::Ok;
}

HResult SimCrocan::ReadScan(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                            std::uint32_t count, std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"ReadScan " + std::to_wstring(count));
  }
  if (const HResult result = Enter("ReadScan", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  if (SessionScannerLocked(scanner, session) == nullptr || !scanning_) {
    *status = kNoSession;
    return hr::Fail;
  }
  // A read past the page is a caller's fault: refused, so that a test sees it.
  if (count > scanBytesLeft_) return hr::InvalidArg;
  std::memset(buffer, 0x5A, count);
  scanBytesLeft_ -= count;
  return hr::Ok;
}

HResult SimCrocan::ReadScanData(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                                std::uint32_t count, std::uint32_t* read, std::uint32_t* status) {
  *read = 0;
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"ReadScanData " + std::to_wstring(count));
  }
  if (const HResult result = Enter("ReadScanData", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  if (SessionScannerLocked(scanner, session) == nullptr || !scanning_) {
    *status = kNoSession;
    return hr::Fail;
  }
  const auto bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, scanBytesLeft_));
  std::memset(buffer, 0xA5, bytes);
  scanBytesLeft_ -= bytes;
  *read = bytes;
  return hr::Ok;
}

HResult SimCrocan::ExtensionCall(CrocanObject extension, std::uint32_t session, std::uint32_t value,
                                 std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"ExtensionCall " + std::to_wstring(value));
  }
  if (const HResult result = Enter("ExtensionCall", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  if (FindLocked(extension, Kind::Extension) == nullptr) return hr::Pointer;
  if (SessionScannerLocked(extension, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  return hr::Ok;
}

HResult SimCrocan::GetADFScannerCapabilities(CrocanObject feeder, std::uint32_t session,
                                             std::uint8_t* capabilities, std::uint32_t* status) {
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"GetADFScannerCapabilities");
  }
  if (const HResult result = Enter("GetADFScannerCapabilities", status); result != hr::Ok) {
    return result;
  }
  std::lock_guard lock(mutex_);
  if (FindLocked(feeder, Kind::Feeder) == nullptr) return hr::Pointer;
  if (SessionScannerLocked(feeder, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  std::memset(capabilities, 0, crocan::kFeederCapabilityBytes);
  return hr::Ok;
}

HResult SimCrocan::ADFIsReady(CrocanObject feeder, std::uint32_t session, std::uint8_t* ready,
                              std::uint32_t* status) {
  *ready = 0;
  {
    std::lock_guard lock(mutex_);
    RecordLocked(L"ADFIsReady");
  }
  if (const HResult result = Enter("ADFIsReady", status); result != hr::Ok) return result;
  std::lock_guard lock(mutex_);
  const Object* object = FindLocked(feeder, Kind::Feeder);
  if (object == nullptr) return hr::Pointer;
  if (SessionScannerLocked(feeder, session) == nullptr) {
    *status = kNoSession;
    return hr::Fail;
  }
  const auto& answers = scanners_[object->scanner].ready;
  std::size_t& calls = readyCalls_[object->scanner];
  if (!answers.empty()) *ready = answers[std::min(calls, answers.size() - 1)];
  ++calls;
  return hr::Ok;
}

void SimCrocan::Release(CrocanObject object) {
  std::lock_guard lock(mutex_);
  objects_.erase(object);
}

void SimCrocan::SetManagerRegistered(bool registered) {
  std::lock_guard lock(mutex_);
  managerRegistered_ = registered;
}

void SimCrocan::AddScanner(Scanner scanner) {
  std::lock_guard lock(mutex_);
  scanners_.push_back(std::move(scanner));
}

void SimCrocan::Fail(std::string_view method, std::uint32_t status, int times) {
  std::lock_guard lock(mutex_);
  failures_[std::string(method)] = Failure{status, times};
}

void SimCrocan::ThrowOn(std::string_view method) {
  std::lock_guard lock(mutex_);
  throws_.emplace_back(method);
}

std::vector<std::wstring> SimCrocan::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_log_;
}

std::vector<std::uint8_t> SimCrocan::LastGammaTable() const {
  std::lock_guard lock(mutex_);
  return gamma_[0];
}

bool SimCrocan::GammaTablesEqual() const {
  std::lock_guard lock(mutex_);
  return gamma_[0] == gamma_[1] && gamma_[1] == gamma_[2];
}

std::size_t SimCrocan::LiveObjects() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

std::size_t SimCrocan::OpenSessions() const {
  std::lock_guard lock(mutex_);
  return sessions_.size();
}

bool SimCrocan::Locked() const {
  std::lock_guard lock(mutex_);
  return locked_;
}

int SimCrocan::ComDepth() const {
  std::lock_guard lock(mutex_);
  return comDepth_;
}

}  // namespace kvd::sim
