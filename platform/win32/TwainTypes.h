// The structures of the published TWAIN standard that the program and its test source exchange
// through DSM_Entry and DS_Entry, packed to 2 bytes as the standard wants them on Windows.
#pragma once

#include "platform/win32/Windows.h"

namespace kvd::platform::win32 {

#pragma pack(push, 2)
struct TW_VERSION {
  WORD MajorNum;
  WORD MinorNum;
  WORD Language;
  WORD Country;
  char Info[34];
};
struct TW_IDENTITY {
  DWORD Id;
  TW_VERSION Version;
  WORD ProtocolMajor;
  WORD ProtocolMinor;
  DWORD SupportedGroups;
  char Manufacturer[34];
  char ProductFamily[34];
  char ProductName[34];
};
struct TW_USERINTERFACE {
  WORD ShowUI;
  WORD ModalUI;
  HANDLE hParent;
};
struct TW_EVENT {
  void* pEvent;
  WORD TWMessage;
};
struct TW_STATUS {
  WORD ConditionCode;
  WORD Reserved;
};
struct TW_PENDINGXFERS {
  WORD Count;
  DWORD EOJ;
};
struct TW_FIX32 {
  SHORT Whole;
  WORD Frac;
};
struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  LONG ImageWidth;
  LONG ImageLength;
  SHORT SamplesPerPixel;
  SHORT BitsPerSample[8];
  SHORT BitsPerPixel;
  WORD Planar;
  SHORT PixelType;
  WORD Compression;
};
#pragma pack(pop)
static_assert(sizeof(TW_IDENTITY) == 156, "TW_IDENTITY as the standard lays it out");

}  // namespace kvd::platform::win32
