#pragma once
// What the log viewer's tree shows: groups (days or contacts) with their
// conversations, as texts, images and conversation numbers.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"

namespace parleym {

enum class LogGrouping { kByDate, kByUser };

// Tree images, in the order the image list holds them.
enum LogTreeImage : int { kImageDay = 0, kImageConversation = 1, kImageRoot = 2 };

struct LogTreeItem {
    std::string text;
    int image = 0;
    int number = 0;  // conversation number; 0 for groups
};

struct LogTreeGroup {
    std::string key;  // what the group stands for: the day's text, or the contact's sign-in name
    LogTreeItem group;
    std::vector<LogTreeItem> conversations;  // in index order
};

// Days newest first; contacts by display name without regard to case.
// `friendlyNames` maps sign-in names to friendly names; a contact that is not
// listed shows its sign-in name.
std::vector<LogTreeGroup> BuildLogTree(const std::vector<LogEntry>& index,
                                       const std::map<std::string, std::string>& friendlyNames, LogGrouping grouping);

// OLE dates in the user's locale; "Invalid DateTime" when not convertible.
std::string FormatDateOnly(double date);
std::string FormatTimeOnly(double date);
std::string FormatDateTime(double date);

} // namespace parleym
