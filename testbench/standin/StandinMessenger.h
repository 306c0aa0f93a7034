#pragma once
// The stand-in messenger's windows and behaviour: the user-interface manager, main,
// generic (contact list) and hidden windows, the conversation windows, and the
// Messenger API object that reports what happens.
#include "testbench/standin/ConversationWindow.h"
#include "testbench/standin/MessengerApiObject.h"
#include "testbench/standin/MessengerState.h"
#include "testbench/standin/Profile.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace standin {

class StandinMessenger : public MessengerHost {
public:
    StandinMessenger(HINSTANCE instance, const Profile& profile, MessengerState& state);
    ~StandinMessenger() override;
    StandinMessenger(const StandinMessenger&) = delete;
    StandinMessenger& operator=(const StandinMessenger&) = delete;

    // Window classes, hidden and main windows, the API registration (unless withApi is
    // false) and the user-interface manager window unless it is to come later.
    bool Start(bool withApi, bool withUiManager);
    void CreateUiManager();
    void DestroyAll();

    void SignIn(const std::string& signinName, const std::string& friendlyName, HRESULT hr);
    // With `contactsOffline`, every contact then goes offline with an event of its own, as
    // the messenger no longer sees anyone.
    void SignOut(bool contactsOffline);
    void AddContact(const std::string& signinName, const std::string& friendlyName, MISTATUS status, HRESULT hr);
    bool RemoveContact(const std::string& signinName);
    bool SetContactStatus(const std::string& signinName, MISTATUS status);

    // By its name in the transcript: the contact's sign-in name, or several joined by
    // commas once others were invited.
    ConversationWindow* FindConversation(const std::string& name) const;
    // Brings `other` into the conversation, which then has several people in it.
    bool Invite(const std::string& name, const std::string& other);
    ConversationWindow* OpenConversationWindow(const std::string& signinName);
    std::vector<ConversationWindow*> Conversations() const { return conversations_; }

    // Shows the contact list's context menu for a contact and picks the item whose text
    // is `itemText`. Returns TrackPopupMenu's result; `found` tells if the item existed.
    UINT ChooseContextMenuItem(const std::string& signinName, const std::string& itemText, bool returnCommand,
                               bool& found);

    HWND MainWindow() override { return main_; }
    HWND OpenConversation(const std::string& signinName) override;
    HWND GenericWindow() const { return generic_; }
    HWND ListView() const { return list_; }
    HWND HiddenWindow() const { return hidden_; }
    HWND UiManagerWindow() const { return uiManager_; }
    MessengerApi& Api() { return *api_; }
    const Profile& GetProfile() const { return profile_; }

private:
    // The window procedure of a window whose CreateWindowEx parameter is this object:
    // every message goes to `Handle`.
    template <LRESULT (StandinMessenger::*Handle)(HWND, UINT, WPARAM, LPARAM)>
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void OnConversationDestroyed(void* context, ConversationWindow* window);
    LRESULT HandleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleGeneric(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool RegisterClasses();
    void RefreshContactList();
    void SetMainTitle();
    void OnOwnCommand(UINT id, const char* where);

    HINSTANCE instance_;
    const Profile& profile_;
    MessengerState& state_;
    std::unique_ptr<MessengerApi> api_;
    HWND hidden_ = nullptr;
    HWND main_ = nullptr;
    HWND generic_ = nullptr;
    HWND list_ = nullptr;
    HWND uiManager_ = nullptr;
    std::vector<ConversationWindow*> conversations_;
    std::string contextContact_;  // contact the open context menu is about
};

}  // namespace standin
