// The registry port as the program relies on it, checked on every target: the simulated machine
// natively, the real registry under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

LStatus Code(std::uint32_t code) { return static_cast<LStatus>(code); }

class RegistryContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override {
    machine_ = GetParam().make();
    scratch_ = machine_->ScratchKey();
  }

  IRegistry& registry() { return machine_->Ports().registry; }

  UniqueHkey Open(const std::wstring& path, std::uint32_t access, HKey root = kHkeyCurrentUser) {
    UniqueHkey key = MakeUniqueHkey(registry());
    status_ = registry().OpenKeyEx(root, path.c_str(), access, key.put());
    return key;
  }

  UniqueHkey Create(const std::wstring& path, std::uint32_t access = sam::AllAccess,
                    HKey root = kHkeyCurrentUser) {
    UniqueHkey key = MakeUniqueHkey(registry());
    disposition_ = 0;
    status_ = registry().CreateKeyEx(root, path.c_str(), access, key.put(), &disposition_);
    return key;
  }

  // The sub-keys in enumeration order, with their last-write times.
  std::vector<std::pair<std::wstring, FileTime>> SubKeys(HKey key) {
    std::vector<std::pair<std::wstring, FileTime>> out;
    for (std::uint32_t index = 0;; ++index) {
      wchar_t name[256];
      auto chars = static_cast<std::uint32_t>(std::size(name));
      FileTime written = 0;
      const LStatus status = registry().EnumKeyEx(key, index, name, &chars, &written);
      if (status != 0) {
        EXPECT_EQ(status, Code(err::NoMoreItems));
        return out;
      }
      out.emplace_back(std::wstring(name, chars), written);
    }
  }

  std::unique_ptr<test::TestMachine> machine_;
  std::wstring scratch_;
  LStatus status_ = -1;
  std::uint32_t disposition_ = 0;
};

// What the program writes comes back byte for byte, read the way it reads: the size first, then
// the data; a buffer one byte short answers ERROR_MORE_DATA with the size. REG_SZ without its
// terminator and a 2-byte REG_DWORD are stored as given, not repaired.
TEST_P(RegistryContract, ValuesReadInTwoStepsComeBackAsStored) {
  struct Case {
    const char* name;
    const wchar_t* valueName;
    std::uint32_t type;
    Bytes bytes;
  };
  const Case cases[] = {
      {"SzWithNul", L"Text", regtype::Sz, ToUtf16Bytes(L"Quvari QS-20", true)},
      {"SzWithoutNul", L"Cut", regtype::Sz, ToUtf16Bytes(L"Kavid", false)},
      {"ExpandSz", L"Folder", regtype::ExpandSz, ToUtf16Bytes(L"%TEMP%\\kvd", true)},
      {"MultiSz", L"List", regtype::MultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {"DwordOfTwoBytes", L"Short", regtype::Dword, {0x34, 0x12}},
      {"Dword", L"Count", regtype::Dword, {0x78, 0x56, 0x34, 0x12}},
      {"EmptyBinary", L"Nothing", regtype::Binary, {}},
      {"DefaultValue", L"", regtype::Sz, ToUtf16Bytes(L"default", true)},
  };
  UniqueHkey key = Open(scratch_, sam::Read | sam::Write);
  ASSERT_EQ(status_, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto size = static_cast<std::uint32_t>(c.bytes.size());
    // RegSetValueExW counts a NUL that follows unterminated text in the caller's memory; a
    // character after the data keeps the stored size the one given.
    Bytes given = c.bytes;
    given.insert(given.end(), {'X', 0});
    ASSERT_EQ(registry().SetValueEx(key.get(), c.valueName, c.type,
                                    size == 0 ? nullptr : given.data(), size),
              0);

    std::uint32_t type = 0xDEAD;
    std::uint32_t needed = 0xDEAD;
    ASSERT_EQ(registry().QueryValueEx(key.get(), c.valueName, &type, nullptr, &needed), 0);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(needed, size);

    if (size > 0) {
      Bytes shortBuffer(size);
      std::uint32_t shortBytes = size - 1;
      EXPECT_EQ(
          registry().QueryValueEx(key.get(), c.valueName, nullptr, shortBuffer.data(), &shortBytes),
          Code(err::MoreData));
      EXPECT_EQ(shortBytes, size);
    }

    Bytes data(size + 6, 0xCC);
    std::uint32_t dataBytes = static_cast<std::uint32_t>(data.size());
    type = 0xDEAD;
    ASSERT_EQ(registry().QueryValueEx(key.get(), c.valueName, &type, data.data(), &dataBytes), 0);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(dataBytes, size);
    data.resize(dataBytes);
    EXPECT_EQ(data, c.bytes);
  }
}

// A missing key, a missing value, a handle without the right and a closed handle are four
// different answers, and the program acts differently on each.
TEST_P(RegistryContract, MissingKeyMissingValueAndRefusedAccessAreDifferentAnswers) {
  Open(scratch_ + L"\\NoSuchKey", sam::Read);
  EXPECT_EQ(status_, Code(err::FileNotFound));

  UniqueHkey readOnly = Open(scratch_, sam::Read);
  ASSERT_EQ(status_, 0);
  std::uint32_t bytes = 0;
  EXPECT_EQ(registry().QueryValueEx(readOnly.get(), L"NoSuchValue", nullptr, nullptr, &bytes),
            Code(err::FileNotFound));
  const Bytes data = ToUtf16Bytes(L"x", true);
  EXPECT_EQ(registry().SetValueEx(readOnly.get(), L"Refused", regtype::Sz, data.data(),
                                  static_cast<std::uint32_t>(data.size())),
            Code(err::AccessDenied));

  UniqueHkey writeOnly = Open(scratch_, sam::Write);
  ASSERT_EQ(status_, 0);
  EXPECT_EQ(registry().DeleteValue(writeOnly.get(), L"NoSuchValue"), Code(err::FileNotFound));
  ASSERT_EQ(registry().SetValueEx(writeOnly.get(), L"Written", regtype::Sz, data.data(),
                                  static_cast<std::uint32_t>(data.size())),
            0);
  EXPECT_EQ(registry().QueryValueEx(writeOnly.get(), L"Written", nullptr, nullptr, &bytes),
            Code(err::AccessDenied));
  // The refused write left nothing behind; the allowed one is there.
  EXPECT_EQ(registry().QueryValueEx(readOnly.get(), L"Refused", nullptr, nullptr, &bytes),
            Code(err::FileNotFound));
  EXPECT_EQ(registry().QueryValueEx(readOnly.get(), L"Written", nullptr, nullptr, &bytes), 0);
  EXPECT_EQ(registry().DeleteValue(writeOnly.get(), L"Written"), 0);
  EXPECT_EQ(registry().QueryValueEx(readOnly.get(), L"Written", nullptr, nullptr, &bytes),
            Code(err::FileNotFound));

  const HKey closed = readOnly.release();
  ASSERT_EQ(registry().CloseKey(closed), 0);
  EXPECT_EQ(registry().QueryValueEx(closed, L"Written", nullptr, nullptr, &bytes),
            Code(err::InvalidHandle));
}

// CreateKeyEx makes the missing keys on the way and tells a new key from an existing one, whose
// name matches in any case.
TEST_P(RegistryContract, CreateKeyExTellsCreatedFromOpened) {
  Create(scratch_ + L"\\Device\\Settings");
  ASSERT_EQ(status_, 0);
  EXPECT_EQ(disposition_, kCreatedNewKey);
  Open(scratch_ + L"\\Device", sam::Read);
  EXPECT_EQ(status_, 0);

  Create(scratch_ + L"\\Device\\Settings");
  ASSERT_EQ(status_, 0);
  EXPECT_EQ(disposition_, kOpenedExistingKey);
  Create(scratch_ + L"\\DEVICE\\settings");
  ASSERT_EQ(status_, 0);
  EXPECT_EQ(disposition_, kOpenedExistingKey);

  // A sub-key relative to an open key.
  UniqueHkey parent = Open(scratch_ + L"\\Device", sam::Read | sam::CreateSubKey);
  ASSERT_EQ(status_, 0);
  UniqueHkey child = MakeUniqueHkey(registry());
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry().CreateKeyEx(parent.get(), L"Cache", sam::Write, child.put(), &disposition),
            0);
  EXPECT_EQ(disposition, kCreatedNewKey);
}

// Sub-keys enumerate in name order regardless of case, with the case they were created with; a
// name buffer without room for the NUL answers ERROR_MORE_DATA.
TEST_P(RegistryContract, SubKeysEnumerateByNameIgnoringCase) {
  for (const wchar_t* name : {L"charlie", L"Alpha", L"bravo"}) {
    Create(scratch_ + L"\\" + name, sam::Write);
    ASSERT_EQ(status_, 0);
  }
  UniqueHkey key = Open(scratch_, sam::Read);
  ASSERT_EQ(status_, 0);
  std::vector<std::wstring> names;
  for (const auto& [name, written] : SubKeys(key.get())) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"bravo", L"charlie"}));

  wchar_t name[16];
  std::uint32_t chars = 7;  // "charlie" without room for its NUL
  EXPECT_EQ(registry().EnumKeyEx(key.get(), 2, name, &chars, nullptr), Code(err::MoreData));
  chars = 8;
  ASSERT_EQ(registry().EnumKeyEx(key.get(), 2, name, &chars, nullptr), 0);
  EXPECT_EQ(chars, 7u);
  EXPECT_EQ(std::wstring(name), L"charlie");
  chars = static_cast<std::uint32_t>(std::size(name));
  EXPECT_EQ(registry().EnumKeyEx(key.get(), 3, name, &chars, nullptr), Code(err::NoMoreItems));
}

// Every value of a key is named once by its index, as it was written; the end and a buffer
// without room for the NUL answer as RegEnumValueW does. (Windows enumerates in no promised
// order: the names are compared as a set.)
TEST_P(RegistryContract, ValuesEnumerateByIndex) {
  UniqueHkey key = Create(scratch_ + L"\\Values", sam::Write | sam::Read);
  ASSERT_EQ(status_, 0);
  const std::uint8_t data[4] = {1, 0, 0, 0};
  for (const wchar_t* name : {L"{B2}", L"Alpha", L"{C3-product}"})
    ASSERT_EQ(registry().SetValueEx(key.get(), name, regtype::Dword, data, 4), 0);
  std::vector<std::wstring> names;
  wchar_t name[32];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t chars = static_cast<std::uint32_t>(std::size(name));
    const LStatus status = registry().EnumValue(key.get(), index, name, &chars);
    if (status == Code(err::NoMoreItems)) break;
    ASSERT_EQ(status, 0);
    EXPECT_EQ(chars, std::wcslen(name));
    names.push_back(name);
    ASSERT_LT(index, 10u);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"{B2}", L"{C3-product}"}));
  std::uint32_t chars = 2;  // no name of these fits
  EXPECT_EQ(registry().EnumValue(key.get(), 0, name, &chars), Code(err::MoreData));
}

// A key's last-write time moves forward when a value of it is set or deleted, and the parent's
// enumeration shows it. The clock port's Sleep lets real time pass on Windows and moves the
// simulated clock.
TEST_P(RegistryContract, LastWriteTimeMovesForwardWhenTheKeyChanges) {
  UniqueHkey probe = Create(scratch_ + L"\\Probe");
  ASSERT_EQ(status_, 0);
  UniqueHkey parent = Open(scratch_, sam::Read);
  ASSERT_EQ(status_, 0);
  auto written = [&] {
    const auto keys = SubKeys(parent.get());
    return keys.size() == 1 ? keys.front().second : FileTime{0};
  };
  const FileTime created = written();
  EXPECT_NE(created, 0u);

  machine_->Ports().clock.Sleep(30);
  const Bytes data{1, 0, 0, 0};
  ASSERT_EQ(registry().SetValueEx(probe.get(), L"Changed", regtype::Dword, data.data(), 4), 0);
  const FileTime changed = written();
  EXPECT_GT(changed, created);

  machine_->Ports().clock.Sleep(30);
  ASSERT_EQ(registry().DeleteValue(probe.get(), L"Changed"), 0);
  EXPECT_GT(written(), changed);
}

// DeleteKeyEx removes a leaf only: a key with sub-keys answers ERROR_ACCESS_DENIED and stays.
TEST_P(RegistryContract, DeleteKeyExRemovesLeavesOnly) {
  Create(scratch_ + L"\\Parent\\Child");
  ASSERT_EQ(status_, 0);
  const std::wstring parent = scratch_ + L"\\Parent";
  EXPECT_EQ(registry().DeleteKeyEx(kHkeyCurrentUser, parent.c_str(), 0), Code(err::AccessDenied));
  Open(parent + L"\\Child", sam::Read);
  EXPECT_EQ(status_, 0);

  EXPECT_EQ(registry().DeleteKeyEx(kHkeyCurrentUser, (parent + L"\\Child").c_str(), 0), 0);
  EXPECT_EQ(registry().DeleteKeyEx(kHkeyCurrentUser, parent.c_str(), 0), 0);
  Open(parent, sam::Read);
  EXPECT_EQ(status_, Code(err::FileNotFound));
  EXPECT_EQ(registry().DeleteKeyEx(kHkeyCurrentUser, parent.c_str(), 0), Code(err::FileNotFound));
}

// DeleteTree takes the key with its sub-keys and values; its siblings stay.
TEST_P(RegistryContract, DeleteTreeTakesTheWholeKey) {
  {
    UniqueHkey child = Create(scratch_ + L"\\Class\\0003\\Devicedata");
    ASSERT_EQ(status_, 0);
    const Bytes text = ToUtf16Bytes(L"AIO", true);
    ASSERT_EQ(registry().SetValueEx(child.get(), L"ModelString", regtype::Sz, text.data(),
                                    static_cast<std::uint32_t>(text.size())),
              0);
  }
  Create(scratch_ + L"\\Class\\0004");
  const std::wstring entry = scratch_ + L"\\Class\\0003";
  EXPECT_EQ(registry().DeleteTree(kHkeyCurrentUser, entry.c_str()), 0);
  Open(entry, sam::Read);
  EXPECT_EQ(status_, Code(err::FileNotFound));
  Open(scratch_ + L"\\Class\\0004", sam::Read);
  EXPECT_EQ(status_, 0);
  EXPECT_EQ(registry().DeleteTree(kHkeyCurrentUser, entry.c_str()), Code(err::FileNotFound));
}

// The program is 32-bit: what it writes under HKLM\Software, in its own view (no view bit, or
// KEY_WOW64_32KEY), the 64-bit view finds under Software\Wow6432Node and not under Software.
// HKCU\Software is one key for both views.
TEST_P(RegistryContract, HklmSoftwareIsThe32BitView) {
  const std::wstring leaf = std::wstring(PathFindFileName(scratch_)) + L"-view";
  const std::wstring path = L"Software\\KvdTest\\" + leaf;
  const std::wstring wowPath = L"Software\\Wow6432Node\\KvdTest\\" + leaf;
  struct Cleanup {
    IRegistry& registry;
    std::wstring path;
    ~Cleanup() {
      registry.DeleteKeyEx(kHkeyLocalMachine, path.c_str(), sam::Wow64_32Key);
      // Only goes when no other run has a key under it.
      registry.DeleteKeyEx(kHkeyLocalMachine, L"Software\\KvdTest", sam::Wow64_32Key);
    }
  } cleanup{registry(), path};

  Create(path, sam::Write | sam::Wow64_32Key, kHkeyLocalMachine);
  ASSERT_EQ(status_, 0);
  struct Case {
    const char* name;
    const std::wstring& path;
    std::uint32_t view;
    LStatus expected;
  };
  const Case cases[] = {
      {"OwnViewWithoutViewBits", path, 0, 0},
      {"OwnViewNamed", path, sam::Wow64_32Key, 0},
      {"WideViewUnderWow6432Node", wowPath, sam::Wow64_64Key, 0},
      {"WideViewNotUnderSoftware", path, sam::Wow64_64Key, Code(err::FileNotFound)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.path, sam::Read | c.view, kHkeyLocalMachine);
    EXPECT_EQ(status_, c.expected);
  }

  ASSERT_EQ(registry().DeleteKeyEx(kHkeyLocalMachine, path.c_str(), sam::Wow64_32Key), 0);
  Open(wowPath, sam::Read | sam::Wow64_64Key, kHkeyLocalMachine);
  EXPECT_EQ(status_, Code(err::FileNotFound));

  Create(scratch_ + L"\\View", sam::Write | sam::Wow64_32Key);
  ASSERT_EQ(status_, 0);
  Open(scratch_ + L"\\View", sam::Read | sam::Wow64_64Key);
  EXPECT_EQ(status_, 0);
}

INSTANTIATE_TEST_SUITE_P(All, RegistryContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
