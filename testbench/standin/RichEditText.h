#pragma once
// Writing into and reading from the conversation's rich-edit controls the way the
// messenger does: text through EM_REPLACESEL (so hooks see it), emoticons as objects.
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// Appends text at the end of the control, turning emoticon codes into objects.
void AppendWithEmoticons(HWND richEdit, const std::string& text);

// Appends one message as the messenger does: the "Name says:" line in grey, then the
// message text in black, as two separate insertions. `leadLine` is the grey line
// without its line end; the text is written as a new line and ends with a line end.
void AppendMessage(HWND richEdit, const std::string& leadLine, const std::string& text);

struct EmbeddedObject {
    long position = 0;  // character position as IRichEditOle reports it
    int picture = -1;   // -1: not one of our emoticons
};

struct RichEditContent {
    std::string text;  // paragraphs end with "\n"
    std::vector<EmbeddedObject> objects;
};

RichEditContent ReadRichEdit(HWND richEdit);
// Text with every object replaced by its emoticon code ("?" for foreign objects);
// this is what the messenger sends when the user presses Send.
std::string TextWithCodes(const RichEditContent& content);
// Text with every object shown as "{code}" (or "{?}") at its place, for the transcript.
std::string TextWithMarkers(const RichEditContent& content);
// "[pos:code, ...]" listing of the objects, for the transcript.
std::string ObjectList(const RichEditContent& content);

}  // namespace standin
