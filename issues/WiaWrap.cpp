#include "issues/WiaWrap.h"

#include "logging/Trace.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace hr = kvd::platform::hr;
namespace wia = kvd::platform::wia;
using kvd::platform::HResult;
using kvd::platform::IWia;
using kvd::platform::WiaObject;

namespace WiaWrap {

namespace {

constexpr std::uint32_t kBitmapFileHeader = 14;

// Every reference handed out by the port goes back to it on every path.
class Held {
 public:
  explicit Held(IWia& wia, WiaObject object = 0) : m_wia(wia), m_object(object) {}
  ~Held() { reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  WiaObject get() const { return m_object; }
  WiaObject* put() {
    reset();
    return &m_object;
  }
  void reset() {
    if (m_object != 0) m_wia.Release(m_object);
    m_object = 0;
  }

 private:
  IWia& m_wia;
  WiaObject m_object;
};

// "Listen_Event" when the scan step is over, however it ends.
class ListenOnExit {
 public:
  explicit ListenOnExit(kvd::platform::Platform& platform) : m_platform(platform) {}
  ~ListenOnExit() { SignalListenEvent(m_platform.sync); }
  ListenOnExit(const ListenOnExit&) = delete;
  ListenOnExit& operator=(const ListenOnExit&) = delete;

 private:
  kvd::platform::Platform& m_platform;
};

// The second of two properties (the device id first, as the reads ask), or nothing.
bool ReadSecond(IWia& wia, WiaObject item, std::uint32_t id, kvd::platform::WiaPropertyValue* out,
                const wchar_t* scope) {
  KVD_SCOPE(scope);
  if (item == 0) {
    KVD_LOG(kind::Error, L"IWiaItem is null");
    return false;
  }
  Held storage(wia);
  if (!hr::Succeeded(wia.QueryPropertyStorage(item, storage.put())) || storage.get() == 0) {
    KVD_LOG(kind::Error, L"IWiaPropertyStorage is null");
    return false;
  }
  const std::uint32_t ids[2] = {wia::DipDevId, id};
  kvd::platform::WiaPropertyValue values[2];
  if (wia.ReadProperties(storage.get(), ids, 2, values) != hr::Ok) return false;
  *out = values[1];
  return true;
}

}  // namespace

int GetDeviceType(IWia& wia, WiaObject item) {
  kvd::platform::WiaPropertyValue value;
  if (!ReadSecond(wia, item, wia::DipDevType, &value, L"WiaWrap::GetDeviceType")) return -1;
  const auto raw = value.vt == wia::VtI4 ? static_cast<std::uint32_t>(value.number) : 0xFFFFFFFFu;
  return static_cast<int>(raw >> 16);
}

std::wstring GetDriverName(IWia& wia, WiaObject item) {
  kvd::platform::WiaPropertyValue value;
  if (!ReadSecond(wia, item, wia::DipDevName, &value, L"WiaWrap::GetDriverName")) return {};
  return value.vt == wia::VtBstr ? value.text : std::wstring();
}

HResult UpdateProgress(std::int32_t status, std::int32_t percent, IProgressDialog* progress) {
  if (progress == nullptr) return hr::Pointer;
  switch (status) {
    case wia::StatusTransferFromDevice:
    case wia::StatusProcessingData:
    case wia::StatusTransferToClient:
      progress->SetPosition(percent);
      return hr::Ok;
    default:
      return hr::InvalidArg;
  }
}

HResult CDataCallback::Grow(std::int64_t bytes) {
  if (bytes < 0 || static_cast<std::uint64_t>(bytes) > kMaxBytes) return hr::OutOfMemory;
  m_bStreamOpen = true;
  if (static_cast<std::uint64_t>(bytes) > m_stream.size()) {
    m_stream.resize(static_cast<std::size_t>(bytes));
  }
  return hr::Ok;
}

HResult CDataCallback::BandedDataCallback(const kvd::platform::WiaBand& band) {
  switch (band.message) {
    case wia::MsgDataHeader:
      m_bBitmap = band.headerFormat == wia::ImgFmtMemoryBmp || band.headerFormat == wia::ImgFmtBmp;
      m_nHeaderSize = band.headerFormat == wia::ImgFmtMemoryBmp ? kBitmapFileHeader : 0;
      if (band.headerBufferSize != 0) {
        return Grow(static_cast<std::int64_t>(band.headerBufferSize) + m_nHeaderSize);
      }
      return hr::Ok;
    case wia::MsgData: {
      if (m_progress) {
        const HResult progress = m_progress(band.status, band.percentComplete);
        if (progress < 0 || progress == hr::False) return progress;
      }
      if (band.offset < 0 || band.length < 0) return hr::OutOfMemory;
      const std::int64_t at = static_cast<std::int64_t>(band.offset) + m_nHeaderSize;
      const HResult grown = Grow(at + band.length);
      if (grown != hr::Ok) return grown;
      if (band.length > 0 && band.data != nullptr) {
        std::copy(band.data, band.data + band.length,
                  m_stream.begin() + static_cast<std::ptrdiff_t>(at));
      }
      return hr::Ok;
    }
    case wia::MsgStatus:
      if (m_progress) {
        const HResult progress = m_progress(band.status, band.percentComplete);
        if (progress < 0 || progress == hr::False) return progress;
      }
      return hr::Ok;
    case wia::MsgTermination:
    case wia::MsgNewPage:
      // The finished image goes to nobody: no stream list is asked for. A fresh buffer follows.
      if (m_bStreamOpen) {
        ++m_nFinished;
        m_stream.clear();
        m_bStreamOpen = false;
      }
      return hr::Ok;
    default:
      return hr::Ok;
  }
}

HResult TransferWiaItem(const ScanHost& host, WiaObject item, kvd::platform::WindowHandle owner) {
  KVD_SCOPE(L"WiaWrap::TransferWiaItem");
  IWia& wia = host.platform.wia;
  if (item == 0) {
    KVD_LOG(kind::Error, L"pWiaItem is null");
    return hr::InvalidArg;
  }
  Held storage(wia);
  HResult result = wia.QueryPropertyStorage(item, storage.put());
  if (!hr::Succeeded(result)) return result;
  result = wia.WriteTransferFormat(storage.get(), wia::ImgFmtBmp, wia::TymedFile);
  if (!hr::Succeeded(result)) return result;
  Held transfer(wia);
  result = wia.QueryDataTransfer(item, transfer.put());
  if (!hr::Succeeded(result)) return result;

  std::unique_ptr<IProgressDialog> progress = host.progress ? host.progress(owner) : nullptr;
  if (progress) progress->Show();
  // Without a progress window (it could not be made) the image still comes: there is only
  // nothing to show the percentage on.
  CDataCallback callback([&progress](std::int32_t status, std::int32_t percent) {
    return progress ? UpdateProgress(status, percent, progress.get()) : hr::Ok;
  });
  const WiaObject medium = wia.NewFileMedium();
  result = wia.GetData(transfer.get(), medium, callback);
  if (!hr::Succeeded(result)) {
    KVD_LOG(kind::Debug, L"idtGetData  failed: Retry");
    result = wia.GetData(transfer.get(), medium, callback);
  }
  // Only a complete transfer has a file to delete; after S_FALSE the medium is left as it is.
  wia.FreeMedium(medium, result == hr::Ok);
  if (progress) progress->Close();
  return result;
}

int WiaGetImage(const ScanHost& host, const DeviceDetails& device,
                kvd::platform::WindowHandle owner) {
  KVD_SCOPE(L"WiaWrap::WiaGetImage");
  KVD_LOG(kind::Debug, L"Perform WIA scan.");
  const ListenOnExit listen(host.platform);
  IWia& wia = host.platform.wia;
  Held manager(wia);
  HResult result = wia.CreateDevMgr(manager.put());
  if (!hr::Succeeded(result)) {
    KVD_LOG(kind::Error, L"WiaDevMgr Creation failed.");
    return result;
  }
  KVD_LOG(kind::Info, L"CreateDevice on %s Driver:%s", device.strFriendlyName.c_str(),
          device.strDriverKey.c_str());
  Held root(wia);
  bool created =
      hr::Succeeded(wia.CreateDevice(manager.get(), device.strDriverKey.c_str(), root.put())) &&
      root.get() != 0;
  if (created && host.deviceCount > 1) {
    const std::wstring name = GetDriverName(wia, root.get());
    if (name != device.strFriendlyName) {
      KVD_LOG(kind::Error, L"CreateDevice Created Incorrect device, Diagnosing: %s Selected: %s",
              device.strFriendlyName.c_str(), name.c_str());
      root.reset();
      created = false;
    }
  }
  if (!created) {
    KVD_LOG(kind::Error, L"CreateDevice failed,trying SelectDeviceDlg");
    result = wia.SelectDeviceDlg(manager.get(), owner, 0, 0, root.put());
    if (!hr::Succeeded(result) || result == hr::False || root.get() == 0) {
      KVD_LOG(kind::Error, L"SelectDeviceDlg Failed; WIA scan failure");
      return hr::Succeeded(result) && result != hr::False ? hr::Fail : result;
    }
    const std::wstring name = GetDriverName(wia, root.get());
    if (name != device.strFriendlyName) {
      KVD_LOG(kind::Error,
              L"SelectDeviceDlg Selected Incorrect device, Diagnosing: %s Selected: %s",
              device.strFriendlyName.c_str(), name.c_str());
    }
    const int type = GetDeviceType(wia, root.get());
    if (type != static_cast<int>(wia::StiDeviceTypeScanner)) {
      KVD_LOG(kind::Error, L"Selected Incorrect device, Diagnosing: %s Selected: %sDevice Type %d",
              device.strFriendlyName.c_str(), name.c_str(), type);
      return kNoScan;
    }
  }
  manager.reset();

  // Silently: the first item of the device.
  {
    Held items(wia);
    if (!hr::Succeeded(wia.EnumChildItems(root.get(), items.put())) || items.get() == 0) {
      KVD_LOG(kind::Error, L"EnumChildItems failed");
    } else {
      std::uint32_t count = 0;
      wia.GetCount(items.get(), &count);
      if (count == 0) {
        KVD_LOG(kind::Error, L"pppIEnumWiaItem->GetCount = 0");
      } else {
        Held first(wia);
        std::uint32_t fetched = 0;
        wia.Next(items.get(), first.put(), &fetched);
        if (fetched == 0 || first.get() == 0) {
          KVD_LOG(kind::Error, L"pppIEnumWiaItem->Next fetched 0 items");
        } else {
          result = TransferWiaItem(host, first.get(), owner);
          if (hr::Succeeded(result)) return result;
        }
      }
    }
  }

  // With the scan dialog.
  KVD_LOG(kind::Error, L"Without UI failed trying with UI");
  std::vector<WiaObject> chosen;
  result = wia.DeviceDlg(root.get(), owner, 0, 0, &chosen);
  const auto releaseChosen = [&] {
    for (WiaObject item : chosen) wia.Release(item);
    chosen.clear();
  };
  if (!hr::Succeeded(result) || result == hr::False) {
    KVD_LOG(kind::Error, L"DeviceDlg failed");
    releaseChosen();
    return result;
  }
  const int type = GetDeviceType(wia, root.get());
  if (type != static_cast<int>(wia::StiDeviceTypeScanner)) {
    KVD_LOG(kind::Error, L"Selected Incorrect device, Diagnosing: %s Selected Device Type %d",
            device.strFriendlyName.c_str(), type);
    releaseChosen();
    return kNoScan;
  }
  bool transferred = false;
  for (WiaObject item : chosen) {
    if (hr::Succeeded(TransferWiaItem(host, item, owner))) {
      transferred = true;
      break;
    }
  }
  releaseChosen();
  return transferred ? kImage : kNoScan;
}

}  // namespace WiaWrap
