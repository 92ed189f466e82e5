#pragma once

// The owners of Win32 resources that the adapters, the dialogs, the wiring and the test tools
// hold: each is released on every path because its owner's destructor does it.

#include "platform/win32/Windows.h"

#include <oleauto.h>

#include <string>

#include "platform/api/UniqueHandle.h"

namespace kvd::platform::win32 {

// CloseHandle keeps the last error that the failing call before it left for the caller.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle handle) const noexcept {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ::SetLastError(error);
  }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// A GDI object (bitmap, font, brush): DeleteObject.
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle object) const noexcept { ::DeleteObject(object); }
};
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;

// A memory device context: DeleteDC.
struct MemoryDcTraits {
  using Handle = HDC;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle dc) const noexcept { ::DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// Global memory: GlobalFree.
struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle memory) const noexcept { ::GlobalFree(memory); }
};
using UniqueGlobal = UniqueHandle<GlobalMemoryTraits>;

// A loaded menu: DestroyMenu.
struct MenuTraits {
  using Handle = HMENU;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle menu) const noexcept { ::DestroyMenu(menu); }
};
using UniqueMenu = UniqueHandle<MenuTraits>;

// A library loaded by this code: FreeLibrary.
struct ModuleTraits {
  using Handle = HMODULE;
  static constexpr Handle Invalid() noexcept { return nullptr; }
  void Close(Handle module) const noexcept { ::FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

// An object selected into a device context for the owner's lifetime; the previous one is put
// back, as GDI wants before the context or the object goes.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A COM interface reference: Release.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { reset(); }
  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  T** put() {
    reset();
    return &pointer_;
  }
  void reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  T* pointer_ = nullptr;
};

// A BSTR: SysFreeString.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text = nullptr)
      : text_(text != nullptr ? ::SysAllocString(text) : nullptr) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(text_); }
  BSTR get() const { return text_; }
  BSTR* put() {
    ::SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  std::wstring str() const {
    return text_ != nullptr ? std::wstring(text_, ::SysStringLen(text_)) : std::wstring();
  }

 private:
  BSTR text_ = nullptr;
};

}  // namespace kvd::platform::win32
