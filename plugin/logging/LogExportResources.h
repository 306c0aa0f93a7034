#pragma once
// Resource and command identifiers of the viewer's export.
#define ID_LOG_EXPORT 4160
#define IDD_LOG_EXPORT 4150
#define IDC_EXPORT_SHOWN 4151
#define IDC_EXPORT_SELECTED 4152
#define IDC_EXPORT_ALL 4153
#define IDC_EXPORT_HTML 4154
#define IDC_EXPORT_TEXT 4155
#define IDD_LOG_EXPORT_PROGRESS 4156
#define IDC_EXPORT_PROGRESS_TEXT 4157
#define IDC_EXPORT_PROGRESS_BAR 4158
