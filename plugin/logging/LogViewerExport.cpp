#include "plugin/logging/LogViewerExport.h"

#include <ole2.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "framework/Dialog.h"
#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogExportResources.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogTree.h"
#include "plugin/logging/LogViewer.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/Scoped.h"
#include "plugin/storage/MessageContent.h"
#include "shared/SwallowedFailure.h"

namespace parleym {

namespace {

constexpr UINT_PTR kSliceTimer = 1;
// Each slice stays well under what a user notices as a stalled window.
int g_sliceBudgetMs = 40;
constexpr LONG kLargestPicture = 256;  // pixels; larger objects are drawn at this size

std::string WideToUtf8(const wchar_t* text, int length) {
    std::string result;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return result;
    result.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, length, &result[0], size, nullptr, nullptr);
    return result;
}

struct GdiObject {
    HGDIOBJ handle;
    ~GdiObject() {
        if (handle) DeleteObject(handle);
    }
};
struct MemoryDc {
    HDC handle;
    ~MemoryDc() {
        if (handle) DeleteDC(handle);
    }
};

void PutLe32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Draws through `paint` onto a white 24-bit bitmap and returns it as a BMP file.
template <typename Paint>
bool DrawToBmp(LONG width, LONG height, Paint paint, std::string& file) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    MemoryDc dc{CreateCompatibleDC(nullptr)};
    if (!dc.handle) return false;
    GdiObject bitmap{CreateDIBSection(dc.handle, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    if (!bitmap.handle || !bits) return false;
    HGDIOBJ previous = SelectObject(dc.handle, bitmap.handle);
    RECT all{0, 0, width, height};
    FillRect(dc.handle, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const bool drawn = paint(dc.handle, all);
    GdiFlush();
    SelectObject(dc.handle, previous);
    if (!drawn) return false;
    const std::uint32_t stride = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
    const std::uint32_t pixels = stride * static_cast<std::uint32_t>(height);
    file = "BM";
    PutLe32(file, 54 + pixels);
    PutLe32(file, 0);
    PutLe32(file, 54);
    info.bmiHeader.biSizeImage = pixels;
    file.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
    file.append(static_cast<const char*>(bits), pixels);
    return true;
}

LONG PixelsFromHimetric(LONG himetric, int dpi) {
    const LONG pixels = MulDiv(himetric, dpi, 2540);
    return pixels < 1 ? 19 : (pixels > kLargestPicture ? kLargestPicture : pixels);
}

bool ReadContents(IStorage* storage, std::string& data) {
    ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put())) ||
        !stream)
        return false;
    char buffer[4096];
    for (;;) {
        ULONG read = 0;
        const HRESULT hr = stream->Read(buffer, sizeof(buffer), &read);
        if (FAILED(hr)) return false;
        if (read == 0) return true;
        data.append(buffer, read);
        if (data.size() > (16u << 20)) return false;  // no emoticon is this large
    }
}

// --- The "Export logs" dialog -------------------------------------------------

bool ChooseFolder(HWND owner, std::string& folder) {
    char path[MAX_PATH] = {};
    BROWSEINFOA browse{};
    browse.hwndOwner = owner;
    browse.pszDisplayName = path;
    browse.lpszTitle = "Choose the folder to export the logs into:";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
    if (!chosen) return false;
    const bool ok = SHGetPathFromIDListA(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (ok && path[0]) folder = path;
    return ok && path[0];
}

// Where an export goes unless the user says otherwise: the folder of the
// last export in this session, else "Parleym logs" in the user's documents.
std::string g_lastFolder;

std::string DefaultFolder() {
    if (!g_lastFolder.empty()) return g_lastFolder;
    char documents[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)) || !documents[0])
        return std::string();
    return std::string(documents) + "\\Parleym logs";
}

class CExportOptionsDlg : public CDialog {
public:
    CExportOptionsDlg(HWND owner, ExportRequest& request) : CDialog(IDD_LOG_EXPORT, owner), request_(request) {}

protected:
    BOOL OnInitDialog() override {
        EnableWindow(GetItem(IDC_EXPORT_SHOWN), request_.shownAvailable);
        EnableWindow(GetItem(IDC_EXPORT_SELECTED), request_.selectedAvailable);
        int scope = IDC_EXPORT_ALL;
        if (request_.selectedAvailable) scope = IDC_EXPORT_SELECTED;
        if (request_.shownAvailable) scope = IDC_EXPORT_SHOWN;
        CheckRadioButton(GetSafeHwnd(), IDC_EXPORT_SHOWN, IDC_EXPORT_ALL, scope);
        CheckRadioButton(GetSafeHwnd(), IDC_EXPORT_HTML, IDC_EXPORT_TEXT, IDC_EXPORT_HTML);
        SendDlgItemMessageA(GetSafeHwnd(), IDC_EXPORT_FOLDER, EM_LIMITTEXT, MAX_PATH - 1, 0);
        SetItemText(IDC_EXPORT_FOLDER, request_.folder.empty() ? DefaultFolder() : request_.folder);
        return TRUE;
    }
    bool OnCommand(WORD id, WORD code, HWND control) override {
        if (id == IDC_EXPORT_BROWSE) {
            std::string folder;
            if (ChooseFolder(GetSafeHwnd(), folder)) SetItemText(IDC_EXPORT_FOLDER, folder);
            return true;
        }
        return CDialog::OnCommand(id, code, control);
    }
    void OnOK() override {
        const HWND self = GetSafeHwnd();
        const std::string typed = GetItemText(IDC_EXPORT_FOLDER);
        const std::size_t first = typed.find_first_not_of(' ');
        const std::string folder =
            first == std::string::npos ? std::string() : typed.substr(first, typed.find_last_not_of(' ') + 1 - first);
        if (folder.empty()) {
            ShowUserMessage(self, "Choose the folder to export the logs into.", "Parleym", MB_OK | MB_ICONINFORMATION);
            SetFocus(GetItem(IDC_EXPORT_FOLDER));
            return;
        }
        request_.folder = folder;
        request_.scope = IsDlgButtonChecked(self, IDC_EXPORT_SHOWN) == BST_CHECKED      ? ExportScope::kShown
                         : IsDlgButtonChecked(self, IDC_EXPORT_SELECTED) == BST_CHECKED ? ExportScope::kSelected
                                                                                         : ExportScope::kAll;
        request_.format =
            IsDlgButtonChecked(self, IDC_EXPORT_TEXT) == BST_CHECKED ? ExportFormat::kText : ExportFormat::kHtml;
        CDialog::OnOK();
    }

private:
    ExportRequest& request_;
};

bool AskUser(HWND owner, ExportRequest& request) {
    CExportOptionsDlg dialog(owner, request);
    return dialog.DoModal() == IDOK;
}

ExportChooser g_chooser = AskUser;

// --- The running export ---------------------------------------------------------

class CExportProgressDlg;
CExportProgressDlg* g_running = nullptr;

class CExportProgressDlg : public CDialog {
public:
    CExportProgressDlg(CParleymanager& manager, std::vector<ExportItem> items, const ExportRequest& request)
        : CDialog(IDD_LOG_EXPORT_PROGRESS),
          source_(manager, manager.LogStore().AccountName()),
          exporter_(source_, std::move(items), request.format, request.folder, "\r\n") {}

    bool Begin(HWND owner) {
        std::string error;
        if (!exporter_.Start(error)) {
            Fail(owner, error);
            return false;
        }
        if (!Create(owner)) return false;
        owner_ = owner;
        g_lastFolder = exporter_.Folder();
        g_running = this;
        SendDlgItemMessageA(GetSafeHwnd(), IDC_EXPORT_PROGRESS_BAR, PBM_SETRANGE32, 0,
                            static_cast<LPARAM>(exporter_.Total()));
        SetTimer(GetSafeHwnd(), kSliceTimer, 1, nullptr);
        return true;
    }

protected:
    void OnCancel() override { Finish(true); }
    void OnOK() override {}
    bool OnDialogMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) override {
        if (message != WM_TIMER || wParam != kSliceTimer) return false;
        try {
            Slice();
        } catch (...) {
            ReportSwallowed("log export timer");
            Finish(false, "unexpected failure");
        }
        result = 0;
        return true;
    }
    void OnDestroy() override {
        // The viewer went away (closed, or the messenger locked): what is done
        // so far stays usable, with its index.
        KillTimer(GetSafeHwnd(), kSliceTimer);
        if (!finished_) {
            std::string ignored;
            exporter_.Finish(ignored);
            finished_ = true;
        }
        if (g_running == this) g_running = nullptr;
        CDialog::OnDestroy();
    }
    void PostNcDestroy() override { delete this; }

private:
    void Slice() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_sliceBudgetMs);
        std::string error;
        do {
            if (!exporter_.Step(error)) {
                Finish(false, error);
                return;
            }
        } while (!exporter_.Done() && std::chrono::steady_clock::now() < until);
        char text[96];
        std::snprintf(text, sizeof(text), "Exporting conversation %u of %u...",
                      static_cast<unsigned>(exporter_.Exported()), static_cast<unsigned>(exporter_.Total()));
        SetItemText(IDC_EXPORT_PROGRESS_TEXT, text);
        SendDlgItemMessageA(GetSafeHwnd(), IDC_EXPORT_PROGRESS_BAR, PBM_SETPOS, exporter_.Exported(), 0);
        if (exporter_.Done()) Finish(false);
    }

    void Finish(bool cancelled, const std::string& failure = std::string()) {
        if (finished_) return;
        KillTimer(GetSafeHwnd(), kSliceTimer);
        finished_ = true;
        // The index lists what was written, also when a file could not be.
        std::string error = failure;
        std::string indexError;
        exporter_.Finish(indexError);
        if (error.empty()) error = indexError;
        const HWND owner = owner_;
        const std::size_t exported = exporter_.Exported() - exporter_.Unreadable();
        const std::size_t unreadable = exporter_.Unreadable();
        const std::string folder = exporter_.Folder();
        DestroyWindow();  // deletes this
        if (!error.empty()) {
            Fail(owner, error);
            return;
        }
        std::string text = (cancelled ? "Export cancelled after " : "Exported ") + std::to_string(exported) +
                           (exported == 1 ? " conversation to " : " conversations to ") + folder + ".";
        if (unreadable) text += "\nSome conversations could not be read; the index lists them.";
        ShowUserMessage(owner, text.c_str(), "Parleym", MB_OK | MB_ICONINFORMATION);
    }

    static void Fail(HWND owner, const std::string& error) {
        const std::string text = "Failed to export logs: " + error;
        ShowUserMessage(owner, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    }

    PluginExportSource source_;
    LogExport exporter_;
    HWND owner_ = nullptr;
    bool finished_ = false;
};

HTREEITEM ParentOf(HWND tree, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
}

// Conversation numbers under the selected group, or under the group of the
// selected conversation; empty when the root or nothing is selected.
std::vector<int> SelectedGroup(CLogViewer& viewer) {
    CLogLeftView& tree = viewer.Tree();
    HTREEITEM item = tree.GetSelectedItem();
    if (!item) return {};
    if (tree.GetItemData(item) != 0) item = ParentOf(tree.GetSafeHwnd(), item);
    if (!item || item == tree.GetRootItem()) return {};
    std::vector<int> numbers;
    for (HTREEITEM child = tree.GetChildItem(item); child; child = tree.GetNextSiblingItem(child))
        if (const LPARAM number = tree.GetItemData(child)) numbers.push_back(static_cast<int>(number));
    return numbers;
}

} // namespace

std::string Utf8FromSystemAnsi(const std::string& text) {
    if (text.empty()) return text;
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0) return Utf8FromCodePage(text, kSystemCodePage);
    std::wstring buffer(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
    return WideToUtf8(buffer.data(), wide);
}

bool DrawCachedObject(CObjectCache& cache, const std::string& key, ExportPicture& picture) {
    CLSID classId{};
    IStorage* storage = cache.Lookup(key, classId);
    if (!storage) return false;
    ComPtr<IPersistStorage> persist;
    if (FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IPersistStorage,
                                reinterpret_cast<void**>(persist.Put()))) ||
        !persist || FAILED(persist->Load(storage)))
        return false;
    SIZEL extent{500, 500};  // HIMETRIC; an emoticon's usual size when the object does not say
    ComPtr<IOleObject> ole;
    if (SUCCEEDED(QueryInterface(persist, ole)) && ole) {
        SIZEL own{};
        if (SUCCEEDED(ole->GetExtent(DVASPECT_CONTENT, &own)) && own.cx > 0 && own.cy > 0) extent = own;
    }
    HDC screen = GetDC(nullptr);
    const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    const LONG width = PixelsFromHimetric(extent.cx, dpiX);
    const LONG height = PixelsFromHimetric(extent.cy, dpiY);

    ComPtr<IViewObject> view;
    if (SUCCEEDED(QueryInterface(persist, view)) && view) {
        const bool drawn = DrawToBmp(
            width, height,
            [&](HDC dc, const RECT& bounds) {
                RECTL area{bounds.left, bounds.top, bounds.right, bounds.bottom};
                return SUCCEEDED(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &area, nullptr,
                                            nullptr, 0));
            },
            picture.data);
        if (drawn) {
            picture.extension = "bmp";
            return true;
        }
    }
    // Objects that only hand out their presentation as a metafile.
    ComPtr<IDataObject> data;
    if (FAILED(QueryInterface(persist, data)) || !data) return false;
    FORMATETC format{CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) return false;
    // The medium is released as its owner says (pUnkForRelease), never freed twice.
    bool drawn = false;
    if (medium.tymed == TYMED_ENHMF && medium.hEnhMetaFile) {
        const HENHMETAFILE metafile = medium.hEnhMetaFile;
        drawn = DrawToBmp(
            width, height, [&](HDC dc, const RECT& bounds) { return PlayEnhMetaFile(dc, metafile, &bounds) != FALSE; },
            picture.data);
    }
    ReleaseStgMedium(&medium);
    if (drawn) picture.extension = "bmp";
    return drawn;
}

PluginExportSource::PluginExportSource(CParleymanager& manager, std::string account)
    : manager_(manager), account_(std::move(account)) {}

bool PluginExportSource::Load(const ExportItem& item, CMessageContent& content, std::string& error) {
    // The store follows the signed-in account; after a sign-out it holds no
    // conversations of this export's account any more.
    CLogManager& store = manager_.LogStore();
    if (!store.IsAccountOpen() || store.AccountName() != account_) {
        error = "the account has signed out";
        return false;
    }
    const HRESULT hr = store.LoadConversation(std::to_string(item.entry.number).c_str(), content);
    if (hr == S_OK) return true;
    char text[64];
    std::snprintf(text, sizeof(text), "could not be read (Code: 0x%08X)", static_cast<unsigned>(hr));
    error = text;
    return false;
}

bool PluginExportSource::Picture(const std::string& key, ExportPicture& picture) {
    CObjectCache& cache = manager_.ObjectCache();
    CLSID classId{};
    IStorage* storage = cache.Lookup(key, classId);
    if (!storage) return false;
    std::string contents;
    if (ReadContents(storage, contents) && SniffPicture(contents, picture)) return true;
    return DrawCachedObject(cache, key, picture);
}

std::string PluginExportSource::FormatDate(double oleDate) { return Utf8FromSystemAnsi(FormatDateTime(oleDate)); }

ExportChooser SetExportChooser(ExportChooser chooser) {
    const ExportChooser previous = g_chooser;
    g_chooser = chooser ? chooser : AskUser;
    return previous;
}

bool LogExportRunning() { return g_running != nullptr; }

int SetLogExportSliceBudget(int milliseconds) {
    const int previous = g_sliceBudgetMs;
    g_sliceBudgetMs = milliseconds < 0 ? 0 : milliseconds;
    return previous;
}

void StartLogExport(CLogViewer& viewer, CParleymanager& manager) {
    if (g_running) {
        SetForegroundWindow(g_running->GetSafeHwnd());
        return;
    }
    const std::vector<LogEntry>& index = manager.LogStore().Index();
    const std::vector<int> group = SelectedGroup(viewer);
    ExportRequest request;
    request.shownAvailable = viewer.ShownConversation() != 0;
    request.selectedAvailable = !group.empty();
    if (index.empty()) {
        ShowUserMessage(viewer.GetSafeHwnd(), "There are no logged conversations to export.", "Parleym",
                        MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!g_chooser(viewer.GetSafeHwnd(), request)) return;
    // A lock or a sign-out destroys the viewer (and the dialog with it) while the question shows.
    if (manager.LogViewer() != &viewer) return;

    std::map<int, const LogEntry*> byNumber;
    for (const LogEntry& entry : index) byNumber.emplace(entry.number, &entry);
    std::vector<int> numbers;
    if (request.scope == ExportScope::kShown && request.shownAvailable) numbers = {viewer.ShownConversation()};
    else if (request.scope == ExportScope::kSelected && request.selectedAvailable) numbers = group;
    else
        for (const LogEntry& entry : index) numbers.push_back(entry.number);

    std::map<std::string, std::string> friendlyNames;
    for (const CContactInfo& contact : manager.Contacts())
        friendlyNames.emplace(contact.signInName, contact.friendlyName);
    const std::string account = Utf8FromSystemAnsi(manager.LogStore().AccountName());
    std::vector<ExportItem> items;
    for (const int number : numbers) {
        const auto found = byNumber.find(number);
        if (found == byNumber.end()) continue;
        ExportItem item;
        item.account = account;
        item.entry = *found->second;
        const auto name = friendlyNames.find(item.entry.contact);
        if (name != friendlyNames.end() && name->second != item.entry.contact)
            item.contactName = Utf8FromSystemAnsi(name->second);
        items.push_back(std::move(item));
    }
    auto* progress = new CExportProgressDlg(manager, std::move(items), request);
    if (!progress->Begin(viewer.GetSafeHwnd())) delete progress;
}

} // namespace parleym
