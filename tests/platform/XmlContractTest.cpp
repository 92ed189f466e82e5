// The XML port as the string table relies on it, on every target: pugixml over the simulated
// machine's files natively, MSXML 3 under Wine. Both must give the same elements for a file.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Attributes = std::vector<std::pair<std::wstring, std::wstring>>;

Bytes Utf8(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Utf16WithBom(const std::wstring& text) {
  Bytes bytes{0xFF, 0xFE};
  AppendUtf16Bytes(text, bytes);
  return bytes;
}

class XmlContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override { machine_ = GetParam().make(); }

  std::wstring Put(const std::wstring& name, const Bytes& bytes) {
    const std::wstring path = machine_->ScratchFolder() + L"\\" + name;
    auto& files = machine_->Ports().files;
    auto handle =
        MakeUniqueFile(files, files.CreateFile(path.c_str(), file::GenericWrite, 0,
                                               file::CreateAlways, file::AttributeNormal));
    EXPECT_TRUE(handle.valid());
    std::uint32_t written = 0;
    EXPECT_TRUE(files.WriteFile(handle.get(), bytes.data(),
                                static_cast<std::uint32_t>(bytes.size()), &written));
    return path;
  }

  // Loads a file; on success answers the attributes of every "String" element.
  bool Load(const std::wstring& path, std::vector<Attributes>* strings = nullptr) {
    std::unique_ptr<IXmlDocument> document;
    EXPECT_TRUE(hr::Succeeded(machine_->Ports().xml.CreateDocument(&document)));
    if (!document) return false;
    bool loaded = true;
    document->Load(path.c_str(), &loaded);
    if (!loaded) return false;
    std::vector<XmlElement> elements;
    EXPECT_EQ(document->GetElementsByTagName(L"String", &elements), hr::Ok);
    if (strings != nullptr) {
      strings->clear();
      for (const auto& element : elements) strings->push_back(element.attributes);
    }
    return true;
  }

  std::unique_ptr<test::TestMachine> machine_;
};

const std::string kDocument =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<Strings>\r\n"
    "  <String ID=\"TITLE\" Value=\"Scan &amp; fix &lt;now&gt; &quot;q&quot; &apos;a&apos;\"/>\r\n"
    "  <Group><String ID=\"NESTED\" Value=\"ref &#x4E2D;&#25991; caf\xC3\xA9\"/></Group>\r\n"
    "  <String/>\r\n"
    "  <String ID=\"NO_VALUE\"/>\r\n"
    "  <string ID=\"LOWER\" Value=\"x\"/>\r\n"
    "  <String Value=\"v\" ID=\"ORDER\"/>\r\n"
    "</Strings>\r\n";

const std::vector<Attributes> kExpected = {
    {{L"ID", L"TITLE"}, {L"Value", L"Scan & fix <now> \"q\" 'a'"}},
    {{L"ID", L"NESTED"}, {L"Value", L"ref \u4E2D\u6587 caf\u00E9"}},
    {},
    {{L"ID", L"NO_VALUE"}},
    {{L"Value", L"v"}, {L"ID", L"ORDER"}},
};

TEST_P(XmlContract, EncodingsGiveTheSameElements) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::wstring wide = WidenUtf8(kDocument);
  wide.replace(wide.find(L"utf-8"), 5, L"utf-16");
  const Case cases[] = {
      {"UTF-8 without byte-order mark", Utf8(kDocument)},
      {"UTF-8 with byte-order mark",
       [] {
         Bytes b{0xEF, 0xBB, 0xBF};
         const Bytes rest = Utf8(kDocument);
         b.insert(b.end(), rest.begin(), rest.end());
         return b;
       }()},
      {"UTF-16LE with byte-order mark", Utf16WithBom(wide)},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Attributes> strings;
    ASSERT_TRUE(Load(Put(L"enc" + std::to_wstring(++n) + L".xml", c.bytes), &strings));
    EXPECT_EQ(strings, kExpected);
  }
}

TEST_P(XmlContract, Latin1AsDeclared) {
  std::vector<Attributes> strings;
  ASSERT_TRUE(Load(Put(L"latin1.xml", Utf8("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                           "<S><String ID=\"K\" Value=\"caf\xE9\"/></S>")),
                   &strings));
  EXPECT_EQ(strings, (std::vector<Attributes>{{{L"ID", L"K"}, {L"Value", L"caf\u00E9"}}}));
}

TEST_P(XmlContract, FilesThatDoNotLoad) {
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"truncated", kDocument.substr(0, kDocument.size() / 2)},
      {"mismatched tags", "<Strings><String ID=\"A\" Value=\"a\"></Strings>"},
      {"unclosed attribute", "<Strings><String ID=\"A Value=\"a\"/></Strings>"},
      {"no root element", "<?xml version=\"1.0\"?>"},
      {"binary", std::string("\x01\x02\x03\xFF\xFE\x00\x7F", 7)},
      {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-kvd-unknown\"?><S/>"},
      {"document type", "<?xml version=\"1.0\"?><!DOCTYPE S [<!ELEMENT S ANY>]><S/>"},
      {"entity expansion",
       "<?xml version=\"1.0\"?><!DOCTYPE S [<!ENTITY a \"aaaaaaaaaa\">"
       "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
       "\"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
       "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e "
       "\"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
       "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g "
       "\"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
       "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]><S><String ID=\"X\" Value=\"&h;\"/></S>"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Load(Put(L"bad" + std::to_wstring(++n) + L".xml", Utf8(c.text))));
  }
  EXPECT_FALSE(Load(machine_->ScratchFolder() + L"\\missing.xml"));
}

TEST_P(XmlContract, ALargeFile) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?><Strings>";
  const std::string filler(80, 'x');
  int count = 0;
  while (text.size() < 10u * 1024u * 1024u) {
    text += "<String ID=\"K" + std::to_string(count++) + "\" Value=\"" + filler + "\"/>";
  }
  text += "</Strings>";
  std::vector<Attributes> strings;
  ASSERT_TRUE(Load(Put(L"large.xml", Utf8(text)), &strings));
  ASSERT_EQ(strings.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(strings.back()[0].second, L"K" + std::to_wstring(count - 1));
}

// The first node a path selects gives its text, trimmed, with entities resolved and the text
// of its children joined; a path that selects nothing is S_FALSE, one that is no path an error.
TEST_P(XmlContract, SelectedNodeText) {
  const std::wstring path =
      Put(L"config.xml",
          Utf8("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
               "<InstallerConfigXML><cfgProductInfo><Models>\r\n"
               "  <Model><UsbID>\r\n    VID_2F8D&amp;PID_0310 </UsbID></Model>\r\n"
               "  <Model><UsbID>VID_2F8D&amp;PID_0311</UsbID><Empty/><Mixed>a<b>b</b><![CDATA[c]]>"
               "</Mixed></Model>\r\n"
               "</Models></cfgProductInfo></InstallerConfigXML>\r\n"));
  std::unique_ptr<IXmlDocument> document;
  ASSERT_EQ(machine_->Ports().xml.CreateDocument(&document), hr::Ok);
  bool loaded = false;
  document->Load(path.c_str(), &loaded);
  ASSERT_TRUE(loaded);
  struct Case {
    const wchar_t* path;
    HResult result;
    const wchar_t* text;
  };
  const Case cases[] = {
      {L"/InstallerConfigXML/cfgProductInfo/Models/Model/UsbID", hr::Ok, L"VID_2F8D&PID_0310"},
      {L"/InstallerConfigXML/cfgProductInfo/Models/Model/Empty", hr::Ok, L""},
      {L"//Mixed", hr::Ok, L"abc"},
      {L"/InstallerConfigXML/cfgProductInfo/Models/Model/usbid", 1, L""},  // names keep case
      {L"/Nothing", 1, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowUtf8(c.path));
    std::wstring text = L"stale";
    EXPECT_EQ(document->SelectSingleNodeText(c.path, &text), c.result);
    EXPECT_EQ(text, c.text);
  }
  std::wstring text;
  EXPECT_FALSE(hr::Succeeded(document->SelectSingleNodeText(L"/a[", &text)));
}

INSTANTIATE_TEST_SUITE_P(All, XmlContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
