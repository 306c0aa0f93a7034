#include "plugin/logging/LogViewer.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "plugin/core/Parleymanager.h"
#include "plugin/core/UserMessage.h"
#include "plugin/logging/LogExportResources.h"
#include "plugin/logging/LogFindResources.h"
#include "plugin/logging/LogManager.h"
#include "plugin/logging/LogViewerExport.h"
#include "plugin/logging/LogViewerResources.h"
#include "plugin/logging/ObjectCache.h"
#include "plugin/storage/MessageContent.h"
#include "plugin/storage/RichEditBridge.h"

namespace parleym {

namespace {
constexpr int kStatusAccount = 1;
constexpr int kStatusLocation = 2;
// Posted to the viewer itself: errors from a selection change, shown once the tree has finished it.
constexpr UINT kShowWaitingErrors = WM_APP + 0x51;
}

CLogViewer::CLogViewer(CParleymanager* manager)
    : manager_(manager), find_(*this, manager), grouping_(ID_LOG_GROUP_BY_DATE) {}

int CLogViewer::OnCreate(CREATESTRUCTA* create) {
    SetWindowIcons(GetSafeHwnd(), nullptr, LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDI_LOG_VIEWER)));
    static const UINT kIndicators[] = {CStatusBar::kSeparator, ID_INDICATOR_ACCOUNT, ID_INDICATOR_LOCATION};
    if (!CreateStatusBar(kIndicators, 3)) return -1;
    return CFrameWnd::OnCreate(create);
}

bool CLogViewer::OnCreateClient(CREATESTRUCTA*) {
    if (!splitter_.CreateStatic(GetSafeHwnd(), 2)) return false;
    if (!splitter_.CreateView(0, leftView_, 250) || !splitter_.CreateView(1, rightView_, 100)) {
        splitter_.DestroyWindow();
        return false;
    }
    treeId_ = leftView_.ControlId();
    leftView_.Prepare();
    SetClientWindow(splitter_.GetSafeHwnd());
    // Find is an addition: a viewer without it still shows the logs.
    if (find_.Create(GetSafeHwnd())) keys_.Start(GetSafeHwnd());
    PostMessageA(GetSafeHwnd(), WM_COMMAND, ID_LOG_UPDATE, 0);
    return true;
}

bool CLogViewer::OnCommand(WORD id, WORD, HWND) {
    // A store error shown inside a refresh must not let an event rebuild the tree under it.
    DeferredMessages errorsAfterward;
    switch (id) {
    case ID_LOG_UPDATE:
        Refresh();
        return true;
    case ID_LOG_GROUP_BY_DATE:
    case ID_LOG_GROUP_BY_USER:
        SetGrouping(id);
        return true;
    case ID_LOG_EXPORT:
        if (manager_) StartLogExport(*this, *manager_);
        return true;
    case ID_LOG_EXIT:
        PostMessageA(GetSafeHwnd(), WM_CLOSE, 0, 0);
        return true;
    case ID_LOG_FIND:
        find_.Find();
        return true;
    case ID_LOG_FIND_NEXT:
        find_.Step(1);
        return true;
    case ID_LOG_FIND_PREVIOUS:
        find_.Step(-1);
        return true;
    case ID_LOG_FIND_CANCEL:
        find_.CancelOrClose();
        return true;
    default:
        return false;
    }
}

void CLogViewer::SetGrouping(UINT grouping) {
    if (grouping_ == grouping) return;
    grouping_ = grouping;
    Refresh();
}

bool CLogViewer::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == kShowWaitingErrors) {
        ShowWaitingMessages();
        result = 0;
        return true;
    }
    if (message == WM_INITMENUPOPUP) {
        // The bar's grouping items wherever they sit, whichever popup opens.
        HMENU menu = GetMenu(GetSafeHwnd());
        if (!menu) menu = reinterpret_cast<HMENU>(wParam);
        CheckMenuItem(menu, ID_LOG_GROUP_BY_DATE,
                      MF_BYCOMMAND | (grouping_ == ID_LOG_GROUP_BY_DATE ? MF_CHECKED : MF_UNCHECKED));
        CheckMenuItem(menu, ID_LOG_GROUP_BY_USER,
                      MF_BYCOMMAND | (grouping_ == ID_LOG_GROUP_BY_USER ? MF_CHECKED : MF_UNCHECKED));
    }
    return CFrameWnd::OnMessage(message, wParam, lParam, result);
}

bool CLogViewer::OnNotify(NMHDR* header, LRESULT&) {
    if (header && header->idFrom == treeId_ && !changingTree_ && (header->code == TVN_SELCHANGINGA || header->code == TVN_SELCHANGINGW)) {
        // The tree is inside its own selection change: a box shown before it has
        // finished would let a contact's status change rebuild the tree under it.
        {
            DeferredMessages errorsLater(DeferredMessages::kKeepWaiting);
            const auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
            ShowConversation(static_cast<int>(leftView_.GetItemData(change->itemNew.hItem)));
        }
        if (HasWaitingMessages()) PostMessageA(GetSafeHwnd(), kShowWaitingErrors, 0, 0);
    }
    // The change itself goes on as usual.
    return false;
}

void CLogViewer::ShowConversation(int number) {
    if (number == 0 || number == shownConversation_ || !manager_) return;
    CMessageContent content;
    const HRESULT hr = manager_->LogStore().LoadConversation(std::to_string(number).c_str(), content);
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof(text), "Failed to open requested log file. Code: 0x%08X",
                      static_cast<unsigned>(hr));
        ShowError(text, "Error");
        return;
    }
    rightView_.Clear();
    CRichEditBridge bridge(&manager_->ObjectCache(), rightView_.RichEdit(), true);
    bridge.Replay(content, false);
    bridge.Release();
    shownConversation_ = number;
}

void CLogViewer::Refresh() {
    rightView_.Clear();
    shownConversation_ = 0;
    if (!manager_) return;
    const std::vector<LogTreeGroup> groups = BuildTree();
    changingTree_ = true;
    leftView_.Show(groups);
    changingTree_ = false;
    ShowAccountInStatusBar();
}

void CLogViewer::Update() {
    if (!manager_) return;
    if (!TreeIsCurrent()) {
        const std::vector<LogTreeGroup> groups = BuildTree();
        changingTree_ = true;
        leftView_.Update(groups);
        // The conversation on show keeps its item selected, wherever the item now is.
        HTREEITEM shown = leftView_.ItemOf(shownConversation_);
        if (shown) {
            if (leftView_.GetSelectedItem() != shown) leftView_.SelectItem(shown);
        } else if (shownConversation_ != 0) {
            // It left the index: nothing on show stands for it any more.
            rightView_.Clear();
            shownConversation_ = 0;
        }
        changingTree_ = false;
    }
    ShowAccountInStatusBar();
}

std::vector<LogTreeGroup> CLogViewer::BuildTree() {
    builtFrom_.friendlyNames.clear();
    for (const CContactInfo& contact : manager_->Contacts())
        builtFrom_.friendlyNames.emplace(contact.signInName, contact.friendlyName);
    builtFrom_.index = manager_->LogStore().Index();
    builtFrom_.grouping = grouping_;
    const LogGrouping grouping = grouping_ == ID_LOG_GROUP_BY_USER ? LogGrouping::kByUser : LogGrouping::kByDate;
    return BuildLogTree(builtFrom_.index, builtFrom_.friendlyNames, grouping);
}

bool CLogViewer::TreeIsCurrent() const {
    if (builtFrom_.grouping != grouping_) return false;
    const std::vector<LogEntry>& index = manager_->LogStore().Index();
    const auto sameEntry = [](const LogEntry& a, const LogEntry& b) {
        return a.number == b.number && a.start == b.start && a.end == b.end && a.contact == b.contact;
    };
    if (index.size() != builtFrom_.index.size() ||
        !std::equal(index.begin(), index.end(), builtFrom_.index.begin(), sameEntry))
        return false;
    // Friendly names show only when grouping by contact.
    if (grouping_ != ID_LOG_GROUP_BY_USER) return true;
    std::map<std::string, std::string> names;
    for (const CContactInfo& contact : manager_->Contacts()) names.emplace(contact.signInName, contact.friendlyName);
    return names == builtFrom_.friendlyNames;
}

void CLogViewer::ShowAccountInStatusBar() {
    CStatusBar* statusBar = GetStatusBar();
    if (!statusBar) return;
    const CContactInfo& self = manager_->Self();
    std::string account = "Offline";
    std::string location = "N/A";
    if (self.IsOnline()) {
        account = self.friendlyName == self.signInName ? self.signInName
                                                       : self.friendlyName + "(" + self.signInName + ")";
        location = "Logs are stored in " + manager_->LogStore().Path();
    }
    statusBar->SetPaneText(kStatusAccount, account);
    statusBar->SetPaneText(kStatusLocation, location);
    statusBar->SetPaneWidth(kStatusAccount, statusBar->TextWidth(account));
    statusBar->SetPaneWidth(kStatusLocation, statusBar->TextWidth(location));
}

void CLogViewer::OnSize(UINT, int, int) { LayOut(); }

void CLogViewer::LayOut() {
    RecalcLayout();
    HWND splitter = splitter_.GetSafeHwnd();
    if (!find_.Visible() || !splitter) return;
    RECT area{};
    GetClientRect(splitter, &area);
    const int height = find_.Height(area.bottom);
    const int top = area.bottom > height ? area.bottom - height : 0;
    MoveWindow(splitter, 0, 0, area.right, top, TRUE);
    MoveWindow(find_.GetSafeHwnd(), 0, top, area.right, area.bottom - top, TRUE);
}

void CLogViewer::OnDestroy() {
    keys_.Stop();
    if (manager_ && manager_->LogViewer() == this) manager_->SetLogViewer(nullptr);
    CFrameWnd::OnDestroy();
}

CLogViewer* OpenLogViewer(CParleymanager& manager) {
    if (auto* open = dynamic_cast<CLogViewer*>(manager.LogViewer())) {
        SetForegroundWindow(open->GetSafeHwnd());
        return open;
    }
    auto* viewer = new CLogViewer(&manager);
    if (!viewer->LoadFrame(IDR_LOG_VIEWER, WS_OVERLAPPEDWINDOW)) {
        delete viewer;
        return nullptr;
    }
    manager.SetLogViewer(viewer);
    ShowWindow(viewer->GetSafeHwnd(), SW_SHOW);
    UpdateWindow(viewer->GetSafeHwnd());
    return viewer;
}

void RefreshLogViewer(CFrameWnd* viewer) {
    if (auto* logViewer = dynamic_cast<CLogViewer*>(viewer)) logViewer->Update();
}

} // namespace parleym
