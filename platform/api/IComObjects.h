#pragma once

#include <cstdint>
#include <string>

#include "platform/api/IDevices.h"
#include "platform/api/Types.h"

namespace kvd::platform {

// A COM interface reference of a component outside the program, as a plain number; 0 is none.
// Each one handed out is given back with Release.
using ComObject = std::uintptr_t;

namespace clsctx {
inline constexpr std::uint32_t InprocServer = 0x1;
inline constexpr std::uint32_t LocalServer = 0x4;
inline constexpr std::uint32_t RemoteServer = 0x10;
inline constexpr std::uint32_t Server = InprocServer | LocalServer | RemoteServer;  // 0x15
}  // namespace clsctx

// Components known only by their class and interface IDs, whose methods are called by virtual
// slot (0 to 2 are IUnknown's): the shapes of call the program makes. Each call answers the
// method's HRESULT; an output is set only when the call succeeded.
class IComObjects {
 public:
  virtual ~IComObjects() = default;

  // CoInitialize(nullptr) / CoUninitialize on the calling thread.
  virtual HResult CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance(classId, nullptr, context, interfaceId).
  virtual HResult CreateInstance(const Guid& classId, std::uint32_t context,
                                 const Guid& interfaceId, ComObject* object) = 0;
  virtual HResult QueryInterface(ComObject object, const Guid& interfaceId, ComObject* other) = 0;
  virtual void Release(ComObject object) = 0;

  // Method(IUnknown** out): an interface the method hands out.
  virtual HResult CallForObject(ComObject object, unsigned slot, ComObject* out) = 0;
  // Method(long* out).
  virtual HResult CallForNumber(ComObject object, unsigned slot, std::int32_t* out) = 0;
  // Method(long index, IUnknown** out).
  virtual HResult CallForItem(ComObject object, unsigned slot, std::int32_t index,
                              ComObject* out) = 0;
  // Method(BSTR* out): the text, the string freed.
  virtual HResult CallForText(ComObject object, unsigned slot, std::wstring* out) = 0;
};

}  // namespace kvd::platform
