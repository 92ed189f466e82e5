#pragma once

#include "platform/api/IWindowMessages.h"

// The progress window the Driver check shows while it scans. The engine is handed one by the
// user interface (the only ui/ header the engine sees: an interface, no window code).
class IProgressDialog {
 public:
  virtual ~IProgressDialog() = default;
  // Creates and shows the modeless dialog; its window handle.
  virtual kvd::platform::WindowHandle Show() = 0;
  // PBM_SETPOS on the dialog's progress control.
  virtual void SetPosition(int percent) = 0;
  // Destroys the window.
  virtual void Close() = 0;
};
