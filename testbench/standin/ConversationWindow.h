#pragma once
// One conversation window ("IMWindowClass"): menu bar, read-only history, input,
// "&Send" button and the address box (edit, id 9) naming the contact.
#include "testbench/standin/MessengerState.h"
#include "testbench/standin/Profile.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace standin {

class ConversationWindow {
public:
    static constexpr int kAddressId = 9;
    static constexpr int kHistoryId = 1000;
    static constexpr int kInputId = 1001;
    static constexpr int kSendId = 1002;

    static bool RegisterWindowClass(HINSTANCE instance, const Profile& profile);

    // Creates and shows the window; null on failure. The object deletes itself when its
    // window is destroyed (after telling `onDestroyed`).
    using DestroyedCallback = void (*)(void* context, ConversationWindow* window);
    static ConversationWindow* Create(HINSTANCE instance, const Profile& profile, MessengerState& state,
                                      ContactPtr contact, DestroyedCallback onDestroyed, void* context);

    HWND Window() const { return window_; }
    HWND History() const { return history_; }
    HWND Input() const { return input_; }
    HWND SendButton() const { return send_; }
    const ContactPtr& Contact() const { return contact_; }
    // The transcript's name of the window: its people's sign-in names, joined by commas.
    std::string Name() const;
    bool Has(const std::string& signinName) const;
    // Someone else joins: the address box then names everyone ("To: A <a>, B <b>").
    void Invite(const ContactPtr& contact);

    // Sets the title the way the messenger does, through SetWindowTextW.
    void UpdateTitle();
    void Receive(const std::string& text);
    // A line the messenger writes into the history by itself (a notice, or blank
    // lines), in one insertion.
    void Note(const std::string& text);
    // What pressing Send does: takes the input, shows it as said by the user, empties it.
    void Send();
    // `action` runs once `taken` more sends have been taken (e.g. the contact signs out).
    void SetAfterSend(int taken, std::function<void()> action) {
        sendsBeforeAction_ = taken;
        afterSend_ = std::move(action);
    }
    // After `taken` more sends, `count` sends are not taken, as while the messenger is
    // still connecting the conversation: the input keeps its text.
    void RefuseSends(int count, int taken) {
        refusedSends_ = count;
        sendsBeforeRefusal_ = taken;
    }

private:
    ConversationWindow(const Profile& profile, MessengerState& state, ContactPtr contact)
        : profile_(profile), state_(state), contact_(contact), people_{std::move(contact)} {}
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK InputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Layout();
    std::string AddressText() const;

    const Profile& profile_;
    MessengerState& state_;
    ContactPtr contact_;
    std::vector<ContactPtr> people_;  // contact_ first
    HWND window_ = nullptr;
    HWND address_ = nullptr;
    HWND history_ = nullptr;
    HWND input_ = nullptr;
    HWND send_ = nullptr;
    WNDPROC inputDefault_ = nullptr;
    DestroyedCallback onDestroyed_ = nullptr;
    void* context_ = nullptr;
    int refusedSends_ = 0;
    int sendsBeforeRefusal_ = 0;
    int sendsBeforeAction_ = 0;
    std::function<void()> afterSend_;
};

}  // namespace standin
