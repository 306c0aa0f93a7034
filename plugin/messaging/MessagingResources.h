#pragma once
// Resource identifiers of the contact picker (and the dialogs that reuse its pictures).
#define IDD_CONTACT_SELECT 4001
#define IDC_CONTACT_LIST 4000
#define IDC_CONTACT_PROMPT 4001
#define IDI_CONTACT_SELECT 4002
#define IDB_CONTACT_STATES 4003
