#include "tests/logging/RichEditTestSupport.h"

#include <richedit.h>
#include <richole.h>

#include <stdexcept>

namespace parleym_test {

OleEnvironment::OleEnvironment() {
    OleInitialize(nullptr);
    richEdit_ = LoadLibraryA("RichEd20.dll");
    pictures_ = std::make_unique<TestPictureClassRegistration>();
}

OleEnvironment::~OleEnvironment() {
    pictures_.reset();
    if (richEdit_) FreeLibrary(richEdit_);
    OleUninitialize();
}

RichEditHost::RichEditHost() {
    parent_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (!parent_) throw std::runtime_error("no host window");
}

RichEditHost::~RichEditHost() {
    DestroyWindow(parent_);
}

HWND RichEditHost::AddRichEdit(const char* className, bool readOnly) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | (readOnly ? ES_READONLY : 0);
    HWND control = CreateWindowExA(0, className, "", style, 0, 0, 380, 260, parent_, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    if (!control) throw std::runtime_error("no rich-edit control");
    return control;
}

std::string ControlText(HWND richEdit) {
    int length = GetWindowTextLengthA(richEdit);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(richEdit, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::vector<PlacedPicture> PicturesIn(HWND richEdit) {
    std::vector<PlacedPicture> pictures;
    IRichEditOle* ole = nullptr;
    if (!SendMessageA(richEdit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(&ole)) || !ole) return pictures;
    for (LONG index = 0; index < ole->GetObjectCount(); ++index) {
        REOBJECT description{};
        description.cbStruct = sizeof(description);
        if (FAILED(ole->GetObject(index, &description, REO_GETOBJ_POLEOBJ))) continue;
        pictures.push_back({description.cp, PictureNameOf(description.poleobj)});
        if (description.poleobj) description.poleobj->Release();
    }
    ole->Release();
    return pictures;
}

void AppendText(HWND richEdit, const std::string& text) {
    SendMessageA(richEdit, EM_SETSEL, 0, -1);
    SendMessageA(richEdit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SendMessageA(richEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void AppendPicture(HWND richEdit, const std::string& name) {
    SendMessageA(richEdit, EM_SETSEL, 0, -1);
    SendMessageA(richEdit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    CHARRANGE selection{};
    SendMessageA(richEdit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (!InsertTestPicture(richEdit, selection.cpMin, name)) throw std::runtime_error("picture not inserted");
}

int StoragesInFile(const std::string& path) {
    std::wstring widePath(path.begin(), path.end());
    IStorage* root = nullptr;
    if (FAILED(StgOpenStorage(widePath.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &root)))
        return -1;
    int storages = 0;
    IEnumSTATSTG* elements = nullptr;
    if (SUCCEEDED(root->EnumElements(0, nullptr, 0, &elements))) {
        STATSTG element;
        while (elements->Next(1, &element, nullptr) == S_OK) {
            if (element.type == STGTY_STORAGE) ++storages;
            CoTaskMemFree(element.pwcsName);
        }
        elements->Release();
    }
    root->Release();
    return storages;
}

} // namespace parleym_test
