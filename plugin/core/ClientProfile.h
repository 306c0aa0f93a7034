#pragma once
// What differs between the two messengers: the class names of their windows
// and which rich-edit classes their conversation windows use.
#include <windows.h>

#include "plugin/core/ContactInfo.h"

namespace parleym {

class CParleymanager;

enum WindowKind : int {
    kOtherWindow = 0,
    kMainWindow = 1,
    kGenericWindow = 2,  // host of the contact list
    kConversationWindow = 3,
    kClientHiddenWindow = 4,
};

struct ConversationControls {
    HWND history = nullptr;  // read-only rich edit
    HWND input = nullptr;    // writable rich edit
    HWND sendButton = nullptr;
    HWND addressEdit = nullptr;
};

class CClientProfile {
public:
    CClientProfile() = default;
    CClientProfile(const CClientProfile&) = delete;
    CClientProfile& operator=(const CClientProfile&) = delete;

    virtual int ClassifyWindow(HWND window);
    virtual HWND FindMainWindow();
    // The contact an "edit" child of the window names (the manager's
    // FindContactByText); the manager's empty record if none, and for a
    // conversation with several people.
    virtual CContactInfo FindConversationContact(CParleymanager& manager, HWND conversation);
    virtual ConversationControls FindConversationControls(HWND conversation);
    virtual ~CClientProfile() = default;

protected:
    // Class names of kinds 1, 2, 3 and 4, in that order.
    virtual const char* const* ClassNames() const = 0;
    virtual bool IsRichEditClass(const char* className) const = 0;

private:
    struct ControlSearch;
    static BOOL CALLBACK FindControlsProc(HWND child, LPARAM lParam);
};

class CWindowsMessengerProfile : public CClientProfile {
protected:
    const char* const* ClassNames() const override;
    bool IsRichEditClass(const char* className) const override;
};

class CMsnMessengerProfile : public CClientProfile {
protected:
    const char* const* ClassNames() const override;
    bool IsRichEditClass(const char* className) const override;
};

} // namespace parleym
