// The XML port over MSXML 3 (DOMDocument 3.0 through IXMLDOMDocument2, in-process).
#include "platform/win32/Win32Platform.h"

#include "platform/win32/Windows.h"

#include "platform/api/Text.h"
#include "platform/win32/Owners.h"

// SDK headers that need <windows.h> before them.
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace kvd::platform::win32 {

namespace {

// mingw's msxml2.h declares these but no library defines them.
constexpr CLSID kClsidDomDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// COM for the life of one document, on the thread that uses it. A thread that already chose
// another apartment keeps it: the document is in-process and works in either.
class ComInit {
 public:
  ComInit() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  ~ComInit() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }

 private:
  HRESULT result_;
};

class MsxmlDocument final : public IXmlDocument {
 public:
  HRESULT Create() {
    return ::CoCreateInstance(kClsidDomDocument30, nullptr, CLSCTX_INPROC_SERVER,
                              kIidXmlDomDocument2, reinterpret_cast<void**>(document_.put()));
  }

  HResult Load(const wchar_t* path, bool* loaded) override {
    *loaded = false;
    document_->put_async(VARIANT_FALSE);
    document_->put_validateOnParse(VARIANT_FALSE);
    document_->put_resolveExternals(VARIANT_FALSE);
    // A document type declaration is refused: its entities are how a small file expands
    // without bound. Where the parser does not know the property, the check after loading
    // below still refuses such a file.
    VARIANT prohibit;
    ::VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    Bstr property(L"ProhibitDTD");
    document_->setProperty(property.get(), prohibit);

    VARIANT source;
    ::VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = ::SysAllocString(path);
    VARIANT_BOOL success = VARIANT_FALSE;
    const HRESULT result = document_->load(source, &success);
    ::VariantClear(&source);
    if (FAILED(result) || success != VARIANT_TRUE) return FAILED(result) ? result : S_FALSE;

    ComRef<IXMLDOMDocumentType> doctype;
    if (document_->get_doctype(doctype.put()) == S_OK && doctype) return S_FALSE;
    // Paths are XPath, whatever this version of the parser takes by default.
    VARIANT language;
    ::VariantInit(&language);
    language.vt = VT_BSTR;
    language.bstrVal = ::SysAllocString(L"XPath");
    Bstr selection(L"SelectionLanguage");
    document_->setProperty(selection.get(), language);
    ::VariantClear(&language);
    *loaded = true;
    return S_OK;
  }

  HResult SelectSingleNodeText(const wchar_t* path, std::wstring* text) override {
    text->clear();
    Bstr query(path);
    ComRef<IXMLDOMNode> node;
    const HRESULT result = document_->selectSingleNode(query.get(), node.put());
    if (FAILED(result)) return result;
    if (result != S_OK || !node) return S_FALSE;
    Bstr value;
    if (FAILED(node->get_text(value.put()))) return E_FAIL;
    // get_text already drops the blanks at both ends unless white space is preserved; the
    // same rule is applied here so that both parsers answer one text.
    *text = Trim(value.str());
    return S_OK;
  }

  HResult GetElementsByTagName(const wchar_t* name, std::vector<XmlElement>* elements) override {
    elements->clear();
    Bstr tag(name);
    ComRef<IXMLDOMNodeList> list;
    HRESULT result = document_->getElementsByTagName(tag.get(), list.put());
    if (FAILED(result) || !list) return FAILED(result) ? result : E_FAIL;
    long count = 0;
    if (FAILED(result = list->get_length(&count))) return result;
    elements->reserve(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
      ComRef<IXMLDOMNode> node;
      if (list->get_item(i, node.put()) != S_OK || !node) continue;
      XmlElement element;
      ComRef<IXMLDOMNamedNodeMap> attributes;
      if (node->get_attributes(attributes.put()) == S_OK && attributes) {
        long attributeCount = 0;
        attributes->get_length(&attributeCount);
        for (long j = 0; j < attributeCount; ++j) {
          ComRef<IXMLDOMNode> attribute;
          if (attributes->get_item(j, attribute.put()) != S_OK || !attribute) continue;
          Bstr attributeName;
          Bstr attributeText;
          attribute->get_nodeName(attributeName.put());
          attribute->get_text(attributeText.put());
          element.attributes.emplace_back(attributeName.str(), attributeText.str());
        }
      }
      elements->push_back(std::move(element));
    }
    return S_OK;
  }

 private:
  ComInit com_;  // first in, last out: the document is released before COM ends
  ComRef<IXMLDOMDocument2> document_;
};

}  // namespace

HResult Win32Xml::CreateDocument(std::unique_ptr<IXmlDocument>* document) {
  document->reset();
  auto created = std::make_unique<MsxmlDocument>();
  const HRESULT result = created->Create();
  if (FAILED(result)) return result;
  *document = std::move(created);
  return S_OK;
}

}  // namespace kvd::platform::win32
