#pragma once
// The log viewer's right pane: a read-only rich-edit control filling the view.
#include "framework/View.h"

namespace parleym {

class CLogRightView : public CView {
public:
    // The control changes when a long conversation is left (see Clear):
    // ask for it each time rather than keep it.
    HWND RichEdit() const { return richEdit_; }
    // Empties the pane, ready for the next conversation.
    void Clear();

protected:
    int OnCreate(CREATESTRUCTA* create) override;
    void OnSize(UINT type, int width, int height) override;

private:
    HWND CreateRichEdit(int width, int height);
    HWND richEdit_ = nullptr;
};

} // namespace parleym
