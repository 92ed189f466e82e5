// ui/: the pages and dialogs (portable models of each page, the dialog framework they run on,
// and its Win32 and simulated toolkits).
#pragma once

#include <cstdint>

// What start-up prepares for the windows that follow: Windows-only work that the portable
// application object asks for through this interface (the program's wiring supplies the Win32
// one; tests supply their own).
class IStartupUi {
 public:
  virtual ~IStartupUi() = default;
  // InitCommonControlsEx with all classic classes (size 8, mask 0xFF).
  virtual void InitCommonControls() = 0;
  // Decodes PNG resource `id` into a bitmap kept for the pages; false when it cannot be.
  virtual bool LoadBanner(int id) = 0;
  // Loads the rich-edit control library that the diagnosis page uses.
  virtual void InitRichEdit() = 0;
};
