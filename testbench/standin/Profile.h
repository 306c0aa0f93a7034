#pragma once
// What differs between the two messengers the stand-in plays: window class names,
// product title and the rich-edit class of the conversation controls.
#include <string>

namespace standin {

struct Profile {
    std::string key;           // "wm" or "msn"
    std::string productTitle;  // main window title
    std::string uiManagerClass;
    std::string mainClass;
    std::string genericClass;
    std::string hiddenClass;
    std::string conversationClass;
    std::string historyClass;
    std::string inputClass;
};

const Profile& WindowsMessengerProfile();
const Profile& MsnMessengerProfile();
// By executable name: "msnmsgr.exe" plays MSN Messenger, anything else Windows Messenger.
const Profile& ProfileForExecutable(const std::string& exeName);

}  // namespace standin
