// The messenger's automation interfaces (library "MessengerAPI" 1.0), declared by hand
// so that the plug-in and the test stand-in share one set of layouts, ids and constants.
// Slot order matters: callers reach methods through the vtable, so never reorder,
// insert or remove a method. Header-only: the ids are inline constants, nothing to link.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

// ---------------------------------------------------------------------------- ids
// Interfaces carry their ids in their type too, so that a typed QueryInterface needs no id argument.

inline constexpr GUID CLSID_Messenger = {0xB69003B3, 0xC55E, 0x4B48, {0x83, 0x6C, 0xBC, 0x59, 0x46, 0xFC, 0x3B, 0x28}};
struct IMessenger;
__CRT_UUID_DECL(IMessenger, 0xD50C3186, 0x0F89, 0x48F8, 0xB2, 0x04, 0x36, 0x04, 0x62, 0x9D, 0xEE, 0x10)
inline constexpr GUID IID_IMessenger = __uuidof(IMessenger);
inline constexpr GUID IID_IMessenger2 = {0xD50C3286, 0x0F89, 0x48F8, {0xB2, 0x04, 0x36, 0x04, 0x62, 0x9D, 0xEE, 0x10}};
inline constexpr GUID IID_IMessenger3 = {0xD50C3386, 0x0F89, 0x48F8, {0xB2, 0x04, 0x36, 0x04, 0x62, 0x9D, 0xEE, 0x10}};
struct IMessengerContacts;
__CRT_UUID_DECL(IMessengerContacts, 0xE7479A0D, 0xBB19, 0x44A5, 0x96, 0x8F, 0x6F, 0x41, 0xD9, 0x3E, 0xE0, 0xBC)
inline constexpr GUID IID_IMessengerContacts = __uuidof(IMessengerContacts);
struct IMessengerContact;
__CRT_UUID_DECL(IMessengerContact, 0xE7479A0F, 0xBB19, 0x44A5, 0x96, 0x8F, 0x6F, 0x41, 0xD9, 0x3E, 0xE0, 0xBC)
inline constexpr GUID IID_IMessengerContact = __uuidof(IMessengerContact);
struct IMessengerWindow;
__CRT_UUID_DECL(IMessengerWindow, 0xD6B0E4C8, 0xFAD6, 0x4885, 0xB2, 0x71, 0x0D, 0xC5, 0xA5, 0x84, 0xAD, 0xF8)
inline constexpr GUID IID_IMessengerWindow = __uuidof(IMessengerWindow);
struct IMessengerConversationWnd;
__CRT_UUID_DECL(IMessengerConversationWnd, 0xD6B0E4C9, 0xFAD6, 0x4885, 0xB2, 0x71, 0x0D, 0xC5, 0xA5, 0x84, 0xAD, 0xF8)
inline constexpr GUID IID_IMessengerConversationWnd = __uuidof(IMessengerConversationWnd);
inline constexpr GUID DIID_DMessengerEvents = {
    0xC9A6A6B6, 0x9BC1, 0x43A5, {0xB0, 0x6B, 0xE5, 0x88, 0x74, 0xEE, 0xBC, 0x96}};
inline constexpr GUID LIBID_MessengerAPI = {
    0xE02AD29E, 0x80F5, 0x46C6, {0xB4, 0x16, 0x9B, 0x3E, 0xBD, 0xDF, 0x05, 0x7E}};

// ---------------------------------------------------------------------------- enums
// All 32-bit ints on the wire; values not listed here are to be treated as unknown.

enum MISTATUS {
    MISTATUS_UNKNOWN = 0x0,
    MISTATUS_OFFLINE = 0x1,
    MISTATUS_ONLINE = 0x2,
    MISTATUS_INVISIBLE = 0x6,
    MISTATUS_BUSY = 0xA,
    MISTATUS_BE_RIGHT_BACK = 0xE,
    MISTATUS_IDLE = 0x12,
    MISTATUS_AWAY = 0x22,
    MISTATUS_ON_THE_PHONE = 0x32,
    MISTATUS_OUT_TO_LUNCH = 0x42,
    MISTATUS_LOCAL_FINDING_SERVER = 0x100,
    MISTATUS_LOCAL_CONNECTING_TO_SERVER = 0x200,
    MISTATUS_LOCAL_SYNCHRONIZING_WITH_SERVER = 0x300,
    MISTATUS_LOCAL_DISCONNECTING_FROM_SERVER = 0x400
};

enum MPHONE_TYPE {
    MPHONE_TYPE_ALL = -1,
    MPHONE_TYPE_HOME = 0,
    MPHONE_TYPE_WORK = 1,
    MPHONE_TYPE_MOBILE = 2,
    MPHONE_TYPE_CUSTOM = 3
};

enum MCONTACTPROPERTY {
    MCONTACTPROP_INVALID_PROPERTY = -1,
    MCONTACTPROP_GROUPS_PROPERTY = 0,
    MCONTACTPROP_EMAIL = 1,
    MCONTACTPROP_USERTILE_PATH = 2
};

enum MWINDOWPROPERTY { MWINDOWPROP_INVALID_PROPERTY = -1, MWINDOWPROP_VIEW_SIDEBAR = 0, MWINDOWPROP_VIEW_TOOLBAR = 1 };

enum MOPTIONPAGE {
    MOPT_GENERAL_PAGE = 0,
    MOPT_PRIVACY_PAGE = 1,
    MOPT_EXCHANGE_PAGE = 2,
    MOPT_ACCOUNTS_PAGE = 3,
    MOPT_CONNECTION_PAGE = 4,
    MOPT_PREFERENCES_PAGE = 5,
    MOPT_SERVICES_PAGE = 6,
    MOPT_PHONE_PAGE = 7
};

enum MUAFOLDER { MUAFOLDER_INBOX = 0, MUAFOLDER_ALL_OTHER_FOLDERS = 1 };
enum MUASORT { MUASORT_GROUPS = 0, MUASORT_ONOFFLINE = 1 };
enum MMESSENGERPROPERTY { MMESSENGERPROP_VERSION = 0, MMESSENGERPROP_PLCID = 1 };
enum MSERVICEPROPERTY { MSERVICEPROP_INVALID_PROPERTY = -1 };

// ---------------------------------------------------------------------------- results

constexpr HRESULT MessengerError(unsigned code) { return static_cast<HRESULT>(0x81000300u + code); }
constexpr HRESULT MessengerSuccess(unsigned code) { return static_cast<HRESULT>(0x01000300u + code); }
inline constexpr HRESULT MSGR_S_OK = 0;
inline constexpr HRESULT MSGR_E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT MSGR_E_CONNECT = MessengerError(0x01);
inline constexpr HRESULT MSGR_E_USER_NOT_FOUND = MessengerError(0x0A);
inline constexpr HRESULT MSGR_E_ALREADY_IN_LIST = MessengerError(0x0B);
inline constexpr HRESULT MSGR_E_DISCONNECTED = MessengerError(0x0C);
inline constexpr HRESULT MSGR_E_NOT_LOGGED_ON = MessengerError(0x1E);
inline constexpr HRESULT MSGR_E_NOT_PRIMARY_SERVICE = MessengerError(0x20);
inline constexpr HRESULT MSGR_E_POLICY_RESTRICTED = MessengerError(0x56);

// ---------------------------------------------------------------------------- dispids

enum MessengerDispId : DISPID {
    // IMessenger
    DISPID_MUA_RECEIVEFILEDIRECTORY = 0x500,
    DISPID_MUA_STARTVOICE = 0x501,
    DISPID_MUA_MYFRIENDLYNAME = 0x502,
    DISPID_MUA_WINDOW = 0x503,
    DISPID_MUA_UNREADEMAILCOUNT = 0x504,
    DISPID_MUA_VIEWPROFILE = 0x505,
    DISPID_MUA_GETCONTACT = 0x506,
    DISPID_MUA_OPTIONSPAGES = 0x507,
    DISPID_MUA_ADDCONTACT = 0x508,
    DISPID_MUA_FINDCONTACT = 0x509,
    DISPID_MUA_INSTANTMESSAGE = 0x50A,
    DISPID_MUA_SIGNOUT = 0x50B,
    DISPID_MUA_SENDFILE = 0x50C,
    DISPID_MUA_OPENINBOX = 0x50D,
    DISPID_MUA_MYSERVICENAME = 0x50E,
    DISPID_MUA_INVITEAPP = 0x50F,
    DISPID_MUA_MYPHONENUMBER = 0x510,
    DISPID_MUA_SIGNIN = 0x511,
    DISPID_MUA_SENDMAIL = 0x512,
    DISPID_MUA_AUTOSIGNIN = 0x513,
    DISPID_MUA_PHONE = 0x514,
    DISPID_MUA_MEDIAWIZARD = 0x515,
    DISPID_MUA_PAGE = 0x516,
    DISPID_MUA_MYCONTACTS = 0x517,
    DISPID_MUA_MYSIGNINNAME = 0x518,
    DISPID_MUA_MYSTATUS = 0x519,
    DISPID_MUA_MYPROPERTY = 0x51A,
    DISPID_MUA_MYSERVICEID = 0x51B,
    DISPID_MUA_SERVICES = 0x51C,
    // IMessengerContact
    DISPID_MUA_CONTACT_FRIENDLYNAME = 0x600,
    DISPID_MUA_CONTACT_STATUS = 0x601,
    DISPID_MUA_CONTACT_SIGNINNAME = 0x602,
    DISPID_MUA_CONTACT_SERVICENAME = 0x603,
    DISPID_MUA_CONTACT_BLOCKED = 0x604,
    DISPID_MUA_CONTACT_ISSELF = 0x605,
    DISPID_MUA_CONTACT_PROPERTY = 0x606,
    DISPID_MUA_CONTACT_CANPAGE = 0x607,
    DISPID_MUA_CONTACT_PHONENUMBER = 0x608,
    DISPID_MUA_CONTACT_SERVICEID = 0x609,
    // IMessengerContacts (Item is DISPID_VALUE, _NewEnum is DISPID_NEWENUM)
    DISPID_MUA_CONTACTS_COUNT = 0x700,
    DISPID_MUA_CONTACTS_REMOVE = 0x701,
    // IMessengerWindow / IMessengerConversationWnd
    DISPID_MUA_WINDOW_HWND = 0x800,
    DISPID_MUA_WINDOW_LEFT = 0x801,
    DISPID_MUA_WINDOW_TOP = 0x802,
    DISPID_MUA_WINDOW_WIDTH = 0x803,
    DISPID_MUA_WINDOW_HEIGHT = 0x804,
    DISPID_MUA_WINDOW_CLOSE = 0x805,
    DISPID_MUA_WINDOW_SHOW = 0x806,
    DISPID_MUA_WINDOW_ISCLOSED = 0x807,
    DISPID_MUA_WINDOW_PROPERTY = 0x808,
    DISPID_MUA_CONVERSATION_CONTACTS = 0x809,
    DISPID_MUA_CONVERSATION_HISTORY = 0x80A,
    DISPID_MUA_CONVERSATION_ADDCONTACT = 0x80B,
    // DMessengerEvents; arguments arrive in DISPPARAMS.rgvarg in reverse order
    DISPID_MUAE_ONSIGNIN = 0x400,                     // (long hr)
    DISPID_MUAE_ONSIGNOUT = 0x401,                    // ()
    DISPID_MUAE_ONCONTACTLISTADD = 0x402,             // (long hr, IDispatch* contact)
    DISPID_MUAE_ONCONTACTLISTREMOVE = 0x403,          // (long hr, IDispatch* contact)
    DISPID_MUAE_ONCONTACTFRIENDLYNAMECHANGE = 0x404,  // (long hr, IDispatch* contact, BSTR previous)
    DISPID_MUAE_ONMYFRIENDLYNAMECHANGE = 0x405,       // (long hr, BSTR previous)
    DISPID_MUAE_ONCONTACTSTATUSCHANGE = 0x406,        // (IDispatch* contact, MISTATUS status)
    DISPID_MUAE_ONMYSTATUSCHANGE = 0x407,             // (long hr, MISTATUS status)
    DISPID_MUAE_ONAPPSHUTDOWN = 0x408,
    DISPID_MUAE_ONMYPROPERTYCHANGE = 0x409,
    DISPID_MUAE_ONCONTACTPROPERTYCHANGE = 0x40A,
    DISPID_MUAE_ONCONTACTBLOCKCHANGE = 0x40B,
    DISPID_MUAE_ONCONTACTPAGERCHANGE = 0x40C,
    DISPID_MUAE_ONCONTACTPHONECHANGE = 0x40D,
    DISPID_MUAE_ONMYPHONECHANGE = 0x40E,
    DISPID_MUAE_ONUNREADEMAILCHANGE = 0x40F,
    DISPID_MUAE_ONIMWINDOWCREATED = 0x411,
    DISPID_MUAE_ONIMWINDOWDESTROYED = 0x412,
    DISPID_MUAE_ONIMWINDOWCONTACTADDED = 0x413,
    DISPID_MUAE_ONIMWINDOWCONTACTREMOVED = 0x414,
    DISPID_MUAE_ONGROUPADDED = 0x415,
    DISPID_MUAE_ONGROUPREMOVED = 0x416,
    DISPID_MUAE_ONGROUPNAMECHANGED = 0x417,
    DISPID_MUAE_ONCONTACTADDEDTOGROUP = 0x418,
    DISPID_MUAE_ONCONTACTREMOVEDFROMGROUP = 0x419,
    DISPID_MUAE_ONEMOTICONLISTCHANGE = 0x41A
};

// ---------------------------------------------------------------------------- interfaces
// Slot numbers count QueryInterface as 0; 0-6 are IUnknown and IDispatch.

struct IMessenger : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Window(IDispatch** window) = 0;                                    // 7
    virtual HRESULT STDMETHODCALLTYPE ViewProfile(VARIANT contact) = 0;                                      // 8
    virtual HRESULT STDMETHODCALLTYPE get_ReceiveFileDirectory(BSTR* path) = 0;                              // 9
    virtual HRESULT STDMETHODCALLTYPE StartVoice(VARIANT contact, IDispatch** window) = 0;                   // 10
    virtual HRESULT STDMETHODCALLTYPE InviteApp(VARIANT contact, BSTR appId, IDispatch** window) = 0;        // 11
    virtual HRESULT STDMETHODCALLTYPE SendMail(VARIANT contact) = 0;                                         // 12
    virtual HRESULT STDMETHODCALLTYPE OpenInbox() = 0;                                                       // 13
    virtual HRESULT STDMETHODCALLTYPE SendFile(VARIANT contact, BSTR fileName, IDispatch** window) = 0;      // 14
    virtual HRESULT STDMETHODCALLTYPE Signout() = 0;                                                         // 15
    virtual HRESULT STDMETHODCALLTYPE Signin(LONG hwndParent, BSTR signinName, BSTR password) = 0;           // 16
    virtual HRESULT STDMETHODCALLTYPE GetContact(BSTR signinName, BSTR serviceId, IDispatch** contact) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE OptionsPages(LONG hwndParent, MOPTIONPAGE page) = 0;                   // 18
    virtual HRESULT STDMETHODCALLTYPE AddContact(LONG hwndParent, BSTR email) = 0;                           // 19
    virtual HRESULT STDMETHODCALLTYPE FindContact(LONG hwndParent, BSTR firstName, BSTR lastName, VARIANT city,
                                                  VARIANT state, VARIANT country) = 0;          // 20
    virtual HRESULT STDMETHODCALLTYPE InstantMessage(VARIANT contact, IDispatch** window) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE Phone(VARIANT contact, MPHONE_TYPE kind, BSTR number,
                                            IDispatch** window) = 0;                              // 22
    virtual HRESULT STDMETHODCALLTYPE MediaWizard(LONG hwndParent) = 0;                           // 23
    virtual HRESULT STDMETHODCALLTYPE Page(VARIANT contact, IDispatch** window) = 0;              // 24
    virtual HRESULT STDMETHODCALLTYPE AutoSignin() = 0;                                           // 25
    virtual HRESULT STDMETHODCALLTYPE get_MyContacts(IDispatch** contacts) = 0;                   // 26
    virtual HRESULT STDMETHODCALLTYPE get_MySigninName(BSTR* name) = 0;                           // 27
    virtual HRESULT STDMETHODCALLTYPE get_MyFriendlyName(BSTR* name) = 0;                         // 28
    virtual HRESULT STDMETHODCALLTYPE put_MyStatus(MISTATUS status) = 0;                          // 29
    virtual HRESULT STDMETHODCALLTYPE get_MyStatus(MISTATUS* status) = 0;                         // 30
    virtual HRESULT STDMETHODCALLTYPE get_UnreadEmailCount(MUAFOLDER folder, LONG* count) = 0;    // 31
    virtual HRESULT STDMETHODCALLTYPE get_MyServiceName(BSTR* name) = 0;                          // 32
    virtual HRESULT STDMETHODCALLTYPE get_MyPhoneNumber(MPHONE_TYPE kind, BSTR* number) = 0;      // 33
    virtual HRESULT STDMETHODCALLTYPE get_MyProperty(MCONTACTPROPERTY prop, VARIANT* value) = 0;  // 34
    virtual HRESULT STDMETHODCALLTYPE put_MyProperty(MCONTACTPROPERTY prop, VARIANT value) = 0;   // 35
    virtual HRESULT STDMETHODCALLTYPE get_MyServiceId(BSTR* id) = 0;                              // 36
    virtual HRESULT STDMETHODCALLTYPE get_Services(IDispatch** services) = 0;                     // 37
};

struct IMessengerContacts : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;                 // 7
    virtual HRESULT STDMETHODCALLTYPE Item(LONG index, IDispatch** contact) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE Remove(IDispatch* contact) = 0;             // 9
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) = 0;    // 10
};

struct IMessengerContact : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_FriendlyName(BSTR* name) = 0;                         // 7
    virtual HRESULT STDMETHODCALLTYPE get_Status(MISTATUS* status) = 0;                         // 8
    virtual HRESULT STDMETHODCALLTYPE get_SigninName(BSTR* name) = 0;                           // 9
    virtual HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR* name) = 0;                          // 10
    virtual HRESULT STDMETHODCALLTYPE get_Blocked(VARIANT_BOOL* blocked) = 0;                   // 11
    virtual HRESULT STDMETHODCALLTYPE put_Blocked(VARIANT_BOOL blocked) = 0;                    // 12
    virtual HRESULT STDMETHODCALLTYPE get_CanPage(VARIANT_BOOL* canPage) = 0;                   // 13
    virtual HRESULT STDMETHODCALLTYPE get_PhoneNumber(MPHONE_TYPE kind, BSTR* number) = 0;      // 14
    virtual HRESULT STDMETHODCALLTYPE get_IsSelf(VARIANT_BOOL* isSelf) = 0;                     // 15
    virtual HRESULT STDMETHODCALLTYPE get_Property(MCONTACTPROPERTY prop, VARIANT* value) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE put_Property(MCONTACTPROPERTY prop, VARIANT value) = 0;   // 17
    virtual HRESULT STDMETHODCALLTYPE get_ServiceId(BSTR* id) = 0;                              // 18
};

struct IMessengerWindow : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;  // 7
    // The handle comes back as a 32-bit LONG, not as an HWND.
    virtual HRESULT STDMETHODCALLTYPE get_HWND(LONG* hwnd) = 0;                                // 8
    virtual HRESULT STDMETHODCALLTYPE get_Left(LONG* left) = 0;                                // 9
    virtual HRESULT STDMETHODCALLTYPE put_Left(LONG left) = 0;                                 // 10
    virtual HRESULT STDMETHODCALLTYPE get_Top(LONG* top) = 0;                                  // 11
    virtual HRESULT STDMETHODCALLTYPE put_Top(LONG top) = 0;                                   // 12
    virtual HRESULT STDMETHODCALLTYPE get_Width(LONG* width) = 0;                              // 13
    virtual HRESULT STDMETHODCALLTYPE put_Width(LONG width) = 0;                               // 14
    virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* height) = 0;                            // 15
    virtual HRESULT STDMETHODCALLTYPE put_Height(LONG height) = 0;                             // 16
    virtual HRESULT STDMETHODCALLTYPE get_IsClosed(VARIANT_BOOL* closed) = 0;                  // 17
    virtual HRESULT STDMETHODCALLTYPE Show() = 0;                                              // 18
    virtual HRESULT STDMETHODCALLTYPE get_Property(MWINDOWPROPERTY prop, VARIANT* value) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE put_Property(MWINDOWPROPERTY prop, VARIANT value) = 0;   // 20
};

struct IMessengerConversationWnd : public IMessengerWindow {
    virtual HRESULT STDMETHODCALLTYPE get_Contacts(IDispatch** contacts) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE get_History(BSTR* history) = 0;          // 22
    virtual HRESULT STDMETHODCALLTYPE AddContact(VARIANT contact) = 0;         // 23
};

// A window handle from get_HWND: sign-extend like Windows does for 32-bit handle values.
inline HWND HwndFromMessengerLong(LONG value) { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value)); }
inline LONG MessengerLongFromHwnd(HWND window) { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window)); }
