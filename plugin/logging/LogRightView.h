#pragma once
// The log viewer's right pane: a read-only rich-edit control filling the view.
#include "framework/View.h"

namespace parleym {

class CLogRightView : public CView {
public:
    HWND RichEdit() const { return richEdit_; }
    void Clear() const;

protected:
    int OnCreate(CREATESTRUCTA* create) override;
    void OnSize(UINT type, int width, int height) override;

private:
    HWND richEdit_ = nullptr;
};

} // namespace parleym
