#include "plugin/about/Hyperlink.h"

#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

WNDPROC PropProc(HWND window) { return reinterpret_cast<WNDPROC>(GetPropA(window, kHyperlinkOriginalProcProp)); }

LRESULT CallPrevious(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return previous ? CallWindowProcA(previous, window, message, wParam, lParam)
                    : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK HyperlinkParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = nullptr;
    try {
        previous = PropProc(window);
        if (message == WM_CTLCOLORSTATIC && GetPropA(reinterpret_cast<HWND>(lParam), kHyperlinkFromStaticProp)) {
            const LRESULT brush = CallPrevious(previous, window, message, wParam, lParam);
            SetTextColor(reinterpret_cast<HDC>(wParam), kHyperlinkColour);
            return brush;
        }
        if (message == WM_DESTROY) {
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            RemovePropA(window, kHyperlinkOriginalProcProp);
        }
        return CallPrevious(previous, window, message, wParam, lParam);
    } catch (...) {
        ReportSwallowed("hyperlink parent window procedure");
        return 0;
    }
}

LRESULT CALLBACK HyperlinkControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        WNDPROC previous = PropProc(window);
        switch (message) {
        case WM_SETCURSOR: {
            HCURSOR hand = LoadCursor(nullptr, MAKEINTRESOURCE(32649));
            SetCursor(hand ? hand : LoadCursor(nullptr, IDC_ARROW));
            return TRUE;
        }
        case WM_MOUSEMOVE:
            if (GetCapture() != window) {
                SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropA(window, kHyperlinkUnderlineFontProp)),
                             FALSE);
                InvalidateRect(window, nullptr, FALSE);
                SetCapture(window);
            } else {
                RECT rect{};
                GetWindowRect(window, &rect);
                POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                ClientToScreen(window, &point);
                if (!PtInRect(&rect, point)) {
                    SendMessageA(window, WM_SETFONT,
                                 reinterpret_cast<WPARAM>(GetPropA(window, kHyperlinkOriginalFontProp)), FALSE);
                    InvalidateRect(window, nullptr, FALSE);
                    ReleaseCapture();
                }
            }
            break;
        case WM_DESTROY: {
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            RemovePropA(window, kHyperlinkOriginalProcProp);
            SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetPropA(window, kHyperlinkOriginalFontProp)),
                         FALSE);
            RemovePropA(window, kHyperlinkOriginalFontProp);
            if (HANDLE underline = GetPropA(window, kHyperlinkUnderlineFontProp))
                DeleteObject(static_cast<HGDIOBJ>(underline));
            RemovePropA(window, kHyperlinkUnderlineFontProp);
            RemovePropA(window, kHyperlinkFromStaticProp);
            break;
        }
        default:
            break;
        }
        return CallPrevious(previous, window, message, wParam, lParam);
    } catch (...) {
        ReportSwallowed("hyperlink window procedure");
        return 0;
    }
}

} // namespace

BOOL MakeHyperlink(HWND control) {
    HWND parent = GetParent(control);
    if (parent &&
        GetWindowLongPtrA(parent, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&HyperlinkParentProc)) {
        SetPropA(parent, kHyperlinkOriginalProcProp,
                 reinterpret_cast<HANDLE>(GetWindowLongPtrA(parent, GWLP_WNDPROC)));
        SetWindowLongPtrA(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HyperlinkParentProc));
    }

    SetWindowLongPtrA(control, GWL_STYLE, GetWindowLongPtrA(control, GWL_STYLE) | SS_NOTIFY);
    SetPropA(control, kHyperlinkOriginalProcProp, reinterpret_cast<HANDLE>(GetWindowLongPtrA(control, GWLP_WNDPROC)));
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HyperlinkControlProc));

    HFONT original = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    SetPropA(control, kHyperlinkOriginalFontProp, original);
    LOGFONTA logFont{};
    if (!GetObjectA(original ? static_cast<HGDIOBJ>(original) : GetStockObject(SYSTEM_FONT), sizeof(logFont),
                    &logFont))
        GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(logFont), &logFont);
    logFont.lfUnderline = TRUE;
    SetPropA(control, kHyperlinkUnderlineFontProp, CreateFontIndirectA(&logFont));

    SetPropA(control, kHyperlinkFromStaticProp, reinterpret_cast<HANDLE>(1));
    return 1;
}

BOOL MakeHyperlink(HWND dialog, int controlId) { return MakeHyperlink(GetDlgItem(dialog, controlId)); }

} // namespace parleym
