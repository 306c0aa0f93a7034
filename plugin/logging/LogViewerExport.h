#pragma once
// "Export...": the log viewer's conversations into a folder as HTML or plain
// text. The export runs in slices on the user-interface thread under a
// progress dialog with Cancel; the viewer stays usable meanwhile.
#include <windows.h>

#include <string>
#include <vector>

#include "plugin/logging/ConversationIndexCodec.h"
#include "plugin/logging/LogExport.h"

namespace parleym {

class CLogManager;
class CObjectCache;

class CLogViewer;
class CParleymanager;

enum class ExportScope { kShown, kSelected, kAll };

struct ExportRequest {
    bool shownAvailable = false;     // a conversation is shown
    bool selectedAvailable = false;  // a day or contact (or a conversation in one) is selected
    ExportScope scope = ExportScope::kAll;
    ExportFormat format = ExportFormat::kHtml;
    std::string folder;
};

// Asks the user what to export and where; false when they cancel. The
// default shows the "Export logs" dialog (its Browse... button opens the
// folder picker); tests put their own answer in.
using ExportChooser = bool (*)(HWND owner, ExportRequest& request);
ExportChooser SetExportChooser(ExportChooser chooser);

// The command: asks, then starts the export under its progress dialog.
void StartLogExport(CLogViewer& viewer, CParleymanager& manager);
// True while an export's progress dialog is open.
bool LogExportRunning();
// How long one slice may run before the window gets its messages again; at
// least one conversation is exported per slice. Returns the previous budget.
int SetLogExportSliceBudget(int milliseconds);

// Conversations of the log store for the exporter; pictures from the object
// cache (a picture file stored as such, else the object drawn by itself).
class PluginExportSource : public ExportSource {
public:
    PluginExportSource(CParleymanager& manager, std::string account);
    bool Load(const ExportItem& item, CMessageContent& content, std::string& error) override;
    bool Picture(const std::string& key, ExportPicture& picture) override;
    std::string FormatDate(double oleDate) override;

private:
    CParleymanager& manager_;
    std::string account_;  // ANSI, as the store has it
};

// The object stored under `key` drawn at its own size as a 24-bit BMP file.
bool DrawCachedObject(CObjectCache& cache, const std::string& key, ExportPicture& picture);
// ANSI text (the system's code page) as UTF-8.
std::string Utf8FromSystemAnsi(const std::string& text);

} // namespace parleym
