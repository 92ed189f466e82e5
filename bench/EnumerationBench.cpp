// Enumeration of a crowded machine: 100 device nodes (composite USB devices with their Image
// interfaces, other makers' USB devices, network nodes of which ten are Lumeqs that look their
// address up among the printers) and 200 printers, on the simulated machine.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "discovery/Scanners.h"
#include "platform/api/Text.h"
#include "platform/sim/SimMachine.h"

namespace {

using kvd::platform::kHkeyLocalMachine;
namespace regtype = kvd::platform::regtype;

const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kClass = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::wstring kImage = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
const std::wstring kUsb = L"{36fc9e60-c465-11cf-8056-444553540000}";

void PutNode(kvd::sim::SimMachine& sim, const std::wstring& id, const std::wstring& hardwareId,
             const std::wstring& guid, const std::wstring& className, const std::wstring& service,
             const std::wstring& description, const std::wstring& driver) {
  auto& registry = sim.Registry();
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"ClassGUID", guid);
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"Class", className);
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"Service", service);
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"DeviceDesc", description);
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"Driver", driver);
  registry.PutString(kHkeyLocalMachine, kEnum + id, L"Mfg", L"Quvari");
  auto ids = kvd::platform::ToUtf16Bytes(hardwareId, true);
  ids.push_back(0);
  ids.push_back(0);
  registry.PutValue(kHkeyLocalMachine, kEnum + id, L"HardwareID", regtype::MultiSz, ids);
}

void Crowd(kvd::sim::SimMachine& sim) {
  auto& registry = sim.Registry();
  int driver = 0;
  auto nextDriver = [&] {
    wchar_t text[8];
    std::swprintf(text, 8, L"\\%04d", driver++);
    return kImage + text;
  };
  for (int i = 0; i < 25; ++i) {
    const std::wstring pid = L"VID_2F8D&PID_" + std::to_wstring(1000 + i);
    const std::wstring prefix = L"6&" + std::to_wstring(7000 + i) + L"&0";
    const std::wstring parent = L"USB\\" + pid + L"\\5&" + std::to_wstring(i) + L"&0&1";
    PutNode(sim, parent, L"USB\\" + pid, kUsb, L"USB", L"usbccgp", L"USB Composite Device", L"");
    registry.PutString(kHkeyLocalMachine, kEnum + parent, L"ParentIdPrefix", prefix);
    const std::wstring key = nextDriver();
    PutNode(sim, L"USB\\" + pid + L"&MI_00\\" + prefix + L"&0000", L"USB\\" + pid + L"&MI_00",
            kImage, L"Image", L"usbscan", L"Quvari AIO " + std::to_wstring(i), key);
    registry.PutString(kHkeyLocalMachine, kClass + key, L"ProviderName", L"Quvari");
    registry.PutString(kHkeyLocalMachine, kClass + key, L"FriendlyName",
                       L"Quvari AIO " + std::to_wstring(i));
    registry.PutString(kHkeyLocalMachine, kClass + key + L"\\Devicedata", L"ModelString",
                       L"AIO " + std::to_wstring(i));
  }
  for (int i = 0; i < 25; ++i) {
    PutNode(sim, L"USB\\VID_1234&PID_" + std::to_wstring(i) + L"\\X" + std::to_wstring(i),
            L"USB\\VID_1234&PID_" + std::to_wstring(i), kUsb, L"USB", L"usbhub", L"Other Maker Hub",
            L"");
  }
  for (int i = 0; i < 25; ++i) {
    const bool lumeq = i < 10;
    const std::wstring key = nextDriver();
    PutNode(sim, L"ROOT\\IMAGE\\" + std::to_wstring(1000 + i), L"qv_net_" + std::to_wstring(i),
            kImage, L"Image", L"StillCam",
            (lumeq ? L"Quvari Lumeq LQ " : L"Quvari AIO ") + std::to_wstring(5000 + i), key);
    registry.PutString(kHkeyLocalMachine, kClass + key, L"FriendlyName",
                       L"Net " + std::to_wstring(i));
    if (lumeq) {
      registry.PutString(kHkeyLocalMachine, kClass + key, L"MatchingDeviceId",
                         L"qvlq_" + std::to_wstring(5000 + i) + L"_net");
    } else {
      registry.PutString(kHkeyLocalMachine, kClass + key + L"\\Devicedata", L"PortID",
                         L"ip=10.0.1." + std::to_wstring(i));
    }
  }
  // 200 printers; the Lumeqs' ones come last, so each lookup walks the whole list.
  const std::wstring printers = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
  for (int i = 0; i < 200; ++i) {
    const std::wstring name = L"Printer " + std::to_wstring(100 + i);
    const bool lumeq = i >= 190;
    registry.PutString(kHkeyLocalMachine, printers + name, L"Print Processor",
                       lumeq ? L"qvlq" + std::to_wstring(5000 + i - 190) + L"pp" : L"winprint");
    registry.PutString(kHkeyLocalMachine, printers + name, L"Port",
                       L"IP_10.0.2." + std::to_wstring(i % 250));
  }
}

void BM_EnumerateCrowdedMachine(benchmark::State& state) {
  kvd::sim::SimMachine sim;
  Crowd(sim);
  std::size_t found = 0;
  for (auto _ : state) {
    std::vector<_DeviceDetails> devices;
    CScanners(sim.Ports()).EnumerateScanners(devices);
    found = devices.size();
    benchmark::DoNotOptimize(devices.data());
  }
  if (found != 50) state.SkipWithError("the crowded machine lists 50 devices");
}
BENCHMARK(BM_EnumerateCrowdedMachine)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The baseline: only listing the same nodes with their properties, no registry look-ups.
void BM_ListNodesOnly(benchmark::State& state) {
  kvd::sim::SimMachine sim;
  Crowd(sim);
  for (auto _ : state) {
    std::vector<_DeviceDetails> list;
    CScanners scanners(sim.Ports());
    for (const wchar_t* enumerator : {L"USB", L"DOT4", L"DOT4USB", L"DOT4PRT", L"root"}) {
      scanners.ListDevices(enumerator, L"", list);
    }
    benchmark::DoNotOptimize(list.data());
  }
}
BENCHMARK(BM_ListNodesOnly)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
