#include "settings/msxml_document_win32.h"

#include <windows.h>
#include <objbase.h>
#include <msxml.h>

#include <utility>

#include "settings/ansi_text_win32.h"
#include "settings/com_ptr_win32.h"
#include "settings/file_replace_win32.h"

namespace hk4 {

namespace {

// DOMDocument and IXMLDOMDocument.
constexpr CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

std::optional<std::string> TakeText(const Bstr& text) {
    if (!text.Get()) return std::string();  // a null BSTR is the empty string
    return WideToAnsi(text.Get(), static_cast<int>(text.Length()));
}

// A file name as load and save take it: a VARIANT holding a BSTR. The
// VARIANT borrows the string, which outlives every call it is passed to.
VARIANT PathVariant(const Bstr& path) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = path.Get();
    return v;
}

class MsxmlElement : public XmlElement {
  public:
    explicit MsxmlElement(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

    IXMLDOMNode* Node() const { return node_.Get(); }

    std::unique_ptr<XmlElement> SelectFirstChild(const std::string& name) override {
        Bstr query = AnsiToBstr(name);
        if (!query.Get()) return nullptr;
        ComPtr<IXMLDOMNode> found;
        if (node_->selectSingleNode(query.Get(), found.Put()) != S_OK || !found) return nullptr;
        return std::make_unique<MsxmlElement>(std::move(found));
    }

    bool AppendChild(XmlElement& child) override {
        ComPtr<IXMLDOMNode> appended;
        return SUCCEEDED(node_->appendChild(Of(child), appended.Put()));
    }

    bool RemoveChild(XmlElement& child) override {
        ComPtr<IXMLDOMNode> removed;
        return SUCCEEDED(node_->removeChild(Of(child), removed.Put()));
    }

    std::unique_ptr<XmlElement> Parent() override {
        ComPtr<IXMLDOMNode> parent;
        if (node_->get_parentNode(parent.Put()) != S_OK || !parent) return nullptr;
        DOMNodeType type = NODE_INVALID;
        if (FAILED(parent->get_nodeType(&type)) || type != NODE_ELEMENT) return nullptr;
        return std::make_unique<MsxmlElement>(std::move(parent));
    }

    std::optional<std::string> Text() override {
        Bstr text;
        if (FAILED(node_->get_text(text.Put()))) return std::nullopt;
        return TakeText(text);
    }

    bool PutText(const std::string& text) override {
        Bstr wide = AnsiToBstr(text);
        return wide.Get() && SUCCEEDED(node_->put_text(wide.Get()));
    }

    // Every element a store hands back came from this same document.
    static IXMLDOMNode* Of(XmlElement& element) {
        return static_cast<MsxmlElement&>(element).Node();
    }

  private:
    ComPtr<IXMLDOMNode> node_;
};

class MsxmlDocument : public XmlDocument {
  public:
    explicit MsxmlDocument(ComPtr<IXMLDOMDocument> document) : document_(std::move(document)) {}

    LoadResult Load(const std::string& path) override {
        // One conversion of the path serves every call, so that the file
        // looked at, loaded and later replaced is always the same one.
        Bstr wide = AnsiToBstr(path);
        if (!wide.Get()) return LoadResult::Unreadable;
        // Only a file that is certainly absent, or holds nothing, may later
        // be replaced by a fresh document.
        WIN32_FILE_ATTRIBUTE_DATA info;
        if (!GetFileAttributesExW(wide.Get(), GetFileExInfoStandard, &info)) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                       ? LoadResult::NoFile
                       : LoadResult::Unreadable;
        }
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return LoadResult::Unreadable;
        if (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0) return LoadResult::EmptyFile;

        // A document loading in the background would look empty here and be
        // saved over the host's file: load in place.
        if (FAILED(document_->put_async(VARIANT_FALSE))) return LoadResult::Unreadable;
        VARIANT_BOOL ok = VARIANT_FALSE;
        if (FAILED(document_->load(PathVariant(wide), &ok)) || ok != VARIANT_TRUE)
            return LoadResult::Unreadable;
        return LoadResult::Loaded;
    }

    bool Save(const std::string& path) override {
        Bstr wide = AnsiToBstr(path);
        if (!wide.Get()) return false;
        return ReplaceFileContent(
            std::wstring(wide.Get(), wide.Length()), [this](const std::wstring& tempPath) {
                Bstr temp(SysAllocStringLen(tempPath.data(), static_cast<UINT>(tempPath.size())));
                return temp.Get() && SUCCEEDED(document_->save(PathVariant(temp)));
            });
    }

    std::unique_ptr<XmlElement> DocumentElement() override {
        ComPtr<IXMLDOMElement> root;
        if (document_->get_documentElement(root.Put()) != S_OK || !root) return nullptr;
        return std::make_unique<MsxmlElement>(AsNode(std::move(root)));
    }

    std::unique_ptr<XmlElement> CreateElement(const std::string& name) override {
        Bstr wide = AnsiToBstr(name);
        if (!wide.Get()) return nullptr;
        ComPtr<IXMLDOMElement> element;
        if (FAILED(document_->createElement(wide.Get(), element.Put())) || !element) return nullptr;
        return std::make_unique<MsxmlElement>(AsNode(std::move(element)));
    }

    bool AppendChild(XmlElement& element) override {
        ComPtr<IXMLDOMNode> appended;
        return SUCCEEDED(document_->appendChild(MsxmlElement::Of(element), appended.Put()));
    }

  private:
    // An element is a node: the same object, one reference moved over.
    static ComPtr<IXMLDOMNode> AsNode(ComPtr<IXMLDOMElement> element) {
        IXMLDOMNode* node = element.Get();
        node->AddRef();
        return ComPtr<IXMLDOMNode>::Adopt(node);
    }

    ComPtr<IXMLDOMDocument> document_;
};

}  // namespace

std::unique_ptr<XmlDocument> CreateMsxmlDocument() {
    ComPtr<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                kIidXmlDomDocument, reinterpret_cast<void**>(document.Put()))) ||
        !document)
        return nullptr;
    return std::make_unique<MsxmlDocument>(std::move(document));
}

}  // namespace hk4
