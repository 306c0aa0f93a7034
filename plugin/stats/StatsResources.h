#pragma once
// Resource and control identifiers of the statistics dialogs.
#define IDD_STATS 4007
#define IDD_STAT_DETAIL 4008
#define IDC_STATS_RESET 4009
#define IDC_STATS_LIST 4011
#define IDC_STATS_REFRESH 4012
#define IDC_STATS_DETAILS 4013
#define IDC_STATS_OWN_TOTAL 4014
#define IDC_DETAIL_LIST 4013
#define IDC_DETAIL_SUMMARY 4015
