#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/api/IWia.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// Windows Image Acquisition as the program meets it: devices by their WIA id (the Image class
// GUID, a backslash and the instance number) with their name, type and items, the two dialogs
// answered as a test says, and transfers that deliver the bands a test gives. Every object
// handed out is counted until it is released; every call is recorded in a line of its own.
class SimWia final : public platform::IWia {
 public:
  // What one GetData of an item delivers, band by band, and what it answers.
  struct Band {
    std::int32_t message = platform::wia::MsgData;
    std::int32_t status = platform::wia::StatusTransferFromDevice;
    std::int32_t percent = 0;
    std::int32_t offset = 0;
    std::vector<std::uint8_t> bytes;
    platform::Guid format = platform::wia::ImgFmtBmp;  // for the header
    std::int32_t bufferSize = 0;                       // for the header
  };
  struct Item {
    std::wstring name;
    std::vector<Band> bands;
    // The answer of each GetData in turn; the last one repeats. Empty: S_OK.
    std::vector<platform::HResult> results;
    bool hasStorage = true;
    bool hasTransfer = true;
  };
  struct Device {
    std::wstring id;
    std::wstring name;
    // WIA_DIP_DEV_TYPE: the STI type in the high word (1 scanner, 2 camera).
    std::int32_t type = 0x00010000;
    bool typeIsNumber = true;  // a VT_I4; otherwise the read gives a text
    std::vector<Item> items;
    platform::HResult enumResult = platform::hr::Ok;
  };

  explicit SimWia(SimCalls& calls) : calls_(calls) {}

  platform::HResult CoInitialize() override;
  void CoUninitialize() override;
  platform::HResult CreateDevMgr(platform::WiaObject* manager) override;
  platform::HResult CreateDevice(platform::WiaObject manager, const wchar_t* deviceId,
                                 platform::WiaObject* root) override;
  platform::HResult SelectDeviceDlg(platform::WiaObject manager, platform::WindowHandle parent,
                                    std::int32_t deviceType, std::int32_t flags,
                                    platform::WiaObject* root) override;
  platform::HResult EnumChildItems(platform::WiaObject item,
                                   platform::WiaObject* enumerator) override;
  platform::HResult GetCount(platform::WiaObject enumerator, std::uint32_t* count) override;
  platform::HResult Next(platform::WiaObject enumerator, platform::WiaObject* item,
                         std::uint32_t* fetched) override;
  platform::HResult DeviceDlg(platform::WiaObject item, platform::WindowHandle parent,
                              std::int32_t flags, std::int32_t intent,
                              std::vector<platform::WiaObject>* items) override;
  platform::HResult QueryPropertyStorage(platform::WiaObject item,
                                         platform::WiaObject* storage) override;
  platform::HResult ReadProperties(platform::WiaObject storage, const std::uint32_t* ids,
                                   std::uint32_t count,
                                   platform::WiaPropertyValue* values) override;
  platform::HResult WriteTransferFormat(platform::WiaObject storage, const platform::Guid& format,
                                        std::int32_t tymed) override;
  platform::HResult QueryDataTransfer(platform::WiaObject item,
                                      platform::WiaObject* transfer) override;
  platform::WiaObject NewFileMedium() override;
  platform::HResult GetData(platform::WiaObject transfer, platform::WiaObject medium,
                            platform::IWiaTransferCallback& callback) override;
  void FreeMedium(platform::WiaObject medium, bool releaseContents) override;
  void Release(platform::WiaObject object) override;

  // Set-up and inspection.
  void AddDevice(Device device);
  // The selection dialog: the device it gives (by id), or its answer without one (S_FALSE for
  // a cancel, a failure). By default it fails with E_NOTIMPL.
  void SetSelectDeviceDlg(platform::HResult result, std::wstring deviceId = {});
  // The scan dialog: the items it gives of the device it is shown for (by name), or its answer.
  void SetDeviceDlg(platform::HResult result, std::vector<std::wstring> itemNames = {});
  // One line a call: "CreateDevice <id>", "SelectDeviceDlg", "DeviceDlg", "GetData <item>",
  // "WriteTransferFormat <item> <bmp|other> <tymed>", "FreeMedium released|kept".
  std::vector<std::wstring> Calls() const;
  // References handed out and not yet released (media included).
  std::size_t LiveObjects() const;
  int ComDepth() const;

 private:
  enum class Kind { Manager, Item, Enumerator, Storage, Transfer, Medium };
  struct Object {
    Kind kind = Kind::Manager;
    std::size_t device = 0;
    int item = -1;  // -1: the root item
    std::size_t next = 0;
  };
  platform::WiaObject NewLocked(Object object);
  const Object* FindLocked(platform::WiaObject handle, Kind kind) const;
  const Item* ItemLocked(const Object& object) const;
  platform::HResult FaultedHr(std::string_view method);

  SimCalls& calls_;
  mutable std::mutex mutex_;
  std::vector<Device> devices_;
  std::map<platform::WiaObject, Object> objects_;
  std::map<std::pair<std::size_t, int>, std::size_t> transfers_;  // GetData calls by item
  platform::WiaObject next_ = 0x5100;
  platform::HResult selectResult_ = platform::hr::NotImpl;
  std::wstring selectDevice_;
  platform::HResult deviceDlgResult_ = platform::hr::NotImpl;
  std::vector<std::wstring> deviceDlgItems_;
  std::vector<std::wstring> calls_log_;
  int comDepth_ = 0;
};

}  // namespace kvd::sim
