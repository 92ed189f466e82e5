#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/IComObjects.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// Components known by class and interface IDs, as kinds of object a test describes: the
// interfaces each answers and what each slot hands out. Every call is recorded in a line of its
// own, and every reference handed out is tracked until it is released, so a test sees what was
// left behind and what was given back twice.
class SimComObjects final : public platform::IComObjects {
 public:
  struct Kind {
    std::vector<platform::Guid> interfaces;    // QueryInterface and CreateInstance answer these
    std::map<unsigned, std::wstring> objects;  // CallForObject: the kind handed out
    std::map<unsigned, std::int32_t> numbers;  // CallForNumber
    std::map<unsigned, std::vector<std::wstring>> items;  // CallForItem: the kind by index
    std::map<unsigned, std::wstring> texts;               // CallForText
    std::map<unsigned, platform::HResult> failures;       // a slot that fails with this
  };

  explicit SimComObjects(SimCalls& calls) : calls_(calls) {}

  // Set-up.
  void DefineKind(const std::wstring& name, Kind kind);
  void RegisterClass(const platform::Guid& classId, const std::wstring& kind);

  // Inspection. Lines: "CoInitialize", "CoUninitialize", "Create <kind>", "Query <kind> <iid>",
  // "<kind>.<slot>", "<kind>.<slot> <index>", "Release <kind>".
  std::vector<std::wstring> Calls() const;
  std::size_t LiveObjects() const;
  // Releases of a reference that was not live (already released, or never handed out).
  std::size_t BadReleases() const;
  int ComDepth() const;

  platform::HResult CoInitialize() override;
  void CoUninitialize() override;
  platform::HResult CreateInstance(const platform::Guid& classId, std::uint32_t context,
                                   const platform::Guid& interfaceId,
                                   platform::ComObject* object) override;
  platform::HResult QueryInterface(platform::ComObject object, const platform::Guid& interfaceId,
                                   platform::ComObject* other) override;
  void Release(platform::ComObject object) override;
  platform::HResult CallForObject(platform::ComObject object, unsigned slot,
                                  platform::ComObject* out) override;
  platform::HResult CallForNumber(platform::ComObject object, unsigned slot,
                                  std::int32_t* out) override;
  platform::HResult CallForItem(platform::ComObject object, unsigned slot, std::int32_t index,
                                platform::ComObject* out) override;
  platform::HResult CallForText(platform::ComObject object, unsigned slot,
                                std::wstring* out) override;

 private:
  // The kind of a live reference and the failure of its slot, or the error of a dead one.
  const Kind* KindLocked(platform::ComObject object, std::wstring* name) const;
  platform::HResult SlotLocked(platform::ComObject object, unsigned slot, const Kind** kind,
                               std::wstring* name, const std::wstring& line);
  platform::ComObject NewLocked(const std::wstring& kind);
  bool Answers(const std::wstring& kind, const platform::Guid& interfaceId) const;

  SimCalls& calls_;
  mutable std::mutex mutex_;
  std::map<std::wstring, Kind> kinds_;
  std::vector<std::pair<platform::Guid, std::wstring>> classes_;
  std::map<platform::ComObject, std::wstring> live_;
  platform::ComObject next_ = 0x5000;
  std::vector<std::wstring> calls_log_;
  std::size_t badReleases_ = 0;
  int depth_ = 0;
};

}  // namespace kvd::sim
