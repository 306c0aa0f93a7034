#pragma once
// Resource and control identifiers of the password and lock dialogs.
#define IDD_LOCKED 4005
#define IDD_LOCK_CONV 4006
#define IDC_LOCK_PASSWORD 4007
#define IDC_LOCK_LABEL 4008
#define IDC_PASSWORD_NEW 4010
#define IDC_PASSWORD_RETYPE 4021
#define IDC_PASSWORD_CURRENT 4022
#define IDD_SET_PASSWORD 4029
#define IDD_VIEW_LOGS_PASSWORD 4030
