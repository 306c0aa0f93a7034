#include "plugin/core/ClientProfile.h"

#include <string>

#include "plugin/core/Parleymanager.h"
#include "shared/SwallowedFailure.h"

namespace parleym {
namespace {

bool ClassIs(HWND window, const char* expected, int capacity) {
    char name[256] = {};
    if (!GetClassNameA(window, name, capacity)) return false;
    return lstrcmpiA(name, expected) == 0;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

struct MainWindowSearch {
    CClientProfile* profile;
    HWND found;
};

BOOL CALLBACK FindMainWindowProc(HWND window, LPARAM lParam) {
    try {
        auto* search = reinterpret_cast<MainWindowSearch*>(lParam);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && search->profile->ClassifyWindow(window) == kMainWindow) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        ReportSwallowed("main window enumeration");
        return FALSE;
    }
}

struct ContactSearch {
    CParleymanager* manager;
    CContactInfo found;
    bool done;
};

BOOL CALLBACK FindContactProc(HWND child, LPARAM lParam) {
    try {
        auto* search = reinterpret_cast<ContactSearch*>(lParam);
        if (!ClassIs(child, "edit", 255)) return TRUE;
        char text[256] = {};
        GetWindowTextA(child, text, sizeof(text));
        CContactInfo contact = search->manager->FindContactByText(text);
        if (search->manager->IsNoContact(contact)) return TRUE;
        search->found = contact;
        search->done = true;
        return FALSE;
    } catch (...) {
        ReportSwallowed("contact edit enumeration");
        return FALSE;
    }
}

} // namespace

int CClientProfile::ClassifyWindow(HWND window) {
    char name[129] = {};
    if (!window || !GetClassNameA(window, name, 128)) return kOtherWindow;
    const char* const* names = ClassNames();
    for (int kind = kMainWindow; kind <= kClientHiddenWindow; ++kind)
        if (lstrcmpiA(name, names[kind - 1]) == 0) return kind;
    return kOtherWindow;
}

HWND CClientProfile::FindMainWindow() {
    MainWindowSearch search{this, nullptr};
    EnumWindows(&FindMainWindowProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

CContactInfo CClientProfile::FindConversationContact(CParleymanager& manager, HWND conversation) {
    ContactSearch search{&manager, manager.NoContact(), false};
    EnumChildWindows(conversation, &FindContactProc, reinterpret_cast<LPARAM>(&search));
    return search.done ? search.found : manager.NoContact();
}

struct CClientProfile::ControlSearch {
    const CClientProfile* profile;
    ConversationControls controls;
};

BOOL CALLBACK CClientProfile::FindControlsProc(HWND child, LPARAM lParam) {
    try {
        auto* search = reinterpret_cast<ControlSearch*>(lParam);
        const std::string cls = ClassOf(child);
        if (search->profile->IsRichEditClass(cls.c_str())) {
            if (GetWindowLongPtrA(child, GWL_STYLE) & ES_READONLY)
                search->controls.history = child;
            else
                search->controls.input = child;
        } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
            char text[64] = {};
            GetWindowTextA(child, text, sizeof(text));
            if (lstrcmpA(text, "&Send") == 0) search->controls.sendButton = child;
        } else if (lstrcmpiA(cls.c_str(), "edit") == 0 && GetDlgCtrlID(child) == 9) {
            search->controls.addressEdit = child;
        }
        return TRUE;
    } catch (...) {
        ReportSwallowed("conversation control enumeration");
        return FALSE;
    }
}

ConversationControls CClientProfile::FindConversationControls(HWND conversation) {
    ControlSearch search{this, {}};
    EnumChildWindows(conversation, &CClientProfile::FindControlsProc, reinterpret_cast<LPARAM>(&search));
    return search.controls;
}

const char* const* CWindowsMessengerProfile::ClassNames() const {
    static const char* const names[] = {"MSBLClass", "MSBLGeneric", "IMWindowClass", "HiddenWindowClass"};
    return names;
}

bool CWindowsMessengerProfile::IsRichEditClass(const char* className) const {
    return lstrcmpiA(className, "RichEdit20W") == 0;
}

const char* const* CMsnMessengerProfile::ClassNames() const {
    static const char* const names[] = {"MSNMSBLClass", "MSNMSBLGeneric", "IMWindowClass", "MSNHiddenWindowClass"};
    return names;
}

bool CMsnMessengerProfile::IsRichEditClass(const char* className) const {
    return lstrcmpiA(className, "RichEdit20A") == 0 || lstrcmpiA(className, "RichEdit20W") == 0;
}

} // namespace parleym
