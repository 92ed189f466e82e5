#include "platform/sim/SimWia.h"

#include <utility>

namespace kvd::sim {

namespace hr = platform::hr;
namespace wia = platform::wia;
using platform::HResult;
using platform::WiaObject;

HResult SimWia::FaultedHr(std::string_view method) {
  if (auto fault = calls_.Enter(method)) return hr::FromWin32(*fault);
  return hr::Ok;
}

WiaObject SimWia::NewLocked(Object object) {
  const WiaObject handle = next_++;
  objects_[handle] = object;
  return handle;
}

const SimWia::Object* SimWia::FindLocked(WiaObject handle, Kind kind) const {
  auto it = objects_.find(handle);
  return it != objects_.end() && it->second.kind == kind ? &it->second : nullptr;
}

const SimWia::Item* SimWia::ItemLocked(const Object& object) const {
  if (object.item < 0) return nullptr;
  const auto& items = devices_[object.device].items;
  return static_cast<std::size_t>(object.item) < items.size()
             ? &items[static_cast<std::size_t>(object.item)]
             : nullptr;
}

HResult SimWia::CoInitialize() {
  if (const HResult fault = FaultedHr("CoInitialize"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  ++comDepth_;
  return hr::Ok;
}

void SimWia::CoUninitialize() {
  std::lock_guard lock(mutex_);
  --comDepth_;
}

HResult SimWia::CreateDevMgr(WiaObject* manager) {
  *manager = 0;
  if (const HResult fault = FaultedHr("CreateDevMgr"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  *manager = NewLocked({Kind::Manager});
  return hr::Ok;
}

HResult SimWia::CreateDevice(WiaObject manager, const wchar_t* deviceId, WiaObject* root) {
  *root = 0;
  if (const HResult fault = FaultedHr("CreateDevice"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  const std::wstring id = deviceId != nullptr ? deviceId : L"";
  calls_log_.push_back(L"CreateDevice " + id);
  if (FindLocked(manager, Kind::Manager) == nullptr) return hr::Pointer;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i].id == id) {
      *root = NewLocked({Kind::Item, i, -1});
      return hr::Ok;
    }
  }
  return hr::InvalidArg;  // WIA_S_NO_DEVICE_AVAILABLE's way: no such device
}

HResult SimWia::SelectDeviceDlg(WiaObject manager, platform::WindowHandle, std::int32_t,
                                std::int32_t, WiaObject* root) {
  *root = 0;
  if (const HResult fault = FaultedHr("SelectDeviceDlg"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"SelectDeviceDlg");
  if (FindLocked(manager, Kind::Manager) == nullptr) return hr::Pointer;
  if (selectResult_ != hr::Ok) return selectResult_;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i].id == selectDevice_) {
      *root = NewLocked({Kind::Item, i, -1});
      return hr::Ok;
    }
  }
  return hr::Fail;
}

HResult SimWia::EnumChildItems(WiaObject item, WiaObject* enumerator) {
  *enumerator = 0;
  if (const HResult fault = FaultedHr("EnumChildItems"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  const Object* root = FindLocked(item, Kind::Item);
  if (root == nullptr) return hr::Pointer;
  if (devices_[root->device].enumResult != hr::Ok) return devices_[root->device].enumResult;
  *enumerator = NewLocked({Kind::Enumerator, root->device, -1, 0});
  return hr::Ok;
}

HResult SimWia::GetCount(WiaObject enumerator, std::uint32_t* count) {
  *count = 0;
  if (const HResult fault = FaultedHr("GetCount"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  const Object* found = FindLocked(enumerator, Kind::Enumerator);
  if (found == nullptr) return hr::Pointer;
  *count = static_cast<std::uint32_t>(devices_[found->device].items.size());
  return hr::Ok;
}

HResult SimWia::Next(WiaObject enumerator, WiaObject* item, std::uint32_t* fetched) {
  *item = 0;
  *fetched = 0;
  if (const HResult fault = FaultedHr("Next"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  auto it = objects_.find(enumerator);
  if (it == objects_.end() || it->second.kind != Kind::Enumerator) return hr::Pointer;
  Object& walk = it->second;
  if (walk.next >= devices_[walk.device].items.size()) return hr::False;
  *item = NewLocked({Kind::Item, walk.device, static_cast<int>(walk.next)});
  ++walk.next;
  *fetched = 1;
  return hr::Ok;
}

HResult SimWia::DeviceDlg(WiaObject item, platform::WindowHandle, std::int32_t, std::int32_t,
                          std::vector<WiaObject>* items) {
  items->clear();
  if (const HResult fault = FaultedHr("DeviceDlg"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  calls_log_.push_back(L"DeviceDlg");
  const Object* root = FindLocked(item, Kind::Item);
  if (root == nullptr) return hr::Pointer;
  if (deviceDlgResult_ != hr::Ok) return deviceDlgResult_;
  const std::size_t device = root->device;
  for (const std::wstring& name : deviceDlgItems_) {
    const auto& all = devices_[device].items;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].name == name)
        items->push_back(NewLocked({Kind::Item, device, static_cast<int>(i)}));
    }
  }
  return hr::Ok;
}

HResult SimWia::QueryPropertyStorage(WiaObject item, WiaObject* storage) {
  *storage = 0;
  std::lock_guard lock(mutex_);
  const Object* found = FindLocked(item, Kind::Item);
  if (found == nullptr) return hr::Pointer;
  const Item* child = ItemLocked(*found);
  if (child != nullptr && !child->hasStorage) return static_cast<HResult>(0x80004002);
  *storage = NewLocked({Kind::Storage, found->device, found->item});
  return hr::Ok;
}

HResult SimWia::ReadProperties(WiaObject storage, const std::uint32_t* ids, std::uint32_t count,
                               platform::WiaPropertyValue* values) {
  if (const HResult fault = FaultedHr("ReadProperties"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  const Object* found = FindLocked(storage, Kind::Storage);
  if (found == nullptr) return hr::Pointer;
  const Device& device = devices_[found->device];
  for (std::uint32_t i = 0; i < count; ++i) {
    platform::WiaPropertyValue& value = values[i];
    value = {};
    switch (ids[i]) {
      case wia::DipDevId:
        value.vt = wia::VtBstr;
        value.text = device.id;
        break;
      case wia::DipDevName:
        value.vt = wia::VtBstr;
        value.text = device.name;
        break;
      case wia::DipDevType:
        if (device.typeIsNumber) {
          value.vt = wia::VtI4;
          value.number = device.type;
        } else {
          value.vt = wia::VtBstr;
          value.text = L"scanner";
        }
        break;
      default:
        break;  // VT_EMPTY
    }
  }
  return hr::Ok;
}

HResult SimWia::WriteTransferFormat(WiaObject storage, const platform::Guid& format,
                                    std::int32_t tymed) {
  if (const HResult fault = FaultedHr("WriteTransferFormat"); fault != hr::Ok) return fault;
  std::lock_guard lock(mutex_);
  const Object* found = FindLocked(storage, Kind::Storage);
  if (found == nullptr) return hr::Pointer;
  const Item* item = ItemLocked(*found);
  calls_log_.push_back(L"WriteTransferFormat " + (item != nullptr ? item->name : L"(root)") +
                       (format == wia::ImgFmtBmp ? L" bmp " : L" other ") + std::to_wstring(tymed));
  return hr::Ok;
}

HResult SimWia::QueryDataTransfer(WiaObject item, WiaObject* transfer) {
  *transfer = 0;
  std::lock_guard lock(mutex_);
  const Object* found = FindLocked(item, Kind::Item);
  if (found == nullptr) return hr::Pointer;
  const Item* child = ItemLocked(*found);
  if (child != nullptr && !child->hasTransfer) return static_cast<HResult>(0x80004002);
  *transfer = NewLocked({Kind::Transfer, found->device, found->item});
  return hr::Ok;
}

WiaObject SimWia::NewFileMedium() {
  std::lock_guard lock(mutex_);
  return NewLocked({Kind::Medium});
}

HResult SimWia::GetData(WiaObject transfer, WiaObject medium,
                        platform::IWiaTransferCallback& callback) {
  if (const HResult fault = FaultedHr("GetData"); fault != hr::Ok) return fault;
  std::vector<Band> bands;
  HResult result = hr::Ok;
  {
    std::lock_guard lock(mutex_);
    const Object* found = FindLocked(transfer, Kind::Transfer);
    if (found == nullptr || FindLocked(medium, Kind::Medium) == nullptr) return hr::Pointer;
    const Item* item = ItemLocked(*found);
    calls_log_.push_back(L"GetData " + (item != nullptr ? item->name : L"(root)"));
    if (item != nullptr) {
      const std::size_t round = transfers_[{found->device, found->item}]++;
      if (!item->results.empty()) {
        result = item->results[std::min(round, item->results.size() - 1)];
      }
      bands = item->bands;
    }
  }
  // The callback runs without the lock, as WIA calls it from the transfer.
  for (const Band& band : bands) {
    platform::WiaBand call;
    call.message = band.message;
    call.status = band.status;
    call.percentComplete = band.percent;
    call.offset = band.offset;
    call.length = static_cast<std::int32_t>(band.bytes.size());
    call.headerFormat = band.format;
    call.headerBufferSize = band.bufferSize;
    call.data = band.bytes.empty() ? nullptr : band.bytes.data();
    const HResult answer = callback.BandedDataCallback(call);
    // The transfer ends when the callback asks it to (S_FALSE) or fails.
    if (answer != hr::Ok) return answer < 0 ? answer : hr::False;
  }
  return result;
}

void SimWia::FreeMedium(WiaObject medium, bool releaseContents) {
  std::lock_guard lock(mutex_);
  if (objects_.erase(medium) != 0) {
    calls_log_.push_back(releaseContents ? L"FreeMedium released" : L"FreeMedium kept");
  }
}

void SimWia::Release(WiaObject object) {
  std::lock_guard lock(mutex_);
  objects_.erase(object);
}

void SimWia::AddDevice(Device device) {
  std::lock_guard lock(mutex_);
  devices_.push_back(std::move(device));
}

void SimWia::SetSelectDeviceDlg(HResult result, std::wstring deviceId) {
  std::lock_guard lock(mutex_);
  selectResult_ = result;
  selectDevice_ = std::move(deviceId);
}

void SimWia::SetDeviceDlg(HResult result, std::vector<std::wstring> itemNames) {
  std::lock_guard lock(mutex_);
  deviceDlgResult_ = result;
  deviceDlgItems_ = std::move(itemNames);
}

std::vector<std::wstring> SimWia::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_log_;
}

std::size_t SimWia::LiveObjects() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

int SimWia::ComDepth() const {
  std::lock_guard lock(mutex_);
  return comDepth_;
}

}  // namespace kvd::sim
