#pragma once

#include "platform/api/IFileSystem.h"
#include "platform/api/IRegistry.h"
#include "platform/api/ISystem.h"

namespace kvd::platform {

// The ports one program run uses, handed down from the wiring (app/ or a test fixture), which is
// the only place that decides between the real machine and the simulated one.
struct Platform {
  IRegistry& registry;
  IFileSystem& files;
  IEnvironment& environment;
  IProcess& process;
  IClock& clock;
  IDebugOutput& debug;
  IErrors& errors;
  ISync& sync;
};

}  // namespace kvd::platform
