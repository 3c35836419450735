// The platform's XML DOM through COM: the system DOM document class, its nodes and lists.
// The few oleaut32.dll functions it needs are looked up on the first DOM call that needs
// one, so that only the runs that read a string file load that DLL.
#include <windows.h>
#include <msxml.h>
#include <ole2.h>
#include <oleauto.h>

#include "platform/handles.h"
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

// The oleaut32 functions of the DOM calls. oleaut32.dll is loaded from the system folder
// on first use and stays loaded for the rest of the process. Without it (or without one
// of them) stand-ins answer as a machine out of memory does: no string can be made, so
// there is never one to free and no VARIANT ever holds one to clear.
struct Automation {
  decltype(&::SysAllocString) allocString;
  decltype(&::SysFreeString) freeString;
  decltype(&::VariantClear) variantClear;
};

const Automation& OleAutomation() noexcept {
  static const Automation functions = [] {
    ModuleObject* const module = win32::LoadSystemLibrary(L"oleaut32.dll");
    const Automation found{Lookup<decltype(Automation::allocString)>(module, "SysAllocString"),
                           Lookup<decltype(Automation::freeString)>(module, "SysFreeString"),
                           Lookup<decltype(Automation::variantClear)>(module, "VariantClear")};
    if (found.allocString && found.freeString && found.variantClear) return found;
    return Automation{[](const OLECHAR*) -> BSTR { return nullptr; }, [](BSTR) {},
                      [](VARIANT*) -> HRESULT { return S_OK; }};
  }();
  return functions;
}

void FreeString(BSTR value) noexcept { OleAutomation().freeString(value); }
void ClearVariant(VARIANT* variant) noexcept { (void)OleAutomation().variantClear(variant); }

// A BSTR, freed when its owner goes; and a VARIANT of the caller's, cleared when its owner goes.
using UniqueBstr = UniqueAny<BSTR, FreeString>;
using VariantClearer = UniqueAny<VARIANT*, ClearVariant>;

// A BSTR copy of text; empty when it cannot be made.
UniqueBstr CopyString(const char16_t* text) noexcept {
  return UniqueBstr(OleAutomation().allocString(reinterpret_cast<const OLECHAR*>(text)));
}

// Up to the first NUL, as the program keeps every DOM text.
WString Text(BSTR value) { return value ? WString(reinterpret_cast<const char16_t*>(value)) : WString(); }

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
  const UniqueBstr file = CopyString(path);
  if (!file) return hr::OutOfMemory;
  VARIANT source{};
  source.vt = VT_BSTR;
  source.bstrVal = file.get();  // lent: the owner above frees it
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = Document(document)->load(source, &loaded);
  *success = loaded;
  return result;
}

HResult DomSelectSingleNode(DomObject* document, const char16_t* query, DomObject** node) noexcept {
  *node = nullptr;
  const UniqueBstr pattern = CopyString(query);
  if (!pattern) return hr::OutOfMemory;
  IXMLDOMNode* selected = nullptr;
  const HRESULT result = Document(document)->selectSingleNode(pattern.get(), &selected);
  *node = reinterpret_cast<DomObject*>(selected);
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
  UniqueBstr value;
  const HRESULT result = Element(element)->get_text(value.put());
  if (result >= 0) *text = Text(value.get());
  return result;
}

HResult DomGetAttribute(DomObject* element, const char16_t* name, WString* value) {
  const UniqueBstr attribute = CopyString(name);
  if (!attribute) return hr::OutOfMemory;
  VARIANT answer{};
  const VariantClearer clear(&answer);
  const HRESULT result = Element(element)->getAttribute(attribute.get(), &answer);
  if (result >= 0 && answer.vt == VT_BSTR) *value = Text(answer.bstrVal);
  return result;
}

}  // namespace platform
