#pragma once

#include "platform/api/IComObjects.h"
#include "platform/api/ICrocan.h"
#include "platform/api/IDevices.h"
#include "platform/api/IFileSystem.h"
#include "platform/api/IGdi.h"
#include "platform/api/IModules.h"
#include "platform/api/IPing.h"
#include "platform/api/IRegistry.h"
#include "platform/api/IServices.h"
#include "platform/api/ISystem.h"
#include "platform/api/ISystemFacts.h"
#include "platform/api/ITwain.h"
#include "platform/api/IWia.h"
#include "platform/api/IWindowMessages.h"
#include "platform/api/IXml.h"

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
  IXmlFactory& xml;
  ISystemInfo& system;
  ISecurity& security;
  IShell& shell;
  IInstaller& installer;
  INetwork& network;
  IWindowMessages& messages;
  IIniFiles& ini;
  IDevices& devices;
  IModules& modules;
  ISockets& sockets;
  IIcmp& icmp;
  IGdi& gdi;
  IServices& services;
  IWia& wia;
  ICrocan& crocan;
  ITwain& twain;
  IComObjects& com;
};

// Some ports of a platform replaced by others (a recorder, a manual clock, the real files under a
// simulated registry): the ones left null are taken from the base.
struct PortOverrides {
  IRegistry* registry = nullptr;
  IFileSystem* files = nullptr;
  IEnvironment* environment = nullptr;
  IProcess* process = nullptr;
  IClock* clock = nullptr;
  IDebugOutput* debug = nullptr;
  IErrors* errors = nullptr;
  ISync* sync = nullptr;
  IXmlFactory* xml = nullptr;
  ISystemInfo* system = nullptr;
  ISecurity* security = nullptr;
  IShell* shell = nullptr;
  IInstaller* installer = nullptr;
  INetwork* network = nullptr;
  IWindowMessages* messages = nullptr;
  IIniFiles* ini = nullptr;
  IDevices* devices = nullptr;
  IModules* modules = nullptr;
  ISockets* sockets = nullptr;
  IIcmp* icmp = nullptr;
  IGdi* gdi = nullptr;
  IServices* services = nullptr;
  IWia* wia = nullptr;
  ICrocan* crocan = nullptr;
  ITwain* twain = nullptr;
  IComObjects* com = nullptr;
};

inline Platform Overridden(const Platform& base, const PortOverrides& with) {
  auto pick = [](auto* replacement, auto& original) -> auto& {
    return replacement != nullptr ? *replacement : original;
  };
  return Platform{pick(with.registry, base.registry),
                  pick(with.files, base.files),
                  pick(with.environment, base.environment),
                  pick(with.process, base.process),
                  pick(with.clock, base.clock),
                  pick(with.debug, base.debug),
                  pick(with.errors, base.errors),
                  pick(with.sync, base.sync),
                  pick(with.xml, base.xml),
                  pick(with.system, base.system),
                  pick(with.security, base.security),
                  pick(with.shell, base.shell),
                  pick(with.installer, base.installer),
                  pick(with.network, base.network),
                  pick(with.messages, base.messages),
                  pick(with.ini, base.ini),
                  pick(with.devices, base.devices),
                  pick(with.modules, base.modules),
                  pick(with.sockets, base.sockets),
                  pick(with.icmp, base.icmp),
                  pick(with.gdi, base.gdi),
                  pick(with.services, base.services),
                  pick(with.wia, base.wia),
                  pick(with.crocan, base.crocan),
                  pick(with.twain, base.twain),
                  pick(with.com, base.com)};
}

}  // namespace kvd::platform
