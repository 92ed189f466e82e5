#include "platform/sim/SimComObjects.h"

#include <algorithm>

namespace kvd::sim {

namespace {

using platform::ComObject;
using platform::HResult;
namespace hr = platform::hr;

constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);  // REGDB_E_CLASSNOTREG
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);         // E_NOINTERFACE
constexpr HResult kDisconnected = static_cast<HResult>(0x80010108);        // RPC_E_DISCONNECTED

}  // namespace

void SimComObjects::DefineKind(const std::wstring& name, Kind kind) {
  std::lock_guard lock(mutex_);
  kinds_[name] = std::move(kind);
}

void SimComObjects::RegisterClass(const platform::Guid& classId, const std::wstring& kind) {
  std::lock_guard lock(mutex_);
  classes_.emplace_back(classId, kind);
}

std::vector<std::wstring> SimComObjects::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_log_;
}

std::size_t SimComObjects::LiveObjects() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

std::size_t SimComObjects::BadReleases() const {
  std::lock_guard lock(mutex_);
  return badReleases_;
}

int SimComObjects::ComDepth() const {
  std::lock_guard lock(mutex_);
  return depth_;
}

HResult SimComObjects::CoInitialize() {
  if (auto fault = calls_.Enter("CoInitialize")) return hr::FromWin32(*fault);
  std::lock_guard lock(mutex_);
  calls_log_.emplace_back(L"CoInitialize");
  ++depth_;
  return hr::Ok;
}

void SimComObjects::CoUninitialize() {
  std::lock_guard lock(mutex_);
  calls_log_.emplace_back(L"CoUninitialize");
  --depth_;
}

bool SimComObjects::Answers(const std::wstring& kind, const platform::Guid& interfaceId) const {
  auto it = kinds_.find(kind);
  if (it == kinds_.end()) return false;
  const auto& ids = it->second.interfaces;
  return std::find(ids.begin(), ids.end(), interfaceId) != ids.end();
}

ComObject SimComObjects::NewLocked(const std::wstring& kind) {
  const ComObject handle = next_;
  next_ += 0x10;
  live_[handle] = kind;
  return handle;
}

HResult SimComObjects::CreateInstance(const platform::Guid& classId, std::uint32_t,
                                      const platform::Guid& interfaceId, ComObject* object) {
  *object = 0;
  std::lock_guard lock(mutex_);
  auto it = std::find_if(classes_.begin(), classes_.end(),
                         [&](const auto& entry) { return entry.first == classId; });
  if (it == classes_.end()) {
    calls_log_.push_back(L"Create " + platform::GuidToText(classId));
    return kClassNotRegistered;
  }
  calls_log_.push_back(L"Create " + it->second);
  if (!Answers(it->second, interfaceId)) return kNoInterface;
  *object = NewLocked(it->second);
  return hr::Ok;
}

const SimComObjects::Kind* SimComObjects::KindLocked(ComObject object, std::wstring* name) const {
  auto it = live_.find(object);
  if (it == live_.end()) return nullptr;
  *name = it->second;
  auto kind = kinds_.find(it->second);
  return kind != kinds_.end() ? &kind->second : nullptr;
}

HResult SimComObjects::QueryInterface(ComObject object, const platform::Guid& interfaceId,
                                      ComObject* other) {
  *other = 0;
  std::lock_guard lock(mutex_);
  std::wstring name;
  if (KindLocked(object, &name) == nullptr) return object == 0 ? hr::Pointer : kDisconnected;
  calls_log_.push_back(L"Query " + name + L" " + platform::GuidToText(interfaceId));
  if (!Answers(name, interfaceId)) return kNoInterface;
  *other = NewLocked(name);
  return hr::Ok;
}

void SimComObjects::Release(ComObject object) {
  std::lock_guard lock(mutex_);
  auto it = live_.find(object);
  if (it == live_.end()) {
    ++badReleases_;
    return;
  }
  calls_log_.push_back(L"Release " + it->second);
  live_.erase(it);
}

HResult SimComObjects::SlotLocked(ComObject object, unsigned slot, const Kind** kind,
                                  std::wstring* name, const std::wstring& suffix) {
  *kind = KindLocked(object, name);
  if (*kind == nullptr) return object == 0 ? hr::Pointer : kDisconnected;
  calls_log_.push_back(*name + L"." + std::to_wstring(slot) + suffix);
  auto failure = (*kind)->failures.find(slot);
  return failure != (*kind)->failures.end() ? failure->second : hr::Ok;
}

HResult SimComObjects::CallForObject(ComObject object, unsigned slot, ComObject* out) {
  *out = 0;
  std::lock_guard lock(mutex_);
  const Kind* kind = nullptr;
  std::wstring name;
  if (const HResult result = SlotLocked(object, slot, &kind, &name, L""); result != hr::Ok) {
    return result;
  }
  auto it = kind->objects.find(slot);
  if (it == kind->objects.end()) return hr::NotImpl;
  *out = NewLocked(it->second);
  return hr::Ok;
}

HResult SimComObjects::CallForNumber(ComObject object, unsigned slot, std::int32_t* out) {
  *out = 0;
  std::lock_guard lock(mutex_);
  const Kind* kind = nullptr;
  std::wstring name;
  if (const HResult result = SlotLocked(object, slot, &kind, &name, L""); result != hr::Ok) {
    return result;
  }
  auto it = kind->numbers.find(slot);
  if (it == kind->numbers.end()) return hr::NotImpl;
  *out = it->second;
  return hr::Ok;
}

HResult SimComObjects::CallForItem(ComObject object, unsigned slot, std::int32_t index,
                                   ComObject* out) {
  *out = 0;
  std::lock_guard lock(mutex_);
  const Kind* kind = nullptr;
  std::wstring name;
  if (const HResult result = SlotLocked(object, slot, &kind, &name, L" " + std::to_wstring(index));
      result != hr::Ok) {
    return result;
  }
  auto it = kind->items.find(slot);
  if (it == kind->items.end()) return hr::NotImpl;
  if (index < 0 || static_cast<std::size_t>(index) >= it->second.size()) return hr::InvalidArg;
  *out = NewLocked(it->second[static_cast<std::size_t>(index)]);
  return hr::Ok;
}

HResult SimComObjects::CallForText(ComObject object, unsigned slot, std::wstring* out) {
  out->clear();
  std::lock_guard lock(mutex_);
  const Kind* kind = nullptr;
  std::wstring name;
  if (const HResult result = SlotLocked(object, slot, &kind, &name, L""); result != hr::Ok) {
    return result;
  }
  auto it = kind->texts.find(slot);
  if (it == kind->texts.end()) return hr::NotImpl;
  *out = it->second;
  return hr::Ok;
}

}  // namespace kvd::sim
