// What the entry point of each of our programs wires first: the real machine's ports and the
// trace library over them. Both exist before the program's objects and outlive them, as static
// objects of a module would.
#pragma once

#include "logging/DUDiduzuz.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {

inline Win32Platform& ProgramMachine() {
  static Win32Platform machine;
  return machine;
}

inline DUDiduzuz::CLogModule& ProgramLogger() {
  static DUDiduzuz::SettingsStore store(ProgramMachine().Ports().sync);
  static DUDiduzuz::CLogModule logger(ProgramMachine().Ports(), store);
  return logger;
}

}  // namespace kvd::platform::win32
