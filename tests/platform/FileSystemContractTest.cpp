// The file-system port as the program relies on it, checked on every target: the simulated
// machine natively, the real files under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/PortHelpers.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kShareAll = file::ShareRead | file::ShareWrite | file::ShareDelete;
constexpr std::uint32_t kAnyError = 0xFFFFFFFFu;

class FileSystemContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override {
    machine_ = GetParam().make();
    folder_ = machine_->ScratchFolder();
  }

  IFileSystem& files() { return machine_->Ports().files; }
  IErrors& errors() { return machine_->Ports().errors; }
  std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }

  UniqueFile Open(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                  std::uint32_t disposition) {
    return MakeUniqueFile(files(), files().CreateFile(path.c_str(), access, share, disposition,
                                                      file::AttributeNormal));
  }

  bool Write(const UniqueFile& handle, const std::string& text) {
    std::uint32_t written = 0;
    return files().WriteFile(handle.get(), text.data(), static_cast<std::uint32_t>(text.size()),
                             &written) &&
           written == text.size();
  }

  void Put(const std::wstring& path, const std::string& text) {
    UniqueFile handle = Open(path, file::GenericWrite, 0, file::CreateAlways);
    ASSERT_TRUE(handle.valid()) << "error " << errors().GetLastError();
    ASSERT_TRUE(Write(handle, text));
  }

  std::string Content(const std::wstring& path) {
    const auto bytes = test::ReadWholeFile(files(), path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
  }

  std::unique_ptr<test::TestMachine> machine_;
  std::wstring folder_;
};

// Each disposition creates, opens, truncates or refuses as Windows documents it, with
// ERROR_ALREADY_EXISTS as the success note on OPEN_ALWAYS/CREATE_ALWAYS of an existing file.
TEST_P(FileSystemContract, CreateFileHonoursItsDisposition) {
  struct Case {
    const char* name;
    std::uint32_t disposition;
    bool exists;  // the file holds "abc" before
    bool missingFolder;
    bool opens;
    std::uint32_t error;  // last error afterwards; kAnyError when Windows leaves it open
    std::string after;    // the content afterwards, when the file is there
  };
  const Case cases[] = {
      {"CreateNewMissing", file::CreateNew, false, false, true, kAnyError, ""},
      {"CreateNewExisting", file::CreateNew, true, false, false, err::FileExists, "abc"},
      {"OpenExistingMissing", file::OpenExisting, false, false, false, err::FileNotFound, ""},
      {"OpenExistingKeeps", file::OpenExisting, true, false, true, kAnyError, "abc"},
      {"OpenAlwaysMissing", file::OpenAlways, false, false, true, err::Success, ""},
      {"OpenAlwaysExisting", file::OpenAlways, true, false, true, err::AlreadyExists, "abc"},
      {"CreateAlwaysMissing", file::CreateAlways, false, false, true, err::Success, ""},
      {"CreateAlwaysTruncates", file::CreateAlways, true, false, true, err::AlreadyExists, ""},
      {"TruncateExisting", file::TruncateExisting, true, false, true, kAnyError, ""},
      {"TruncateMissing", file::TruncateExisting, false, false, false, err::FileNotFound, ""},
      {"InMissingFolder", file::OpenAlways, false, true, false, err::PathNotFound, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path =
        In((c.missingFolder ? L"NoSuchFolder\\" : L"") + WidenUtf8(c.name) + L".txt");
    if (c.exists) Put(path, "abc");
    errors().SetLastError(err::InvalidParameter);
    {
      UniqueFile handle = Open(path, file::GenericRead | file::GenericWrite, 0, c.disposition);
      EXPECT_EQ(handle.valid(), c.opens);
      if (c.error != kAnyError) {
        EXPECT_EQ(errors().GetLastError(), c.error);
      }
    }
    const bool there = c.exists || c.opens;
    FileAttributeData data;
    EXPECT_EQ(files().GetFileAttributesEx(path.c_str(), &data), there);
    if (there) {
      EXPECT_EQ(Content(path), c.after);
    }
  }
}

// A second open must agree with the share mode of the first and the first with the second's
// access (both ways); the refused open answers ERROR_SHARING_VIOLATION until the first closes.
TEST_P(FileSystemContract, SecondOpenMustAgreeWithTheFirstsShareMode) {
  constexpr std::uint32_t R = file::GenericRead;
  constexpr std::uint32_t W = file::GenericWrite;
  constexpr std::uint32_t ShareR = file::ShareRead;
  constexpr std::uint32_t ShareRW = file::ShareRead | file::ShareWrite;
  struct Case {
    const char* name;
    std::uint32_t firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  };
  const Case cases[] = {
      {"ReadersSharingReads", R, ShareR, R, ShareR, true},
      {"WriterSharingReadsAdmitsReader", W, ShareR, R, ShareRW, true},
      {"WriterSharingReadsRefusesWriter", W, ShareR, W, ShareRW, false},
      {"ExclusiveRefusesReader", W, 0, R, ShareRW, false},
      {"SecondMustShareFirstsReading", R, ShareRW, W, file::ShareWrite, false},
      {"WritersSharingEverything", W, ShareRW, W, ShareRW, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = In(WidenUtf8(c.name) + L".log");
    Put(path, "x");
    UniqueFile first = Open(path, c.firstAccess, c.firstShare, file::OpenExisting);
    ASSERT_TRUE(first.valid());
    {
      UniqueFile second = Open(path, c.secondAccess, c.secondShare, file::OpenExisting);
      EXPECT_EQ(second.valid(), c.allowed);
      if (!c.allowed) {
        EXPECT_EQ(errors().GetLastError(), err::SharingViolation);
      }
    }
    first.reset();
    EXPECT_TRUE(Open(path, c.secondAccess, c.secondShare, file::OpenExisting).valid());
  }
}

// The trace log's way of appending: OPEN_ALWAYS, move to the end, write.
TEST_P(FileSystemContract, OpenAlwaysAndSetFilePointerEndAppend) {
  const std::wstring path = In(L"append.log");
  for (const char* line : {"abc", "def", "gh"}) {
    UniqueFile handle = Open(path, file::GenericWrite, file::ShareRead, file::OpenAlways);
    ASSERT_TRUE(handle.valid());
    const std::uint32_t size = static_cast<std::uint32_t>(Content(path).size());
    EXPECT_EQ(files().SetFilePointer(handle.get(), 0, file::End), size);
    ASSERT_TRUE(Write(handle, line));
  }
  EXPECT_EQ(Content(path), "abcdefgh");
  FileAttributeData data;
  ASSERT_TRUE(files().GetFileAttributesEx(path.c_str(), &data));
  EXPECT_EQ(data.fileSize, 8u);

  UniqueFile handle = Open(path, file::GenericRead, kShareAll, file::OpenExisting);
  ASSERT_TRUE(handle.valid());
  EXPECT_EQ(files().SetFilePointer(handle.get(), 3, file::Begin), 3u);
  EXPECT_EQ(files().SetFilePointer(handle.get(), -1, file::Current), 2u);
  char two[2] = {};
  std::uint32_t read = 0;
  ASSERT_TRUE(files().ReadFile(handle.get(), two, 2, &read));
  EXPECT_EQ(std::string(two, read), "cd");
  EXPECT_EQ(files().SetFilePointer(handle.get(), -10, file::Begin), file::InvalidSetFilePointer);
}

// Attributes tell a file (with its size and write time) from a folder, and a missing name from a
// missing folder on the way.
TEST_P(FileSystemContract, AttributesTellFilesFoldersAndWhatIsMissing) {
  Put(In(L"sized.bin"), "12345");
  ASSERT_TRUE(files().CreateDirectory(In(L"Sub").c_str()));
  struct Case {
    const char* name;
    std::wstring path;
    bool found;
    std::uint32_t error;
    bool folder;
    std::uint64_t size;
  };
  const Case cases[] = {
      {"File", In(L"sized.bin"), true, 0, false, 5},
      {"Folder", In(L"Sub"), true, 0, true, 0},
      {"MissingName", In(L"absent.bin"), false, err::FileNotFound, false, 0},
      {"MissingFolder", In(L"NoSuchFolder\\absent.bin"), false, err::PathNotFound, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileAttributeData data;
    ASSERT_EQ(files().GetFileAttributesEx(c.path.c_str(), &data), c.found);
    if (!c.found) {
      EXPECT_EQ(errors().GetLastError(), c.error);
      continue;
    }
    EXPECT_EQ((data.attributes & file::AttributeDirectory) != 0, c.folder);
    if (!c.folder) {
      EXPECT_EQ(data.fileSize, c.size);
      EXPECT_NE(data.lastWriteTime, 0u);
    }
  }
}

// A read-only file refuses deletion until FILE_ATTRIBUTE_NORMAL takes the bit away; a missing
// file's attributes cannot be set. (Opening it for writing is refused too on Windows; Wine, run
// as root here, keeps the bit as the file's mode, which root passes.)
TEST_P(FileSystemContract, ReadOnlyAttributeComesAndGoes) {
  const std::wstring path = In(L"profile.kle");
  Put(path, "kle");
  ASSERT_TRUE(files().SetFileAttributes(path.c_str(), file::AttributeReadOnly));
  FileAttributeData data;
  ASSERT_TRUE(files().GetFileAttributesEx(path.c_str(), &data));
  EXPECT_NE(data.attributes & file::AttributeReadOnly, 0u);
  EXPECT_FALSE(files().DeleteFile(path.c_str()));
  EXPECT_EQ(errors().GetLastError(), err::AccessDenied);

  ASSERT_TRUE(files().SetFileAttributes(path.c_str(), file::AttributeNormal));
  ASSERT_TRUE(files().GetFileAttributesEx(path.c_str(), &data));
  EXPECT_EQ(data.attributes & file::AttributeReadOnly, 0u);
  EXPECT_TRUE(files().DeleteFile(path.c_str()));
  Put(path, "kle");

  EXPECT_FALSE(files().SetFileAttributes(In(L"absent.kle").c_str(), file::AttributeNormal));
  EXPECT_EQ(errors().GetLastError(), err::FileNotFound);
}

// DeleteFile waits for handles that do not share deletion; CreateDirectory reports what is in
// its way.
TEST_P(FileSystemContract, DeleteAndCreateDirectoryReportWhatIsInTheWay) {
  const std::wstring path = In(L"busy.txt");
  Put(path, "busy");
  {
    UniqueFile handle =
        Open(path, file::GenericRead, file::ShareRead | file::ShareWrite, file::OpenExisting);
    ASSERT_TRUE(handle.valid());
    EXPECT_FALSE(files().DeleteFile(path.c_str()));
    EXPECT_EQ(errors().GetLastError(), err::SharingViolation);
  }
  EXPECT_TRUE(files().DeleteFile(path.c_str()));
  EXPECT_FALSE(files().DeleteFile(path.c_str()));
  EXPECT_EQ(errors().GetLastError(), err::FileNotFound);

  EXPECT_TRUE(files().CreateDirectory(In(L"Made").c_str()));
  EXPECT_FALSE(files().CreateDirectory(In(L"Made").c_str()));
  EXPECT_EQ(errors().GetLastError(), err::AlreadyExists);
  EXPECT_FALSE(files().CreateDirectory(In(L"NoSuchFolder\\Made").c_str()));
  EXPECT_EQ(errors().GetLastError(), err::PathNotFound);
}

std::wstring Hex(std::uint32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(number));
  return WidenUtf8(text);
}

// With unique 0 each call makes a new empty file "<folder>\<3 prefix chars><hex>.tmp"; with a
// number it only makes the name.
TEST_P(FileSystemContract, TempFileNamesAreUniqueAndCreated) {
  std::vector<std::wstring> names;
  std::vector<std::uint32_t> numbers;
  for (int i = 0; i < 2; ++i) {
    wchar_t name[260] = {};
    const std::uint32_t number = files().GetTempFileName(folder_.c_str(), L"kvdlog", 0, name);
    ASSERT_NE(number, 0u) << "error " << errors().GetLastError();
    EXPECT_TRUE(EqualsNoCase(name, In(L"kvd" + Hex(number) + L".tmp"))) << NarrowUtf8(name);
    FileAttributeData data;
    ASSERT_TRUE(files().GetFileAttributesEx(name, &data));
    EXPECT_EQ(data.fileSize, 0u);
    names.emplace_back(name);
    numbers.push_back(number);
  }
  EXPECT_NE(numbers[0], numbers[1]);
  EXPECT_NE(names[0], names[1]);

  wchar_t named[260] = {};
  EXPECT_EQ(files().GetTempFileName(folder_.c_str(), L"kvd", 0x1234, named), 0x1234u);
  EXPECT_TRUE(EqualsNoCase(named, In(L"kvd1234.tmp"))) << NarrowUtf8(named);
  FileAttributeData data;
  EXPECT_FALSE(files().GetFileAttributesEx(named, &data));
}

// GetLongPathName answers each component in the case it was created with; a buffer too small
// gets the size needed with the NUL.
TEST_P(FileSystemContract, LongPathNameGivesTheStoredCase) {
  ASSERT_TRUE(files().CreateDirectory(In(L"MixCase").c_str()));
  Put(In(L"MixCase\\Report.Txt"), "r");
  const std::wstring asked = In(L"mixcase\\REPORT.TXT");
  wchar_t answer[260] = {};
  const std::uint32_t chars =
      files().GetLongPathName(asked.c_str(), answer, static_cast<std::uint32_t>(std::size(answer)));
  ASSERT_NE(chars, 0u) << "error " << errors().GetLastError();
  const std::wstring text(answer, chars);
  EXPECT_TRUE(EqualsNoCase(text, asked));
  const std::wstring tail = L"\\MixCase\\Report.Txt";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

  wchar_t small[4] = {};
  EXPECT_EQ(files().GetLongPathName(asked.c_str(), small, 4), chars + 1);
  EXPECT_EQ(files().GetLongPathName(In(L"absent.txt").c_str(), answer, 260), 0u);
  EXPECT_EQ(errors().GetLastError(), err::FileNotFound);
}

TEST_P(FileSystemContract, LongPathNameGivesTheStoredCaseOfLongNamesToo) {
  if (!machine_->IsSimulated()) {
    GTEST_SKIP() << "Wine: GetLongPathNameW looks up only components that could be 8.3 names "
                    "and keeps the others as given; the simulated machine gives every component "
                    "its stored case (nothing here relies on either for long names)";
  }
  ASSERT_TRUE(files().CreateDirectory(In(L"Mixed Case Folder").c_str()));
  Put(In(L"Mixed Case Folder\\Quvari Scanner Report.Txt"), "r");
  wchar_t answer[260] = {};
  const std::uint32_t chars = files().GetLongPathName(
      In(L"MIXED case folder\\quvari scanner report.txt").c_str(), answer, 260);
  ASSERT_NE(chars, 0u) << "error " << errors().GetLastError();
  EXPECT_EQ(std::wstring(answer, chars), In(L"Mixed Case Folder\\Quvari Scanner Report.Txt"));
}

// SearchPath in given folders adds the extension to a name that has none; without folders it
// looks in the current folder first (reached here through a relative name, so that the real
// current directory stays as it is).
TEST_P(FileSystemContract, SearchPathFindsFilesInFoldersAndTheCurrentFolder) {
  Put(In(L"probe.txt"), "p");
  wchar_t answer[260] = {};
  const auto size = static_cast<std::uint32_t>(std::size(answer));
  std::uint32_t chars = files().SearchPath(folder_.c_str(), L"probe", L".txt", size, answer);
  ASSERT_NE(chars, 0u) << "error " << errors().GetLastError();
  EXPECT_TRUE(EqualsNoCase(std::wstring(answer, chars), In(L"probe.txt")));
  EXPECT_NE(files().SearchPath(folder_.c_str(), L"probe.txt", L".dll", size, answer), 0u);
  wchar_t small[4] = {};
  EXPECT_EQ(files().SearchPath(folder_.c_str(), L"probe", L".txt", 4, small), chars + 1);
  EXPECT_EQ(files().SearchPath(folder_.c_str(), L"absent", L".txt", size, answer), 0u);
  EXPECT_EQ(errors().GetLastError(), err::FileNotFound);

  const std::wstring relative = L"kvd-search-" + std::wstring(PathFindFileName(folder_)) + L".tmp";
  {
    UniqueFile handle = Open(relative, file::GenericWrite, 0, file::CreateNew);
    ASSERT_TRUE(handle.valid()) << "error " << errors().GetLastError();
  }
  chars = files().SearchPath(nullptr, relative.c_str(), nullptr, size, answer);
  const std::wstring found(answer, chars);
  EXPECT_TRUE(files().DeleteFile(relative.c_str()));
  ASSERT_NE(chars, 0u) << "error " << errors().GetLastError();
  ASSERT_GT(found.size(), relative.size() + 3);
  EXPECT_EQ(found.substr(1, 2), L":\\") << NarrowUtf8(found);
  EXPECT_TRUE(EqualsNoCase(found.substr(found.size() - relative.size() - 1), L"\\" + relative));
}

// The known folders the program uses exist on a Windows 7 machine.
TEST_P(FileSystemContract, KnownFoldersExist) {
  struct Case {
    const char* name;
    int csidl;
  };
  const Case cases[] = {
      {"CommonAppData", csidl::CommonAppData},
      {"LocalAppData", csidl::LocalAppData},
      {"AppData", csidl::AppData},
      {"Windows", csidl::Windows},
      {"System", csidl::System},
      {"ProgramFiles", csidl::ProgramFiles},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wchar_t path[260] = {};
    ASSERT_EQ(files().GetFolderPath(c.csidl, path), hr::Ok);
    const std::wstring text(path);
    ASSERT_GT(text.size(), 3u);
    EXPECT_EQ(text.substr(1, 2), L":\\") << NarrowUtf8(text);
    FileAttributeData data;
    ASSERT_TRUE(files().GetFileAttributesEx(path, &data)) << NarrowUtf8(text);
    EXPECT_NE(data.attributes & file::AttributeDirectory, 0u);
  }
}

// A listing gives every entry that fits the mask once, "." and ".." included, folders marked,
// then ERROR_NO_MORE_FILES; nothing fitting and no folder are told apart.
TEST_P(FileSystemContract, ListingsGiveEachFittingEntryOnce) {
  ASSERT_TRUE(files().CreateDirectory(In(L"Suite").c_str()));
  ASSERT_TRUE(files().CreateDirectory(In(L"Suite\\Lumeq LQ3100").c_str()));
  Put(In(L"Suite\\properties.ini"), "x");
  Put(In(L"Suite\\Uninstall.exe"), "MZ");

  const auto list = [&](const std::wstring& mask) {
    std::map<std::wstring, bool> names;  // name -> is a folder
    FindData entry;
    UniqueFind find =
        MakeUniqueFind(files(), files().FindFirstFile((In(L"Suite\\") + mask).c_str(), &entry));
    if (!find.valid()) return names;
    do {
      EXPECT_TRUE(
          names.emplace(entry.fileName, (entry.attributes & file::AttributeDirectory) != 0).second)
          << NarrowUtf8(entry.fileName) << " twice";
    } while (files().FindNextFile(find.get(), &entry));
    EXPECT_EQ(errors().GetLastError(), err::NoMoreFiles);
    return names;
  };
  const std::map<std::wstring, bool> all = {{L".", true},
                                            {L"..", true},
                                            {L"Lumeq LQ3100", true},
                                            {L"properties.ini", false},
                                            {L"Uninstall.exe", false}};
  EXPECT_EQ(list(L"*.*"), all);
  EXPECT_EQ(list(L"*.EXE"), (std::map<std::wstring, bool>{{L"Uninstall.exe", false}}));

  FindData entry;
  EXPECT_EQ(files().FindFirstFile(In(L"Suite\\*.dat").c_str(), &entry), kInvalidFile);
  EXPECT_EQ(errors().GetLastError(), err::FileNotFound);
  EXPECT_EQ(files().FindFirstFile(In(L"Missing\\*.*").c_str(), &entry), kInvalidFile);
  EXPECT_EQ(errors().GetLastError(), err::PathNotFound);
}

// CopyFile copies contents and the last-write time, replaces a file only when asked, and refuses
// a missing source or target folder.
TEST_P(FileSystemContract, CopyFileCopiesOrRefuses) {
  const std::wstring source = In(L"source.exe");
  const std::wstring target = In(L"target.exe");
  Put(source, "MZ monitor");
  FileAttributeData original;
  ASSERT_TRUE(files().GetFileAttributesEx(source.c_str(), &original));

  ASSERT_TRUE(files().CopyFile(source.c_str(), target.c_str(), true));
  EXPECT_EQ(Content(target), "MZ monitor");
  FileAttributeData copy;
  ASSERT_TRUE(files().GetFileAttributesEx(target.c_str(), &copy));
  EXPECT_EQ(copy.lastWriteTime, original.lastWriteTime);
  EXPECT_EQ(copy.fileSize, original.fileSize);
  EXPECT_EQ(Content(source), "MZ monitor");

  Put(target, "older");
  EXPECT_FALSE(files().CopyFile(source.c_str(), target.c_str(), true));
  EXPECT_EQ(errors().GetLastError(), err::FileExists);
  EXPECT_EQ(Content(target), "older");
  EXPECT_TRUE(files().CopyFile(source.c_str(), target.c_str(), false));
  EXPECT_EQ(Content(target), "MZ monitor");

  struct Case {
    const char* name;
    std::wstring from;
    std::wstring to;
    std::uint32_t error;
  };
  for (const Case& c : {Case{"missing source", In(L"none.exe"), In(L"x.exe"), err::FileNotFound},
                        Case{"missing folder", source, In(L"none\\x.exe"), err::PathNotFound}}) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(files().CopyFile(c.from.c_str(), c.to.c_str(), false));
    EXPECT_EQ(errors().GetLastError(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(All, FileSystemContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
