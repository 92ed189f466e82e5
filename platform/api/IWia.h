#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/IDevices.h"
#include "platform/api/IWindowMessages.h"
#include "platform/api/Types.h"

namespace kvd::platform {

// A COM reference the port holds for its caller (the device manager, an item, an enumerator, a
// property storage, a data transfer, a storage medium) as a plain number; 0 is none. Each one
// handed out is given back with Release (a medium with FreeMedium).
using WiaObject = std::uintptr_t;

namespace wia {
// Property ids (WIA_DIP_*, WIA_IPA_*).
inline constexpr std::uint32_t DipDevId = 2;
inline constexpr std::uint32_t DipDevType = 5;
inline constexpr std::uint32_t DipDevName = 7;
inline constexpr std::uint32_t IpaFormat = 4106;
inline constexpr std::uint32_t IpaTymed = 4108;
inline constexpr std::uint32_t StiDeviceTypeScanner = 1;  // GET_STIDEVICE_TYPE of a scanner
inline constexpr std::int32_t TymedFile = 2;
// VARTYPEs of the values the program reads.
inline constexpr std::uint16_t VtI4 = 3;
inline constexpr std::uint16_t VtBstr = 8;
// IWiaDataCallback messages and transfer statuses.
inline constexpr std::int32_t MsgDataHeader = 1;
inline constexpr std::int32_t MsgData = 2;
inline constexpr std::int32_t MsgStatus = 3;
inline constexpr std::int32_t MsgTermination = 4;
inline constexpr std::int32_t MsgNewPage = 5;
inline constexpr std::int32_t StatusTransferFromDevice = 1;
inline constexpr std::int32_t StatusProcessingData = 2;
inline constexpr std::int32_t StatusTransferToClient = 4;
// The image formats (WiaImgFmt_BMP, WiaImgFmt_MEMORYBMP).
inline constexpr Guid ImgFmtBmp = {
    0xb96b3cab, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
inline constexpr Guid ImgFmtMemoryBmp = {
    0xb96b3caa, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
}  // namespace wia

// A property value as IWiaPropertyStorage::ReadMultiple gives it: its VARTYPE, and its value
// when it is a VT_I4 or a VT_BSTR.
struct WiaPropertyValue {
  std::uint16_t vt = 0;
  std::int32_t number = 0;
  std::wstring text;
};

// One call of IWiaDataCallback::BandedDataCallback, with the data-callback header's format and
// buffer size when the message is the header.
struct WiaBand {
  std::int32_t message = 0;
  std::int32_t status = 0;
  std::int32_t percentComplete = 0;
  std::int32_t offset = 0;
  std::int32_t length = 0;
  Guid headerFormat;
  std::int32_t headerBufferSize = 0;
  const std::uint8_t* data = nullptr;
};

// What the transfer calls back (the program's IWiaDataCallback).
class IWiaTransferCallback {
 public:
  virtual ~IWiaTransferCallback() = default;
  virtual HResult BandedDataCallback(const WiaBand& band) = 0;
};

// Windows Image Acquisition 1.0 (IWiaDevMgr, IWiaItem, IEnumWiaItem, IWiaPropertyStorage,
// IWiaDataTransfer) and COM on the calling thread. Results are the HRESULTs of the calls.
class IWia {
 public:
  virtual ~IWia() = default;
  // CoInitialize(nullptr) / CoUninitialize on the calling thread.
  virtual HResult CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_ALL, IID_IWiaDevMgr).
  virtual HResult CreateDevMgr(WiaObject* manager) = 0;
  // IWiaDevMgr::CreateDevice(deviceId): the device's root item.
  virtual HResult CreateDevice(WiaObject manager, const wchar_t* deviceId, WiaObject* root) = 0;
  // IWiaDevMgr::SelectDeviceDlg(parent, deviceType, flags, nullptr, root): S_FALSE when the
  // user cancelled.
  virtual HResult SelectDeviceDlg(WiaObject manager, WindowHandle parent, std::int32_t deviceType,
                                  std::int32_t flags, WiaObject* root) = 0;
  // IWiaItem::EnumChildItems; IEnumWiaItem::GetCount; IEnumWiaItem::Next(1, item, fetched).
  virtual HResult EnumChildItems(WiaObject item, WiaObject* enumerator) = 0;
  virtual HResult GetCount(WiaObject enumerator, std::uint32_t* count) = 0;
  virtual HResult Next(WiaObject enumerator, WiaObject* item, std::uint32_t* fetched) = 0;
  // IWiaItem::DeviceDlg(parent, flags, intent, &count, &items): the items it returns (their
  // array freed with CoTaskMemFree here, each item to be released); S_FALSE when cancelled.
  virtual HResult DeviceDlg(WiaObject item, WindowHandle parent, std::int32_t flags,
                            std::int32_t intent, std::vector<WiaObject>* items) = 0;
  // QueryInterface(IID_IWiaPropertyStorage) of an item.
  virtual HResult QueryPropertyStorage(WiaObject item, WiaObject* storage) = 0;
  // IWiaPropertyStorage::ReadMultiple of `count` properties by PROPID (the values freed with
  // FreePropVariantArray here).
  virtual HResult ReadProperties(WiaObject storage, const std::uint32_t* ids, std::uint32_t count,
                                 WiaPropertyValue* values) = 0;
  // IWiaPropertyStorage::WriteMultiple of WIA_IPA_FORMAT (`format`, VT_CLSID) and WIA_IPA_TYMED
  // (`tymed`, VT_I4), first id WIA_IPA_FIRST.
  virtual HResult WriteTransferFormat(WiaObject storage, const Guid& format,
                                      std::int32_t tymed) = 0;
  // QueryInterface(IID_IWiaDataTransfer) of an item.
  virtual HResult QueryDataTransfer(WiaObject item, WiaObject* transfer) = 0;
  // A STGMEDIUM of TYMED_FILE with no file name (WIA picks a temporary file).
  virtual WiaObject NewFileMedium() = 0;
  // IWiaDataTransfer::idtGetData(medium, the program's callback).
  virtual HResult GetData(WiaObject transfer, WiaObject medium, IWiaTransferCallback& callback) = 0;
  // Frees the medium; with `releaseContents` first ReleaseStgMedium (which deletes the file).
  virtual void FreeMedium(WiaObject medium, bool releaseContents) = 0;
  // IUnknown::Release.
  virtual void Release(WiaObject object) = 0;
};

}  // namespace kvd::platform
