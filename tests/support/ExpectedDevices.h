#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/DeviceDetails.h"
#include "platform/api/Text.h"

namespace kvd::test {

// What enumeration must find for a device, field by field.
struct ExpectedDevice {
  std::wstring friendlyName;
  std::wstring instanceId;
  std::wstring parentId;
  std::wstring port;
  std::wstring address;
  std::wstring model;
  std::wstring provider;
  bool network, tarvel, ostrel, lumeq;
};

inline void ExpectDevice(const _DeviceDetails& device, const ExpectedDevice& expected) {
  SCOPED_TRACE(platform::NarrowUtf8(expected.friendlyName));
  EXPECT_EQ(device.strFriendlyName, expected.friendlyName);
  EXPECT_EQ(device.strInstanceId, expected.instanceId);
  EXPECT_EQ(device.strParentId, expected.parentId);
  EXPECT_EQ(device.strPort, expected.port);
  EXPECT_EQ(device.strIpAddress, expected.address);
  EXPECT_EQ(device.strModel, expected.model);
  EXPECT_EQ(device.strProvider, expected.provider);
  EXPECT_EQ(device.bNetwork, expected.network);
  EXPECT_EQ(device.bTarvel, expected.tarvel);
  EXPECT_EQ(device.bOstrel, expected.ostrel);
  EXPECT_EQ(device.bLumeq, expected.lumeq);
}

// The scenarios of one device family each, and what they list, in discovery order (USB nodes
// first, then the network's), with the connection texts of the string table in use.
inline const char* const kFamilyScenarios[] = {"usb-aio-composite.xml", "usb-tarvel.xml",
                                               "usb-lumeq.xml",         "network-lumeq.xml",
                                               "network-ostrel.xml",    "network-aio.xml"};

inline std::vector<ExpectedDevice> FamilyScenarioDevices(const std::wstring& usb,
                                                         const std::wstring& network) {
  return {
      {L"Quvari AIO 3400 Series", L"USB\\VID_2F8D&PID_0105&MI_00\\6&1D2E3F4A&0&0000",
       L"5&2C1A3B&0&3", usb, L"", L"AIO 3400", L"Quvari", false, false, false, false},
      {L"Quvari Tarvel T200", L"USB\\VID_2F8D&PID_0200\\T200A0001",
       L"USB\\VID_2F8D&PID_0200\\T200A0001", usb, L"", L"T200", L"Quvari", false, true, false,
       false},
      // Reached over the network but through its USB node: the network text, not a network
      // device.
      {L"Quvari Tarvel T200 (network)", L"USB\\VID_2F8D&PID_0201\\T200B0002_N",
       L"USB\\VID_2F8D&PID_0201\\T200B0002_N", network, L"", L"T200", L"Quvari", false, true, false,
       false},
      // The first Lumeq interface ends its parent's search: the card reader behind it is not
      // listed.
      {L"Quvari Lumeq LQ 3100", L"USB\\VID_2F8D&PID_0310&MI_00\\6&3B4C5D&0&0000",
       L"USB\\VID_2F8D&PID_0310&MI_00\\6&3B4C5D&0&0000", usb, L"", L"Quvari LQ 3100 Scanner",
       L"Quvari", false, false, false, true},
      // The fax printer of the model is skipped; the address is the other printer's port.
      {L"Quvari Lumeq LQ 5100", L"ROOT\\IMAGE\\0000", L"", L"127.0.0.2", L"127.0.0.2",
       L"Quvari Lumeq LQ 5100 (network)", L"quvari", true, false, false, true},
      // Ostrel: the NetworkDevices file's address replaces the driver's PortID.
      {L"Quvari QX-800", L"ROOT\\IMAGE\\0001", L"", L"127.0.0.3", L"127.0.0.3",
       L"Quvari QX-800 Series", L"qv", true, false, true, false},
      {L"Quvari AIO 4500 Series", L"ROOT\\IMAGE\\0002", L"", L"ip=127.0.0.4,port=9100",
       L"ip=127.0.0.4,port=9100", L"AIO 4500", L"quvari imaging", true, false, false, false},
  };
}

}  // namespace kvd::test
