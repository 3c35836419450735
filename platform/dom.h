// The platform's XML DOM, reached the way COM reaches it: counted references and
// HRESULTs. On Windows a DomObject is an IUnknown of the system DOM; the sim backend
// answers the same calls from its own parser with the same results.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

struct DomObject;  // a counted reference: document, node, element or node list

// CoCreateInstance(CLSID_DOMDocument, no outer, CLSCTX_ALL, IID_IUnknown).
[[nodiscard]] HResult DomCreateInstance(DomObject** unknown) noexcept;
// OleRun on a newly made object.
[[nodiscard]] HResult DomOleRun(DomObject* unknown) noexcept;
// QueryInterface for IXMLDOMDocument.
[[nodiscard]] HResult DomQueryDocument(DomObject* unknown, DomObject** document) noexcept;
// QueryInterface for IXMLDOMElement: E_NOINTERFACE for a node of another kind.
[[nodiscard]] HResult DomQueryElement(DomObject* node, DomObject** element) noexcept;
void DomRelease(DomObject* object) noexcept;

// IXMLDOMDocument::put_async.
[[nodiscard]] HResult DomPutAsync(DomObject* document, bool async) noexcept;
// IXMLDOMDocument::load with a VT_BSTR VARIANT holding path; *success is the VARIANT_BOOL.
[[nodiscard]] HResult DomLoad(DomObject* document, const char16_t* path, std::int16_t* success) noexcept;
// IXMLDOMNode::selectSingleNode: S_FALSE and a null node when nothing matches.
[[nodiscard]] HResult DomSelectSingleNode(DomObject* document, const char16_t* query, DomObject** node) noexcept;
// IXMLDOMNode::get_childNodes.
[[nodiscard]] HResult DomChildNodes(DomObject* element, DomObject** list) noexcept;
// IXMLDOMNodeList::get_length.
[[nodiscard]] HResult DomListLength(DomObject* list, std::int32_t* length) noexcept;
// IXMLDOMNode::get_text, copied up to its first NUL.
[[nodiscard]] HResult DomGetText(DomObject* element, WString* text);
// IXMLDOMElement::getAttribute: *value is set from a present attribute's text; the null
// VARIANT of an absent one, or a failing call, leaves it as it was.
[[nodiscard]] HResult DomGetAttribute(DomObject* element, const char16_t* name, WString* value);

inline constexpr std::int16_t kVariantTrue = -1;

}  // namespace platform
