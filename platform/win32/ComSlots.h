// Calls into COM objects of components outside the program by their virtual slot, as COM calls a
// method (stdcall on x86): no header of theirs is needed, nor trusted.
#pragma once

#include "platform/win32/Windows.h"

#include <objbase.h>

#include <cstdint>

namespace kvd::platform::win32 {

// Slot `slot` of the object's first virtual table, called with the object and `args`.
template <class... Args>
HRESULT CallSlot(std::uintptr_t object, unsigned slot, Args... args) {
  if (object == 0) return E_POINTER;
  using Method = HRESULT(STDMETHODCALLTYPE*)(void*, Args...);
  void* self = reinterpret_cast<void*>(object);
  void* const* table = *static_cast<void* const* const*>(self);
  return reinterpret_cast<Method>(table[slot])(self, args...);
}

}  // namespace kvd::platform::win32
