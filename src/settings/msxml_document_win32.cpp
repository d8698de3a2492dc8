#include "settings/msxml_document_win32.h"

#include <windows.h>
#include <objbase.h>
#include <msxml.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/ansi_text_win32.h"
#include "settings/com_ptr_win32.h"
#include "settings/file_replace_win32.h"
#include "settings/profile_splice.h"

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

WrittenFileHook g_writtenFileHook = nullptr;

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    HANDLE Get() const { return h_; }

  private:
    HANDLE h_;
};

// A profile is a few kilobytes; anything near this is not one to rewrite.
constexpr LONGLONG kMaxProfileBytes = 64 * 1024 * 1024;

std::optional<std::string> ReadWholeFile(const wchar_t* path) {
    Handle file(CreateFileW(path, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size;
    if (file.Get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.Get(), &size) ||
        size.QuadPart > kMaxProfileBytes)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &done, nullptr) ||
         done != bytes.size()))
        return std::nullopt;
    // A file that grew meanwhile is not the one that was read.
    char more;
    if (!ReadFile(file.Get(), &more, 1, &done, nullptr) || done != 0) return std::nullopt;
    return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    return file.Get() != INVALID_HANDLE_VALUE &&
           WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
           done == bytes.size();
}

std::optional<std::u16string> WidenAnsi(const std::string& text) {
    Bstr wide = AnsiToBstr(text);
    if (!wide.Get()) return std::nullopt;
    return std::u16string(reinterpret_cast<const char16_t*>(wide.Get()), wide.Length());
}

std::optional<std::wstring> NodeString(IXMLDOMNode* node,
                                       HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*get)(BSTR*)) {
    Bstr text;
    if (FAILED((node->*get)(text.Put()))) return std::nullopt;
    return text.Get() ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

// What a node's children are, as far as the comparison of two loaded
// documents goes: adjacent text is one run, and white space alone between
// elements is layout, which the document service drops on loading anyway.
struct ChildNode {
    DOMNodeType type = NODE_INVALID;
    ComPtr<IXMLDOMNode> node;  // null for a text run
    std::wstring text;         // a text run's characters
};

bool IsLayout(const std::wstring& text) {
    return text.find_first_not_of(L" \t\r\n") == std::wstring::npos;
}

// Children are walked from sibling to sibling: a node list's item by index
// costs Wine's MSXML a walk from the first child, which made a long list
// (a host's tool table) cost its length squared.
bool ChildrenOf(IXMLDOMNode* node, std::vector<ChildNode>& out) {
    std::wstring run;
    auto endRun = [&] {
        if (!IsLayout(run)) out.push_back({NODE_TEXT, ComPtr<IXMLDOMNode>(), run});
        run.clear();
    };
    ComPtr<IXMLDOMNode> child;
    if (FAILED(node->get_firstChild(child.Put()))) return false;
    while (child) {
        DOMNodeType type = NODE_INVALID;
        ComPtr<IXMLDOMNode> next;
        if (FAILED(child->get_nodeType(&type)) || FAILED(child->get_nextSibling(next.Put())))
            return false;
        if (type == NODE_TEXT) {
            VARIANT value;
            VariantInit(&value);
            // A text node's value is text: a BSTR, owned from here on.
            if (FAILED(child->get_nodeValue(&value)) || value.vt != VT_BSTR) return false;
            Bstr text(value.bstrVal);
            if (text.Get()) run.append(text.Get(), text.Length());
        } else {
            endRun();
            out.push_back({type, std::move(child), std::wstring()});
        }
        child = std::move(next);
    }
    endRun();
    return true;
}

// Parses `bytes` (a whole file) into `document`, in place. The service is
// handed the bytes rather than the file's name: the text parsed is then the
// very text the changes are made in, and a large file loads in time
// proportional to its size (Wine's MSXML reads a named file through a buffer
// that it grows a few kilobytes at a time, copying it each time).
bool LoadBytes(IXMLDOMDocument* document, const std::string& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!array) return false;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        SafeArrayDestroy(array);
        return false;
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = array;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const bool loaded = SUCCEEDED(document->put_async(VARIANT_FALSE)) &&
                        SUCCEEDED(document->load(source, &ok)) && ok == VARIANT_TRUE;
    SafeArrayDestroy(array);
    return loaded;
}

// Whether two documents (or elements) hold the same: element names and
// attributes, text, and every other node as the service writes it.
bool SameContent(IXMLDOMNode* a, IXMLDOMNode* b) {
    std::vector<ChildNode> left;
    std::vector<ChildNode> right;
    if (!ChildrenOf(a, left) || !ChildrenOf(b, right) || left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        const ChildNode& l = left[i];
        const ChildNode& r = right[i];
        if (l.type != r.type) return false;
        if (l.type == NODE_TEXT) {
            if (l.text != r.text) return false;
            continue;
        }
        const std::optional<std::wstring> name =
            NodeString(l.node.Get(), &IXMLDOMNode::get_nodeName);
        if (!name || name != NodeString(r.node.Get(), &IXMLDOMNode::get_nodeName)) return false;
        if (l.type != NODE_ELEMENT) {
            // As the service writes it; a node it cannot write on either side
            // (Wine's document type) is compared by its name alone.
            const std::optional<std::wstring> lx = NodeString(l.node.Get(), &IXMLDOMNode::get_xml);
            if (lx != NodeString(r.node.Get(), &IXMLDOMNode::get_xml)) return false;
            continue;
        }
        ComPtr<IXMLDOMNamedNodeMap> la;
        ComPtr<IXMLDOMNamedNodeMap> ra;
        long lc = 0;
        long rc = 0;
        if (FAILED(l.node->get_attributes(la.Put())) || FAILED(r.node->get_attributes(ra.Put())) ||
            !la || !ra || FAILED(la->get_length(&lc)) || FAILED(ra->get_length(&rc)) || lc != rc)
            return false;
        for (long k = 0; k < lc; ++k) {
            ComPtr<IXMLDOMNode> lk;
            ComPtr<IXMLDOMNode> rk;
            if (la->get_item(k, lk.Put()) != S_OK || ra->get_item(k, rk.Put()) != S_OK || !lk ||
                !rk)
                return false;
            const std::optional<std::wstring> attribute =
                NodeString(lk.Get(), &IXMLDOMNode::get_xml);
            if (!attribute || attribute != NodeString(rk.Get(), &IXMLDOMNode::get_xml))
                return false;
        }
        if (!SameContent(l.node.Get(), r.node.Get())) return false;
    }
    return true;
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

        // The text the changes will be made in, and the text parsed. A
        // document loading in the background would look empty here and be
        // saved over the host's file: it loads in place.
        text_ = ReadWholeFile(wide.Get());
        if (!text_ || !LoadBytes(document_.Get(), *text_)) {
            text_.reset();
            return LoadResult::Unreadable;
        }
        return LoadResult::Loaded;
    }

    bool Unchanged(const std::string& path) override {
        Bstr wide = AnsiToBstr(path);
        return text_ && wide.Get() && ReadWholeFile(wide.Get()) == text_;
    }

    std::unique_ptr<XmlDocument> Fresh() override { return CreateMsxmlDocument(); }

    bool Save(const std::string& path) override {
        return Replace(path, [this](const std::wstring& tempPath) {
            Bstr temp(SysAllocStringLen(tempPath.data(), static_cast<UINT>(tempPath.size())));
            return temp.Get() && SUCCEEDED(document_->save(PathVariant(temp)));
        });
    }

    bool SaveEdits(const std::string& path, const std::vector<ProfileEdit>& edits) override {
        if (!text_) return false;
        const std::optional<std::string> text = SpliceProfile(*text_, edits, WidenAnsi);
        if (!text) return false;
        return Replace(path, [&text](const std::wstring& tempPath) {
            return WriteWholeFile(tempPath, *text);
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
    // `write` fills the new file; it replaces the profile only when it loads
    // back, through the same service, as this document is now.
    bool Replace(const std::string& path, const std::function<bool(const std::wstring&)>& write) {
        Bstr wide = AnsiToBstr(path);
        if (!wide.Get()) return false;
        return ReplaceFileContent(
            std::wstring(wide.Get(), wide.Length()), [&](const std::wstring& tempPath) {
                if (!write(tempPath)) return false;
                if (g_writtenFileHook) g_writtenFileHook(tempPath);
                // The host may write the profile at any moment: it is
                // replaced only while it still holds the text that was loaded.
                return ReadsBackAsThis(tempPath) && (!text_ || ReadWholeFile(wide.Get()) == text_);
            });
    }

    bool ReadsBackAsThis(const std::wstring& path) {
        ComPtr<IXMLDOMDocument> written;
        if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                    kIidXmlDomDocument, reinterpret_cast<void**>(written.Put()))) ||
            !written || FAILED(written->put_async(VARIANT_FALSE)))
            return false;
        const std::optional<std::string> bytes = ReadWholeFile(path.c_str());
        // Node by node: the service's text of a whole document (its xml
        // property) would be quicker to compare, but Wine's MSXML builds it
        // in time that grows with the square of the document's size.
        return bytes && LoadBytes(written.Get(), *bytes) &&
               SameContent(document_.Get(), written.Get());
    }

    // An element is a node: the same object, one reference moved over.
    static ComPtr<IXMLDOMNode> AsNode(ComPtr<IXMLDOMElement> element) {
        IXMLDOMNode* node = element.Get();
        node->AddRef();
        return ComPtr<IXMLDOMNode>::Adopt(node);
    }

    ComPtr<IXMLDOMDocument> document_;
    std::optional<std::string> text_;  // the loaded file's bytes
};

}  // namespace

void SetWrittenFileHookForTesting(WrittenFileHook hook) {
    g_writtenFileHook = hook;
}

std::unique_ptr<XmlDocument> CreateMsxmlDocument() {
    ComPtr<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                kIidXmlDomDocument, reinterpret_cast<void**>(document.Put()))) ||
        !document)
        return nullptr;
    return std::make_unique<MsxmlDocument>(std::move(document));
}

}  // namespace hk4
