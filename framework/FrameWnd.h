#pragma once
// A top-level frame: title, menu and icon from one resource identifier, an
// optional status bar at the bottom and one client window (usually a
// splitter) filling the rest. Frames live on the heap and delete themselves
// when their window is gone.
#include "framework/Splitter.h"
#include "framework/StatusBar.h"

namespace parleym {

class CFrameWnd : public CWindow {
public:
    // Title = string resource `resourceId`, menu and large icon of the same
    // identifier when they exist. Returns false when the window could not be
    // made; the caller then still owns (and deletes) the object.
    bool LoadFrame(UINT resourceId, DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr);

    // Set by OnCreateClient; sized to the area above the status bar.
    void SetClientWindow(HWND window) { client_ = window; }
    CStatusBar* GetStatusBar() { return statusBar_.GetSafeHwnd() ? &statusBar_ : nullptr; }
    void RecalcLayout();
    // Frames are heap objects unless told otherwise (then the owner deletes them).
    void SetAutoDelete(bool autoDelete) { autoDelete_ = autoDelete; }

protected:
    // Creates the client window; false fails the frame's creation.
    virtual bool OnCreateClient(CREATESTRUCTA* create);
    // Creates a status bar with these panes (call from OnCreate).
    bool CreateStatusBar(const UINT* indicators, int count);

    int OnCreate(CREATESTRUCTA* create) override;
    void OnSize(UINT type, int width, int height) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void PostNcDestroy() override;

    UINT ResourceId() const { return resourceId_; }

private:
    CStatusBar statusBar_;
    HWND client_ = nullptr;
    UINT resourceId_ = 0;
    bool autoDelete_ = true;
    bool loading_ = false;
};

} // namespace parleym
