#pragma once
// The Messenger API as the stand-in offers it: the Messenger object registered under
// the messenger's class id, its contacts, windows and the DMessengerEvents source.
#include "plugin/core/MessengerApi.h"
#include "testbench/standin/MessengerState.h"

#include <string>

namespace standin {

// What the API object needs from the stand-in's user interface.
class MessengerHost {
public:
    virtual ~MessengerHost() = default;
    // Opens (or finds) the conversation window with a contact; null on failure.
    virtual HWND OpenConversation(const std::string& signinName) = 0;
    virtual HWND MainWindow() = 0;
};

class MessengerApi {
public:
    MessengerApi(MessengerState& state, MessengerHost& host);
    ~MessengerApi();
    MessengerApi(const MessengerApi&) = delete;
    MessengerApi& operator=(const MessengerApi&) = delete;

    // CoRegisterClassObject under CLSID_Messenger, as the messenger does.
    HRESULT Register();
    void Revoke();

    void FireSignin(HRESULT hr);
    void FireSignout();
    void FireContactListAdd(HRESULT hr, const ContactPtr& contact);
    void FireContactListRemove(HRESULT hr, const ContactPtr& contact);
    void FireContactStatusChange(const ContactPtr& contact, MISTATUS status);
    int SinkCount() const;

    class Impl;

private:
    Impl* impl_;
};

}  // namespace standin
