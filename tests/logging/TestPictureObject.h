#pragma once
// A small in-process OLE object standing in for the messenger's emoticons:
// it saves a CONTENTS stream holding its picture name and draws itself as an
// enhanced metafile, which Wine's Rich Edit asks for when streaming RTF out.
#include <windows.h>
#include <ole2.h>

#include <string>

namespace parleym_test {

extern const CLSID kTestPictureClassId;

// Registers the class factory for this thread (CoCreateInstance finds it as an
// in-process server) and revokes it when destroyed.
class TestPictureClassRegistration {
public:
    TestPictureClassRegistration();
    ~TestPictureClassRegistration();
    TestPictureClassRegistration(const TestPictureClassRegistration&) = delete;
    TestPictureClassRegistration& operator=(const TestPictureClassRegistration&) = delete;

private:
    DWORD cookie_ = 0;
};

// New object with the given picture name; the caller owns the reference.
IOleObject* CreateTestPicture(const std::string& pictureName);

// The picture name of an object created by this module, or "" for any other object.
std::string PictureNameOf(IUnknown* object);
// How often IOleObject::Close was called on such an object (-1 for others).
int CloseCountOf(IUnknown* object);

// Inserts a picture into the control at character position `position`
// (replacing the selection there), as the messenger does for an emoticon.
bool InsertTestPicture(HWND richEdit, LONG position, const std::string& pictureName, DWORD flags = 0);

} // namespace parleym_test
