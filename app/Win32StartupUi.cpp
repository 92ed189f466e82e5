#include "app/Win32StartupUi.h"

#include "platform/win32/Windows.h"

// SDK headers that need <windows.h> before them. GDI+ needs objidl.h before it when the wrapper
// leaves out the rarely used headers (separate blocks keep that order).
#include <commctrl.h>
#include <objidl.h>

#include <gdiplus.h>

#include <cstring>
#include <string>

#include "logging/Trace.h"

KVD_TRACE_SOURCE();

namespace {
namespace kind = DUDiduzuz::kind;

// GDI+ for the duration of one decode.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession() {
    if (started_) Gdiplus::GdiplusShutdown(token_);
  }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};
}  // namespace

bool LoadPNGFromResource(std::uintptr_t module, int id, std::uintptr_t* bitmap) {
  KVD_SCOPE(L"CKavidApp::LoadPNGFromResource");
  GdiplusSession gdiplus;
  const auto instance = reinterpret_cast<HMODULE>(module);
  HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(id), L"PNG");
  if (resource == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to find the resource");
    return false;
  }
  HGLOBAL loaded = ::LoadResource(instance, resource);
  if (loaded == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to load the resource");
    return false;
  }
  const DWORD size = ::SizeofResource(instance, resource);
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
  const void* source = ::LockResource(loaded);
  void* target = block != nullptr ? ::GlobalLock(block) : nullptr;
  if (block == nullptr || source == nullptr || target == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to allocate memory");
    if (block != nullptr) ::GlobalFree(block);
    return false;
  }
  std::memcpy(target, source, size);
  ::GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(block, FALSE, &stream)) || stream == nullptr) {
    KVD_LOG(kind::Debug, L"Failed to create stream");
    ::GlobalFree(block);
    return false;
  }
  bool decoded = false;
  {
    Gdiplus::Bitmap picture(stream);
    HBITMAP handle = nullptr;
    if (picture.GetLastStatus() == Gdiplus::Ok &&
        picture.GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &handle) == Gdiplus::Ok &&
        handle != nullptr) {
      *bitmap = reinterpret_cast<std::uintptr_t>(handle);
      decoded = true;
    }
  }
  stream->Release();
  ::GlobalFree(block);
  if (!decoded) KVD_LOG(kind::Debug, L"Failed to get HBITMAP from Gdiplus::Bitmap");
  return decoded;
}

CWin32StartupUi::~CWin32StartupUi() {
  if (m_hBanner != 0) ::DeleteObject(reinterpret_cast<HGDIOBJ>(m_hBanner));
  if (m_hRichEdit != 0) ::FreeLibrary(reinterpret_cast<HMODULE>(m_hRichEdit));
}

void CWin32StartupUi::InitCommonControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;  // 8
  controls.dwICC = 0xFF;
  ::InitCommonControlsEx(&controls);
}

bool CWin32StartupUi::LoadBanner(int id) {
  std::uintptr_t bitmap = 0;
  if (!LoadPNGFromResource(reinterpret_cast<std::uintptr_t>(::GetModuleHandleW(nullptr)), id,
                           &bitmap)) {
    return false;
  }
  m_hBanner = bitmap;
  return true;
}

void CWin32StartupUi::InitRichEdit() {
  // From the system folder only: a library of that name planted beside the program or in the
  // current folder must not be loaded into an elevated process.
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring path = std::wstring(system) + L"\\Msftedit.dll";
  m_hRichEdit = reinterpret_cast<std::uintptr_t>(::LoadLibraryW(path.c_str()));
}
