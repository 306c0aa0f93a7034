#pragma once
// The log viewer's Find: asks for a text, searches every logged conversation
// of the account in slices on a timer (the user-interface thread stays free
// between them), lists the hits in a pane below the tree and the conversation,
// and shows a chosen hit's conversation with the match selected.
#include <memory>
#include <string>

#include "framework/Window.h"
#include "plugin/logging/LogSearchRun.h"

namespace parleym {

class CParleymanager;
class CLogViewer;

class CLogFindPane : public CWindow {
public:
    // Longest a slice of the search may take; the rest of the time is the messenger's.
    static constexpr double kSliceMs = 30;

    CLogFindPane(CLogViewer& viewer, CParleymanager* manager);
    ~CLogFindPane() override;

    // A hidden child of the viewer.
    bool Create(HWND viewer);

    // "Find...": asks for the text (modal) and starts the search.
    void Find();
    // Starts a search for `ansiText` without asking.
    void StartSearch(const std::string& ansiText);
    // F3 / Shift+F3: the next or previous hit, shown with its match selected.
    void Step(int direction);
    // Escape or the pane's button: stops a running search, or closes the pane.
    void CancelOrClose();

    bool Running() const { return running_; }
    bool Visible() const;
    int Height(int clientHeight) const;
    const CLogSearchRun* Run() const { return run_.get(); }
    // The row selected in the results list, -1 for none.
    int SelectedHit() const;
    // Shows hit `row` (0-based): its conversation, the match selected.
    void ChooseHit(int row);
    // The status text of the last search (also in the viewer's status bar).
    const std::string& Summary() const { return summary_; }

protected:
    int OnCreate(CREATESTRUCTA* create) override;
    void OnSize(UINT type, int width, int height) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    void Slice();
    void Finish(bool cancelled);
    void ShowProgress();
    void SetSummary(const std::string& text);
    void SetVisible(bool visible);
    void FillDisplayInfo(NMLVDISPINFOA& info) const;
    void SelectRow(int row);

    CLogViewer& viewer_;
    CParleymanager* manager_;
    HWND list_ = nullptr;
    HWND summaryLabel_ = nullptr;
    HWND button_ = nullptr;
    HFONT font_ = nullptr;
    std::unique_ptr<CLogSearchRun> run_;
    std::string query_;  // ANSI, as typed
    std::string summary_;
    bool running_ = false;
    bool choosing_ = false;
    int current_ = -1;  // the hit shown last
    double startedMs_ = 0;
    double longestSliceMs_ = 0;
};

} // namespace parleym
