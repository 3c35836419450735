// The platform's XML DOM through COM: the system DOM document class, its nodes and lists.
// The few oleaut32.dll functions it needs are looked up on the first DOM call that needs
// one, so that only the runs that read a string file load that DLL.
#include <windows.h>
#include <msxml.h>
#include <ole2.h>
#include <oleauto.h>

#include "platform/dom.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// CLSID_DOMDocument and the interfaces the program asks for, spelled out so that no
// import library for them is needed.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

IUnknown* Unknown(DomObject* object) noexcept { return reinterpret_cast<IUnknown*>(object); }
IXMLDOMDocument* Document(DomObject* object) noexcept { return reinterpret_cast<IXMLDOMDocument*>(object); }
IXMLDOMElement* Element(DomObject* object) noexcept { return reinterpret_cast<IXMLDOMElement*>(object); }
template <typename T>
DomObject** Out(T** out) noexcept {
  return reinterpret_cast<DomObject**>(out);
}

// The oleaut32 functions of the DOM calls, all found or all null. oleaut32.dll is loaded
// from the system folder on first use and stays loaded for the rest of the process.
struct Automation {
  decltype(&::SysAllocString) allocString = nullptr;
  decltype(&::SysFreeString) freeString = nullptr;
  decltype(&::VariantInit) variantInit = nullptr;
  decltype(&::VariantClear) variantClear = nullptr;
};

const Automation& OleAutomation() noexcept {
  static const Automation functions = [] {
    Automation found;
    const HMODULE module = win32::LoadSystemLibrary(L"oleaut32.dll");
    found.allocString = win32::Lookup<decltype(found.allocString)>(module, "SysAllocString");
    found.freeString = win32::Lookup<decltype(found.freeString)>(module, "SysFreeString");
    found.variantInit = win32::Lookup<decltype(found.variantInit)>(module, "VariantInit");
    found.variantClear = win32::Lookup<decltype(found.variantClear)>(module, "VariantClear");
    if (!found.allocString || !found.freeString || !found.variantInit || !found.variantClear) return Automation{};
    return found;
  }();
  return functions;
}

// SysAllocString; without oleaut32 it fails as it does when out of memory.
BSTR AllocString(const char16_t* text) noexcept {
  const auto sysAllocString = OleAutomation().allocString;
  return sysAllocString ? sysAllocString(reinterpret_cast<const OLECHAR*>(text)) : nullptr;
}

// SysFreeString. A BSTR to free came from oleaut32, so the DLL is there to free it.
void FreeString(BSTR value) noexcept {
  if (const auto sysFreeString = OleAutomation().freeString) sysFreeString(value);
}

// VariantInit; without oleaut32 it marks the VARIANT empty as VariantInit does, so that
// clearing it later is harmless.
void InitVariant(VARIANT* variant) noexcept {
  if (const auto variantInit = OleAutomation().variantInit) {
    variantInit(variant);
  } else {
    variant->vt = VT_EMPTY;
  }
}

// VariantClear; without oleaut32 nothing was allocated into the VARIANT, so there is
// nothing to release.
void ClearVariant(VARIANT* variant) noexcept {
  if (const auto variantClear = OleAutomation().variantClear) (void)variantClear(variant);
}

// A BSTR copy of text, released when it goes out of scope.
class Bstr {
 public:
  explicit Bstr(const char16_t* text) noexcept : value_(AllocString(text)) {}
  Bstr() noexcept = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { FreeString(value_); }
  BSTR get() const noexcept { return value_; }
  BSTR* put() noexcept { return &value_; }
  // Up to the first NUL, as the program keeps every DOM text.
  WString text() const { return value_ ? WString(reinterpret_cast<const char16_t*>(value_)) : WString(); }

 private:
  BSTR value_ = nullptr;
};

}  // namespace

HResult DomCreateInstance(DomObject** unknown) noexcept {
  *unknown = nullptr;
  return ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_ALL, kIidUnknown, reinterpret_cast<void**>(unknown));
}

HResult DomOleRun(DomObject* unknown) noexcept { return ::OleRun(Unknown(unknown)); }

HResult DomQueryDocument(DomObject* unknown, DomObject** document) noexcept {
  *document = nullptr;
  return Unknown(unknown)->QueryInterface(kIidDocument, reinterpret_cast<void**>(document));
}

HResult DomQueryElement(DomObject* node, DomObject** element) noexcept {
  *element = nullptr;
  return Unknown(node)->QueryInterface(kIidElement, reinterpret_cast<void**>(element));
}

void DomRelease(DomObject* object) noexcept {
  if (object) Unknown(object)->Release();
}

HResult DomPutAsync(DomObject* document, bool async) noexcept {
  return Document(document)->put_async(async ? VARIANT_TRUE : VARIANT_FALSE);
}

HResult DomLoad(DomObject* document, const char16_t* path, std::int16_t* success) noexcept {
  VARIANT source;
  InitVariant(&source);
  source.vt = VT_BSTR;
  source.bstrVal = AllocString(path);
  if (!source.bstrVal) return hr::OutOfMemory;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = Document(document)->load(source, &loaded);
  ClearVariant(&source);
  *success = loaded;
  return result;
}

HResult DomSelectSingleNode(DomObject* document, const char16_t* query, DomObject** node) noexcept {
  *node = nullptr;
  Bstr pattern(query);
  if (!pattern.get()) return hr::OutOfMemory;
  IXMLDOMNode* selected = nullptr;
  const HRESULT result = Document(document)->selectSingleNode(pattern.get(), &selected);
  *Out(node) = reinterpret_cast<DomObject*>(selected);
  return result;
}

HResult DomChildNodes(DomObject* element, DomObject** list) noexcept {
  *list = nullptr;
  IXMLDOMNodeList* children = nullptr;
  const HRESULT result = Element(element)->get_childNodes(&children);
  *list = reinterpret_cast<DomObject*>(children);
  return result;
}

HResult DomListLength(DomObject* list, std::int32_t* length) noexcept {
  long value = 0;
  const HRESULT result = reinterpret_cast<IXMLDOMNodeList*>(list)->get_length(&value);
  *length = static_cast<std::int32_t>(value);
  return result;
}

HResult DomGetText(DomObject* element, WString* text) {
  Bstr value;
  const HRESULT result = Element(element)->get_text(value.put());
  if (result >= 0) *text = value.text();
  return result;
}

HResult DomGetAttribute(DomObject* element, const char16_t* name, WString* value, bool* present) {
  *present = false;
  Bstr attribute(name);
  if (!attribute.get()) return hr::OutOfMemory;
  VARIANT answer;
  InitVariant(&answer);
  const HRESULT result = Element(element)->getAttribute(attribute.get(), &answer);
  if (result >= 0 && answer.vt == VT_BSTR) {
    *present = true;
    try {
      *value = answer.bstrVal ? WString(reinterpret_cast<const char16_t*>(answer.bstrVal)) : WString();
    } catch (...) {
      ClearVariant(&answer);
      throw;
    }
  }
  ClearVariant(&answer);
  return result;
}

}  // namespace platform
