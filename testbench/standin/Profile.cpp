#include "testbench/standin/Profile.h"

#include "testbench/standin/TextUtil.h"

namespace standin {

const Profile& WindowsMessengerProfile() {
    static const Profile profile{"wm",          "Windows Messenger", "MSBLUIManager", "MSBLClass",
                                 "MSBLGeneric", "HiddenWindowClass", "IMWindowClass", "RichEdit20W",
                                 "RichEdit20W"};
    return profile;
}

const Profile& MsnMessengerProfile() {
    static const Profile profile{"msn",           "MSN Messenger",  "MsnMsgrUIManager",
                                 "MSNMSBLClass",  "MSNMSBLGeneric", "MSNHiddenWindowClass",
                                 "IMWindowClass", "RichEdit20A",    "RichEdit20A"};
    return profile;
}

const Profile& ProfileForExecutable(const std::string& exeName) {
    return SameText(exeName, "msnmsgr.exe") ? MsnMessengerProfile() : WindowsMessengerProfile();
}

}  // namespace standin
