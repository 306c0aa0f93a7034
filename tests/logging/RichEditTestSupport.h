#pragma once
// Real rich-edit controls, a temporary folder and an open object cache for the
// logging tests (all in this process, on this thread).
#include <windows.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "plugin/logging/ObjectCache.h"
#include "tests/logging/TestPictureObject.h"
#include "tests/support/TempFolder.h"

namespace parleym_test {

// OLE, the Rich Edit library and the test picture class, for one test program.
class OleEnvironment {
public:
    OleEnvironment();
    ~OleEnvironment();

private:
    HMODULE richEdit_ = nullptr;
    std::unique_ptr<TestPictureClassRegistration> pictures_;
};

using parleym::test::TempFolder;

// A hidden top-level window holding rich-edit children.
class RichEditHost {
public:
    RichEditHost();
    ~RichEditHost();
    HWND Parent() const { return parent_; }
    // className "RichEdit20W" or "RichEdit20A"; readOnly as the messenger's history.
    HWND AddRichEdit(const char* className = "RichEdit20W", bool readOnly = true);

private:
    HWND parent_ = nullptr;
};

struct PlacedPicture {
    LONG position;
    std::string name;
    bool operator==(const PlacedPicture& other) const { return position == other.position && name == other.name; }
};

// The control's text as the user sees it (objects appear as one character).
std::string ControlText(HWND richEdit);
// Every embedded object of the control with its position and picture name.
std::vector<PlacedPicture> PicturesIn(HWND richEdit);
// Appends text at the end, as the messenger adds a line to its history.
void AppendText(HWND richEdit, const std::string& text);
// Appends a picture at the end.
void AppendPicture(HWND richEdit, const std::string& name);
// Number of sub-storages in the cache file (the md5map stream excluded).
int StoragesInFile(const std::string& path);

} // namespace parleym_test
