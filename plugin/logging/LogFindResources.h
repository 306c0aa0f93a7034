#pragma once
// Resource and command identifiers of the log viewer's Find.
#define IDD_LOG_FIND 4100
#define IDC_LOG_FIND_TEXT 4101
#define ID_LOG_FIND 4102
#define ID_LOG_FIND_NEXT 4103
#define ID_LOG_FIND_PREVIOUS 4104
#define ID_LOG_FIND_CANCEL 4105
#define IDC_LOG_FIND_RESULTS 4106
#define IDC_LOG_FIND_SUMMARY 4107
