// The profile store on Windows, with Wine's MSXML: through the plug-in's
// entry points, and through the store's own Windows functions linked into
// this program (the settings the DLL loads are not visible from outside it,
// so their values are checked on this program's copy of the same code).
#include <windows.h>
#include <objbase.h>
#include <msxml.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hostside/plugin_api.h"
#include "plugin/lifecycle_win32.h"
#include "plugin/plugin_state.h"
#include "settings/com_ptr_win32.h"
#include "settings/msxml_document_win32.h"
#include "settings/settings.h"
#include "settings/xml_profile.h"
#include "file_identity.h"
#include "win_test_support.h"

namespace {

using hk4::Bstr;
using hk4::ComPtr;

constexpr CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

std::string Narrow(BSTR s) {
    std::string out;
    for (UINT i = 0; s && i < SysStringLen(s); ++i)
        out += s[i] < 0x80 ? static_cast<char>(s[i]) : '?';
    return out;
}

void Dump(IXMLDOMNode* node, std::string& out) {
    DOMNodeType type = NODE_INVALID;
    node->get_nodeType(&type);
    if (type == NODE_TEXT) {
        Bstr text;
        node->get_text(text.Put());
        out += Narrow(text.Get());
        return;
    }
    if (type != NODE_ELEMENT) {  // declarations, comments: as written
        Bstr xml;
        node->get_xml(xml.Put());
        out += Narrow(xml.Get());
        return;
    }
    Bstr name;
    node->get_nodeName(name.Put());
    ComPtr<IXMLDOMNodeList> children;
    node->get_childNodes(children.Put());
    long count = 0;
    if (children) children->get_length(&count);
    if (count == 0) {
        out += "<" + Narrow(name.Get()) + "/>";
        return;
    }
    out += "<" + Narrow(name.Get()) + ">";
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        if (children->get_item(i, child.Put()) == S_OK) Dump(child.Get(), out);
    }
    out += "</" + Narrow(name.Get()) + ">";
}

// The file as a DOM sees it, white space included, in a compact form:
// elements, text, and anything else as its own XML. Empty when it does not
// load.
// The file as the document service loads it; null when it does not.
ComPtr<IXMLDOMDocument> Loaded(const std::string& path, bool keepWhiteSpace = false) {
    ComPtr<IXMLDOMDocument> doc;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                kIidXmlDomDocument, reinterpret_cast<void**>(doc.Put()))))
        return ComPtr<IXMLDOMDocument>();
    doc->put_async(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(keepWhiteSpace ? VARIANT_TRUE : VARIANT_FALSE);
    std::wstring wide(path.begin(), path.end());
    Bstr wpath(SysAllocString(wide.c_str()));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = wpath.Get();
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(doc->load(v, &ok)) || !ok) return ComPtr<IXMLDOMDocument>();
    return doc;
}

std::string DomOf(const std::string& path) {
    const ComPtr<IXMLDOMDocument> doc = Loaded(path, true);
    if (!doc) return "";
    ComPtr<IXMLDOMNodeList> children;
    doc->get_childNodes(children.Put());
    long count = 0;
    children->get_length(&count);
    std::string out;
    for (long i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> child;
        if (children->get_item(i, child.Put()) == S_OK) Dump(child.Get(), out);
    }
    return out;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Closes a dialog with the command in `command` (Esc or OK).
BOOL CALLBACK CloseDialog(HWND w, LPARAM command) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && IsWindowVisible(w))
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), BN_CLICKED), 0);
    return TRUE;
}

// Runs `fn` on this thread while another thread closes any dialog that this
// thread shows, with Esc unless told to confirm it, as a user would.
void DismissingDialogs(void (*fn)(), int command = IDCANCEL) {
    const DWORD thread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::thread closer([&] {
        while (!done) {
            EnumThreadWindows(thread, CloseDialog, command);
            Sleep(20);
        }
    });
    fn();
    done = true;
    closer.join();
}

// One host with a fresh copy of the plug-in, driving it in the host's order.
class PluginHost {
  public:
    PluginHost() {
        std::string error;
        loaded_ = api_.Load(hk4test::CopyPlugin("HalvexK4.dll"), error);
        EXPECT_TRUE(loaded_) << error;
    }
    ~PluginHost() {
        if (loaded_) {
            api_.StopPlug();
            api_.Unload();
        }
    }
    bool loaded() const { return loaded_; }
    hostside::PluginApi& api() { return api_; }

    // SetProName, InitControl (no parent window) and PostInitControl.
    void Start(const std::string& profile) {
        api_.SetProName(profile.c_str());
        api_.InitControl(motion_.data(), options_.data(), planner_.data(), parent_.data());
        api_.PostInitControl();
    }
    void Config(int command = IDCANCEL) {
        static hostside::PluginApi* current;
        current = &api_;
        DismissingDialogs([] { current->Config(); }, command);
    }

  private:
    hostside::PluginApi api_;
    bool loaded_ = false;
    std::vector<unsigned char> motion_ = std::vector<unsigned char>(hk4::kMotionBlockSize);
    std::vector<unsigned char> options_ = std::vector<unsigned char>(hk4::kOptionsBlockSize);
    std::vector<unsigned char> planner_ = std::vector<unsigned char>(hk4::kPlannerBlockSize);
    std::vector<unsigned char> parent_ = std::vector<unsigned char>(hk4::kParentWindowSize);
};

TEST(ProfileEntryPoints, FirstStartCreatesOnlyAnEmptyProfileElement) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    host.api().SetProName(path.c_str());
    ASSERT_TRUE(Exists(path));
    EXPECT_EQ(DomOf(path), "<profile/>");
    const std::string bytes = hk4test::ReadFile(path);
    EXPECT_EQ(bytes.find("<?xml"), std::string::npos) << bytes;

    // PostInitControl reads the four settings and adds nothing.
    host.Start(path);
    EXPECT_EQ(DomOf(path), "<profile/>");
    EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
}

TEST(ProfileEntryPoints, StartUpKeepsTheHostsDocumentAndDropsEmptyValues) {
    struct Case {
        const char* what;
        const char* before;
        const char* after;  // as a DOM sees the file afterwards
    };
    const Case cases[] = {
        {"a section with values is left as it is",
         "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate>250</StepJogRate>"
         "<PercentTime>0</PercentTime><DelaySteps>-3</DelaySteps></Halvex_K4_Pendant></profile>",
         "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate>250</StepJogRate>"
         "<PercentTime>0</PercentTime><DelaySteps>-3</DelaySteps></Halvex_K4_Pendant>"
         "</profile>"},
        {"empty key elements disappear, their section stays",
         "<profile><Other>1</Other><Halvex_K4_Pendant><Vel></Vel><StepJogRate/>"
         "</Halvex_K4_Pendant></profile>",
         "<profile><Other>1</Other><Halvex_K4_Pendant/></profile>"},
        {"only the empty one goes",
         "<profile><Halvex_K4_Pendant><PercentTime/><DelaySteps>9</DelaySteps>"
         "</Halvex_K4_Pendant></profile>",
         "<profile><Halvex_K4_Pendant><DelaySteps>9</DelaySteps></Halvex_K4_Pendant>"
         "</profile>"},
        {"a root element with another name is kept",
         "<HostProfile><Prefs><X>1</X></Prefs></HostProfile>",
         "<HostProfile><Prefs><X>1</X></Prefs></HostProfile>"},
        {"an empty file is replaced like a missing one", "", "<profile/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = hk4test::TempDir();
        const std::string path = dir + "\\profile.xml";
        ASSERT_TRUE(hk4test::WriteFile(path, c.before));
        PluginHost host;
        ASSERT_TRUE(host.loaded());
        host.Start(path);
        EXPECT_EQ(DomOf(path), c.after);
        EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
    }
}

// The host's file is the user's machine configuration: whatever the store
// cannot stand behind stays exactly as it was.
TEST(ProfileEntryPoints, FilesTheStoreCannotOwnStayByteForByte) {
    struct Case {
        const char* what;
        std::string bytes;
        bool readOnly;
    };
    const Case cases[] = {
        {"cut short", "<?xml version=\"1.0\"?>\r\n<profile>\r\n  <Halvex_K4_Pendant><Vel>3", false},
        {"mismatched tags", "<profile><Halvex_K4_Pendant></profile>", false},
        {"not XML at all", "Vel=3\r\nDelaySteps=10\r\n", false},
        {"read-only, with an empty value a start-up would drop",
         "<profile>\r\n\t<Halvex_K4_Pendant><Vel/></Halvex_K4_Pendant>\r\n</profile>\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = hk4test::TempDir();
        const std::string path = dir + "\\profile.xml";
        ASSERT_TRUE(hk4test::WriteFile(path, c.bytes));
        if (c.readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        {
            PluginHost host;
            ASSERT_TRUE(host.loaded());
            host.api().SetProName(path.c_str());
            EXPECT_EQ(hk4test::ReadFile(path), c.bytes) << "SetProName";
            host.Start(path);
            EXPECT_EQ(hk4test::ReadFile(path), c.bytes) << "PostInitControl";
            host.Config();
            EXPECT_EQ(hk4test::ReadFile(path), c.bytes) << "Config";
        }
        EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// The profile is the host's file: a save gives it new content, nothing else.
// Owner and group cannot be shown under Wine (always the running account),
// the permissions only as far as the file's mode bits hold them.
TEST(ProfileEntryPoints, ConfigKeepsTheProfilesAttributesAndPermissions) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    const std::string before = "<profile><Other>1</Other></profile>";
    ASSERT_TRUE(hk4test::WriteFile(path, before));
    ASSERT_TRUE(hk4test::SetSecurityText(path, "D:P(A;;FA;;;SY)(A;;FA;;;CU)"));
    const std::string security = hk4test::SecurityText(path);
    ASSERT_FALSE(security.empty());
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
    ASSERT_EQ(hk4test::Attributes(path), attributes);
    {
        PluginHost host;
        ASSERT_TRUE(host.loaded());
        host.Start(path);
        host.Config();
    }
    // Config wrote its section: the file was replaced, and kept what it was.
    EXPECT_EQ(DomOf(path).rfind("<profile><Other>1</Other><Halvex_K4_Pendant><Vel>", 0), 0u)
        << DomOf(path);
    EXPECT_EQ(hk4test::Attributes(path), attributes);
    EXPECT_EQ(hk4test::SecurityText(path), security);
    EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
}

// A replacement the system refuses (the file held open by another program
// that does not share its deletion) leaves the profile byte for byte.
TEST(ProfileEntryPoints, ConfigOnAProfileHeldOpenLeavesItWhole) {
    const std::string dir = hk4test::TempDir();
    const std::string path = dir + "\\profile.xml";
    const std::string before = "<profile>\r\n  <Other>1</Other>\r\n</profile>\r\n";
    ASSERT_TRUE(hk4test::WriteFile(path, before));
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        PluginHost host;
        ASSERT_TRUE(host.loaded());
        host.Start(path);
        host.Config();
    }
    CloseHandle(held);
    EXPECT_EQ(hk4test::ReadFile(path), before);
    EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
}

// The host's file in the encodings and layouts hosts and their users write,
// with host text beyond ASCII: starts and a confirmed dialog change nothing
// outside our section, and a complete section means no write at all.
std::string Encoded(const std::wstring& text, UINT codePage) {
    if (codePage == 1200)
        return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    if (codePage == 28591) {
        std::string out;
        for (wchar_t c : text) out += static_cast<char>(c < 0x100 ? c : '?');
        return out;
    }
    std::string out(text.size() * 4, '\0');
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? n : 0);
    return out;
}

// The text of the node `query` selects in the loaded document; "(none)"
// when there is none.
std::wstring TextAt(IXMLDOMDocument* doc, const wchar_t* query) {
    Bstr q(SysAllocString(query));
    ComPtr<IXMLDOMNode> node;
    Bstr text;
    if (!doc || doc->selectSingleNode(q.Get(), node.Put()) != S_OK || !node ||
        FAILED(node->get_text(text.Put())))
        return L"(none)";
    return text.Get() ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

unsigned long long LastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

TEST(ProfileEntryPoints, TheHostsProfileKeepsItsTextInEveryEncodingAndLayout) {
    struct Encoding {
        const char* name;
        const wchar_t* declaration;  // with the line break after it; empty for none
        const char* mark;
        UINT codePage;  // 1200: UTF-16, little-endian
        const wchar_t* hostText;
    };
    const Encoding encodings[] = {
        {"UTF-8", L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "", CP_UTF8,
         L"caf\u00e9 \u00b5m \u03a9\u2192"},
        {"UTF-8 with its mark", L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xEF\xBB\xBF",
         CP_UTF8, L"caf\u00e9 \u00b5m \u03a9\u2192"},
        {"UTF-16 with its mark", L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>", "\xFF\xFE", 1200,
         L"caf\u00e9 \u00b5m \u03a9\u2192"},
        {"ISO-8859-1", L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "", 28591,
         L"caf\u00e9 \u00b5m"},
        {"windows-1252", L"<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "", 1252,
         L"caf\u00e9 \u00b5m \u20ac"},
        {"no declaration", L"", "", CP_UTF8, L"caf\u00e9 \u00b5m \u03a9\u2192"},
    };
    struct Layout {
        const char* name;
        const wchar_t* lineEnd;
        const wchar_t* indent;
    };
    const Layout layouts[] = {{"indented", L"\r\n", L"  "}, {"single line", L"", L""}};
    struct Section {
        const char* name;
        std::vector<std::wstring> keys;  // empty: no section
        const wchar_t* after[4];         // Vel, StepJogRate, PercentTime, DelaySteps
    };
    const Section sections[] = {
        {"complete",
         {L"<Vel>4</Vel>", L"<StepJogRate>250</StepJogRate>", L"<PercentTime>7</PercentTime>",
          L"<DelaySteps>-3</DelaySteps>"},
         {L"4", L"250", L"7", L"-3"}},
        {"partial, with an empty value",
         {L"<Vel>4</Vel>", L"<StepJogRate></StepJogRate>"},
         {L"4", L"100", L"3", L"25"}},
        {"missing", {}, {L"2", L"100", L"3", L"25"}},
    };
    for (const Encoding& e : encodings) {
        for (const Layout& l : layouts) {
            for (const Section& sec : sections) {
                SCOPED_TRACE(std::string(e.name) + ", " + l.name + ", section " + sec.name);
                const std::wstring nl = l.lineEnd;
                const std::wstring in = l.indent;
                const std::wstring host = e.hostText;
                // The host's part before and after where our section is.
                const std::wstring head = std::wstring(e.declaration) +
                                          (*e.declaration ? nl : L"") + L"<!-- " + host + L" -->" +
                                          nl + L"<profile>" + nl + in + L"<Tool name=\"" + host +
                                          L"\">" + host + L"</Tool>" + nl + in + L"<?host keep?>";
                const std::wstring tail = nl + L"</profile>" + nl;
                std::wstring section;
                if (!sec.keys.empty()) {
                    section = nl + in + L"<Halvex_K4_Pendant>";
                    for (const std::wstring& key : sec.keys) section += nl + in + in + key;
                    section += nl + in + L"</Halvex_K4_Pendant>";
                }
                const std::string before = e.mark + Encoded(head + section + tail, e.codePage);
                const std::string headBytes = e.mark + Encoded(head, e.codePage);
                const std::string tailBytes = Encoded(tail, e.codePage);

                const std::string dir = hk4test::TempDir();
                const std::string path = dir + "\\profile.xml";
                ASSERT_TRUE(hk4test::WriteFile(path, before));
                ASSERT_EQ(TextAt(Loaded(path).Get(), L"profile/Tool"), host)
                    << "the service reads the profile as written";
                const unsigned long long written = LastWriteTime(path);
                Sleep(20);
                for (int start = 0; start < 3; ++start) {
                    PluginHost plugin;
                    ASSERT_TRUE(plugin.loaded());
                    plugin.Start(path);
                    if (start == 2) plugin.Config(IDOK);
                }
                const std::string after = hk4test::ReadFile(path);
                if (std::string(sec.name) == "complete") {
                    EXPECT_EQ(after, before);
                    EXPECT_EQ(LastWriteTime(path), written);
                } else {
                    EXPECT_EQ(after.compare(0, headBytes.size(), headBytes), 0);
                    ASSERT_GE(after.size(), headBytes.size() + tailBytes.size());
                    EXPECT_EQ(after.substr(after.size() - tailBytes.size()), tailBytes);
                }
                ComPtr<IXMLDOMDocument> doc = Loaded(path);
                ASSERT_TRUE(doc) << "the profile no longer loads";
                EXPECT_EQ(TextAt(doc.Get(), L"profile/Tool"), host);
                EXPECT_EQ(TextAt(doc.Get(), L"profile/Tool/@name"), host);
                const wchar_t* keys[] = {L"Vel", L"StepJogRate", L"PercentTime", L"DelaySteps"};
                for (int k = 0; k < 4; ++k)
                    EXPECT_EQ(
                        TextAt(doc.Get(),
                               (std::wstring(L"profile/Halvex_K4_Pendant/") + keys[k]).c_str()),
                        sec.after[k])
                        << k;
                EXPECT_EQ(hk4test::NamesIn(dir), std::vector<std::string>{"profile.xml"});
            }
        }
    }
}

// The store as PostInitControl and Config use it, on this program's copy.
class ProfileStore : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = hk4test::TempDir();
        path_ = dir_ + "\\profile.xml";
        hk4::Plugin().ProfilePath = path_;
        hk4::Plugin().settings = hk4::Settings{-1, -1, -1, -1};
    }
    void TearDown() override { hk4::Plugin().ProfilePath.clear(); }

    // PostInitControl's part: a store, LoadSettings, the store saved.
    hk4::Settings StartUp() {
        hk4::WithProfile([] { hk4::LoadSettings(); });
        return hk4::Plugin().settings;
    }

    std::string dir_, path_;
};

TEST_F(ProfileStore, StartUpValuesComeFromTheProfileOrTheDefaults) {
    struct Case {
        const char* what;
        std::optional<std::string> file;
        hk4::Settings want;  // Vel, StepJogRate, DelaySteps, PercentTime
    };
    const Case cases[] = {
        {"first start, no file", std::nullopt, {0, 100, 25, 3}},
        {"no section", "<profile><Other><Vel>4</Vel></Other></profile>", {0, 100, 25, 3}},
        {"all four",
         "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate>250</StepJogRate>"
         "<PercentTime>0</PercentTime><DelaySteps>-3</DelaySteps></Halvex_K4_Pendant></profile>",
         {4, 250, -3, 0}},
        {"numbers as the host's profile may hold them",
         "<HostProfile>\r\n <Halvex_K4_Pendant>\r\n  <StepJogRate>  42abc</StepJogRate>\r\n"
         "  <DelaySteps>-7</DelaySteps>\r\n  <PercentTime>x</PercentTime>\r\n"
         "  <Vel>65539</Vel>\r\n </Halvex_K4_Pendant>\r\n</HostProfile>\r\n",
         {3, 42, -7, 0}},
        {"beyond 32 bits saturates",
         "<profile><Halvex_K4_Pendant><StepJogRate>99999999999</StepJogRate>"
         "<DelaySteps>-99999999999</DelaySteps></Halvex_K4_Pendant></profile>",
         {0, INT32_MAX, INT32_MIN, 3}},
        {"the first of two same-named keys",
         "<profile><Halvex_K4_Pendant><Vel>1</Vel><Vel>2</Vel></Halvex_K4_Pendant></profile>",
         {1, 100, 25, 3}},
        {"an unparsable file gives the defaults",
         "<profile><Halvex_K4_Pendant><Vel>4</Vel>",
         {0, 100, 25, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.file) {
            ASSERT_TRUE(hk4test::WriteFile(path_, *c.file));
        }
        const hk4::Settings got = StartUp();
        EXPECT_EQ(got.Vel, c.want.Vel);
        EXPECT_EQ(got.StepJogRate, c.want.StepJogRate);
        EXPECT_EQ(got.DelaySteps, c.want.DelaySteps);
        EXPECT_EQ(got.PercentTime, c.want.PercentTime);
        EXPECT_EQ(hk4::Plugin().CurrentProfile, nullptr);
    }
}

TEST_F(ProfileStore, WritesFollowTheDocumentLayout) {
    struct Case {
        const char* what;
        std::string before;
        void (*write)();
        std::string after;
    };
    const Case cases[] = {
        {"a new section goes last under a root of any name, holding its keys in order",
         "<HostProfile><Prefs/></HostProfile>",
         [] {
             auto* p = hk4::Plugin().CurrentProfile;
             p->SetInt(hk4::kSection, "Vel", 2);
             p->SetInt(hk4::kSection, "StepJogRate", 100);
             p->SetInt(hk4::kSection, "PercentTime", -3);
             p->SetInt(hk4::kSection, "DelaySteps", 25);
         },
         "<HostProfile><Prefs/><Halvex_K4_Pendant><Vel>2</Vel><StepJogRate>100</StepJogRate>"
         "<PercentTime>-3</PercentTime><DelaySteps>25</DelaySteps></Halvex_K4_Pendant>"
         "</HostProfile>"},
        {"of two same-named keys only the first is written",
         "<profile><Halvex_K4_Pendant><Vel>1</Vel><Vel>2</Vel></Halvex_K4_Pendant></profile>",
         [] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 7); },
         "<profile><Halvex_K4_Pendant><Vel>7</Vel><Vel>2</Vel></Halvex_K4_Pendant></profile>"},
        {"an existing key keeps its place; all its content is replaced",
         "<profile><Halvex_K4_Pendant><A>1</A><Vel>3<b>4</b></Vel><B>2</B>"
         "</Halvex_K4_Pendant></profile>",
         [] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", -2147483647 - 1); },
         "<profile><Halvex_K4_Pendant><A>1</A><Vel>-2147483648</Vel><B>2</B>"
         "</Halvex_K4_Pendant></profile>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ASSERT_TRUE(hk4test::WriteFile(path_, c.before));
        hk4::WithProfile(c.write);
        EXPECT_EQ(DomOf(path_), c.after);
        EXPECT_EQ(hk4test::NamesIn(dir_), std::vector<std::string>{"profile.xml"});
    }
}

TEST_F(ProfileStore, TextTravelsInTheThreadsAnsiCodePage) {
    // A character outside ASCII, as the thread's code page writes it.
    wchar_t wide = 0x00E9;  // e with acute accent
    char narrow[8] = {};
    BOOL lossy = FALSE;
    const int n =
        WideCharToMultiByte(CP_THREAD_ACP, 0, &wide, 1, narrow, sizeof narrow, nullptr, &lossy);
    ASSERT_GT(n, 0);
    ASSERT_FALSE(lossy) << "the code page has no e-acute";
    static std::string value;
    value = "caf" + std::string(narrow, n);
    hk4::WithProfile([] { hk4::Plugin().CurrentProfile->SetString(hk4::kSection, "Name", value); });
    static std::string read;
    hk4::WithProfile(
        [] { read = hk4::Plugin().CurrentProfile->GetString(hk4::kSection, "Name", ""); });
    EXPECT_EQ(read, value);
    // The file holds the character itself, encoded by MSXML (UTF-8 here).
    EXPECT_NE(hk4test::ReadFile(path_).find("caf\xC3\xA9"), std::string::npos);
}

// The host's path is narrow text in the thread's code page. Where that is
// not the system's code page, every file call and MSXML must still name one
// and the same file.
TEST_F(ProfileStore, ANonAsciiPathNamesOneFileThroughout) {
    struct ThreadLocale {
        LCID saved = GetThreadLocale();
        ~ThreadLocale() { SetThreadLocale(saved); }
    } restore;
    // Russian: code page 1251, where the byte 0xE9 is U+0439.
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x0419, SORT_DEFAULT)));
    wchar_t wide[2] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "\xE9", 1, wide, 2), 1);
    ASSERT_EQ(wide[0], 0x0439) << "the thread's code page did not follow its locale";
    ASSERT_NE(GetACP(), 1251u) << "needs a system code page other than the thread's";

    hk4::Plugin().ProfilePath = dir_ + "\\\xE9.xml";
    hk4::WithProfile([] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9); });
    static int32_t read;
    hk4::WithProfile([] { read = hk4::Plugin().CurrentProfile->GetInt(hk4::kSection, "Vel", 0); });
    EXPECT_EQ(read, 9);

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const std::wstring pattern = std::wstring(dir_.begin(), dir_.end()) + L"\\*";
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(names, std::vector<std::wstring>{L"\u0439.xml"});
}

// The same, with the file opened by another program only after the store
// has loaded it: the store certainly tries, and the system refuses.
TEST_F(ProfileStore, AReplacementRefusedAfterTheLoadLeavesTheFileWhole) {
    const std::string before =
        "<profile><Halvex_K4_Pendant><Vel>1</Vel></Halvex_K4_Pendant></profile>";
    ASSERT_TRUE(hk4test::WriteFile(path_, before));
    static HANDLE held;
    static int32_t loaded;
    held = INVALID_HANDLE_VALUE;
    hk4::WithProfile([] {
        auto* p = hk4::Plugin().CurrentProfile;
        loaded = p->GetInt(hk4::kSection, "Vel", 0);
        p->SetInt(hk4::kSection, "Vel", 9);
        held = CreateFileA(hk4::Plugin().ProfilePath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    });
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(hk4test::ReadFile(path_), before);
    EXPECT_EQ(hk4test::NamesIn(dir_), std::vector<std::string>{"profile.xml"});
}

// A rename that fails at the last step leaves the old file and no debris.
TEST_F(ProfileStore, AFailedSaveLeavesTheOldFileWhole) {
    const std::string before =
        "<profile><Halvex_K4_Pendant><Vel>1</Vel></Halvex_K4_Pendant></profile>";
    ASSERT_TRUE(hk4test::WriteFile(path_, before));
    HANDLE lock = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    static int32_t loaded;
    hk4::WithProfile([] {
        loaded = hk4::Plugin().CurrentProfile->GetInt(hk4::kSection, "Vel", 0);
        hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9);
    });
    CloseHandle(lock);
    EXPECT_EQ(loaded, 1) << "the file is read while it is held open";
    EXPECT_EQ(hk4test::ReadFile(path_), before);
    EXPECT_EQ(hk4test::NamesIn(dir_), std::vector<std::string>{"profile.xml"});
    // Unlocked, the same write goes through.
    hk4::WithProfile([] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9); });
    EXPECT_EQ(DomOf(path_),
              "<profile><Halvex_K4_Pendant><Vel>9</Vel></Halvex_K4_Pendant></profile>");
}

// A written file that does not read back as the document the store holds
// (here changed by the test between the write and the read-back) is not
// kept: the profile stays byte for byte, and no file of ours is left.
TEST_F(ProfileStore, AWriteThatReadsBackDifferentlyLeavesTheProfileAsItWas) {
    const std::string before =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<profile>\r\n  <Tool>caf\xE9</Tool>\r\n"
        "</profile>\r\n";
    ASSERT_TRUE(hk4test::WriteFile(path_, before));
    static int altered;
    altered = 0;
    hk4::SetWrittenFileHookForTesting([](const std::wstring& written) {
        ++altered;
        HANDLE file = CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        const char other[] = "<profile><Tool>cafe</Tool></profile>";
        DWORD done = 0;
        WriteFile(file, other, sizeof other - 1, &done, nullptr);
        CloseHandle(file);
    });
    hk4::WithProfile([] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9); });
    hk4::SetWrittenFileHookForTesting(nullptr);
    EXPECT_EQ(altered, 1);
    EXPECT_EQ(hk4test::ReadFile(path_), before);
    EXPECT_EQ(hk4test::NamesIn(dir_), std::vector<std::string>{"profile.xml"});
    // Left alone, the same write goes through.
    hk4::WithProfile([] { hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9); });
    EXPECT_EQ(
        hk4test::ReadFile(path_),
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<profile>\r\n  <Tool>caf\xE9</Tool>"
        "\r\n  <Halvex_K4_Pendant>\r\n    <Vel>9</Vel>\r\n  "
        "</Halvex_K4_Pendant>\r\n</profile>\r\n");
}

// The store never initialises COM: on a thread without it there is no
// document, reads give defaults and the file is left alone.
TEST_F(ProfileStore, WithoutComTheStoreUsesDefaultsAndKeepsTheFile) {
    const std::string before =
        "<profile><Halvex_K4_Pendant><Vel>4</Vel><StepJogRate/></Halvex_K4_Pendant></profile>";
    ASSERT_TRUE(hk4test::WriteFile(path_, before));
    std::thread([] {
        hk4::WithProfile([] {
            hk4::LoadSettings();
            hk4::Plugin().CurrentProfile->SetInt(hk4::kSection, "Vel", 9);
        });
    }).join();
    const hk4::Settings s = hk4::Plugin().settings;
    EXPECT_EQ(s.Vel, 0);
    EXPECT_EQ(s.StepJogRate, 100);
    EXPECT_EQ(s.PercentTime, 3);
    EXPECT_EQ(s.DelaySteps, 25);
    EXPECT_EQ(hk4test::ReadFile(path_), before);
}

}  // namespace
