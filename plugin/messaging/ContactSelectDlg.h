#pragma once
// The one dialog in which the user picks contacts of the messenger's list: the
// offline contact to write to, the online contact to forward a conversation to,
// or the online contacts who get a broadcast message.
#include <windows.h>

#include <functional>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "framework/ListView.h"
#include "plugin/core/ContactInfo.h"
#include "plugin/core/ParleymDlg.h"

namespace parleym {

enum ContactSelectMode : int {
    kSelectOfflineContact = 0,
    kSelectForwardContact = 1,
    kSelectBroadcastContacts = 2,
};

class CContactSelectDlg : public CParleymDlg {
public:
    // The contact list as the messenger has it now, asked when the dialog opens and on OK.
    using ContactSource = std::function<std::vector<CContactInfo>()>;

    CContactSelectDlg(IDialogHost& host, ContactSource contacts, int mode);

    // A sign-in name that must not be offered (the forwarded conversation's contact).
    void Exclude(const std::string& signInName) { excluded_.insert(signInName); }

    // After OK: the chosen contacts from the top of the list down.
    const std::list<CContactInfo>& Chosen() const { return chosen_; }
    int Mode() const { return mode_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnDestroy() override;

private:
    bool Offers(const CContactInfo& contact) const;

    ContactSource contacts_;
    HWND prompt_ = nullptr;
    CListView list_;
    std::list<CContactInfo> chosen_;
    std::set<std::string> excluded_;
    int mode_;
    HIMAGELIST images_ = nullptr;
};

} // namespace parleym
