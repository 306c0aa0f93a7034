#pragma once
// A stream of window messages run on the calling thread with the three hook
// procedures of a library installed for that thread (or none): sent and posted
// messages, of kinds the plug-in acts on and of kinds it ignores. Used by the
// hook benchmark in its own process and by the stand-in messenger's
// "hook-stream" step with the plug-in running.
#include <windows.h>

#include <string>
#include <vector>

namespace bench {

struct StreamKindTime {
    const char* kind;  // sent_ignored, sent_interesting, posted_ignored, posted_interesting
    double ms;
};

// `library`: full path of a library exporting CallWndProc, CallWndRetProc and
// GetMsgProc, loaded (and left loaded) here; empty for no hook. `count`
// messages of each kind. False (and `error` says why) when the hooks cannot be had.
bool RunHookStream(const std::string& library, int count, std::vector<StreamKindTime>& times, std::string& error);

} // namespace bench
