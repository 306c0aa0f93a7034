#include "framework/Window.h"

#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

constexpr char kFrameworkClass[] = "ParleymFwWindow";
HINSTANCE g_resourceModule = nullptr;

HINSTANCE ModuleOfThisCode() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleOfThisCode), &module);
    return module;
}

} // namespace

HINSTANCE ResourceModule() {
    if (!g_resourceModule) g_resourceModule = ModuleOfThisCode();
    return g_resourceModule;
}

void SetResourceModule(HINSTANCE module) { g_resourceModule = module; }

std::string LoadResourceString(UINT id) {
    char buffer[1024];
    const int length = LoadStringA(ResourceModule(), id, buffer, sizeof(buffer));
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

void EnsureCommonControls() {
    static bool done = false;
    if (done) return;
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    done = InitCommonControlsEx(&init) != FALSE;
}

void SetWindowIcons(HWND window, HICON smallIcon, HICON bigIcon) {
    if (smallIcon) SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    if (bigIcon) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
}

CWindow::~CWindow() {
    // A routed window must not outlive its object: its procedure would reach freed memory.
    if (hwnd_ && owned_ && IsWindow(hwnd_)) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

void CWindow::Attach(HWND window) {
    hwnd_ = window;
    owned_ = false;
}

HWND CWindow::Detach() {
    HWND window = hwnd_;
    hwnd_ = nullptr;
    owned_ = false;
    return window;
}

bool CWindow::CreateEx(DWORD exStyle, const char* title, DWORD style, int x, int y, int width, int height,
                       HWND parent, HMENU menuOrId) {
    HINSTANCE instance = ModuleOfThisCode();
    WNDCLASSA existing{};
    if (!GetClassInfoA(instance, kFrameworkClass, &existing)) {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &CWindow::StaticWindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kFrameworkClass;
        if (!RegisterClassA(&wc)) return false;
    }
    HWND window = CreateWindowExA(exStyle, kFrameworkClass, title ? title : "", style, x, y, width, height, parent,
                                  menuOrId, instance, this);
    return window != nullptr;
}

bool CWindow::DestroyWindow() {
    if (!hwnd_) return false;
    return ::DestroyWindow(hwnd_) != FALSE;
}

CWindow* CWindow::FromHandle(HWND window) {
    if (!window || GetWindowLongPtrA(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&StaticWindowProc))
        return nullptr;
    return reinterpret_cast<CWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK CWindow::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        CWindow* self = nullptr;
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            self = static_cast<CWindow*>(create->lpCreateParams);
            if (self) {
                self->hwnd_ = window;
                self->owned_ = true;
                SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            }
        } else {
            self = reinterpret_cast<CWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        }
        if (!self) return DefWindowProcA(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            const LRESULT result = self->Route(message, wParam, lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            self->owned_ = false;
            self->PostNcDestroy();
            return result;
        }
        return self->Route(message, wParam, lParam);
    } catch (...) {
        ReportSwallowed("window procedure");
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CWindow::Route(UINT message, WPARAM wParam, LPARAM lParam) { return WindowProc(message, wParam, lParam); }

LRESULT CWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_CREATE:
        return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
        break;
    case WM_NOTIFY:
        if (OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return result;
        break;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        break;
    }
    return Default(message, wParam, lParam);
}

bool CWindow::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
int CWindow::OnCreate(CREATESTRUCTA*) { return 0; }
void CWindow::OnSize(UINT, int, int) {}
bool CWindow::OnCommand(WORD, WORD, HWND) { return false; }
bool CWindow::OnNotify(NMHDR*, LRESULT&) { return false; }
void CWindow::OnClose() { DestroyWindow(); }
void CWindow::OnDestroy() {}
void CWindow::PostNcDestroy() {}

LRESULT CWindow::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

} // namespace parleym
