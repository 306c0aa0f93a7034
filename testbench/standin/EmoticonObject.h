#pragma once
// The stand-in's emoticon: a small in-process OLE object that the conversation
// history embeds for every emoticon code. It saves its own picture data as a CONTENTS
// stream, draws itself, and offers an enhanced metafile through IDataObject (Wine's
// rich edit asks for one when it draws or streams the object out).
#include <windows.h>
#include <ole2.h>

namespace standin {

// {2A39035B-4482-4469-BCA0-4D538E24A605}
inline constexpr GUID CLSID_StandinEmoticon = {
    0x2A39035B, 0x4482, 0x4469, {0xBC, 0xA0, 0x4D, 0x53, 0x8E, 0x24, 0xA6, 0x05}};
// {E41EC294-D10B-4DD7-BD40-DDE492F9A39E}: asks an embedded object which emoticon it is.
inline constexpr GUID IID_IStandinEmoticon = {
    0xE41EC294, 0xD10B, 0x4DD7, {0xBD, 0x40, 0xDD, 0xE4, 0x92, 0xF9, 0xA3, 0x9E}};

struct IStandinEmoticon : public IUnknown {
    // Picture number, -1 while the object holds none.
    virtual HRESULT STDMETHODCALLTYPE GetPicture(int* picture) = 0;
};

// A new emoticon object showing `picture`, returned as IOleObject with one reference.
HRESULT CreateEmoticonObject(int picture, IOleObject** object);
// The picture an embedded object shows, or -1 for objects that are not our emoticons.
int EmoticonPictureOfObject(IUnknown* object);

// Makes the class creatable in this process (OleLoad of a saved emoticon); pair with
// RevokeEmoticonClass before CoUninitialize.
HRESULT RegisterEmoticonClass();
void RevokeEmoticonClass();

}  // namespace standin
