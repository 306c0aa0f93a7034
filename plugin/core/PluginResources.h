#pragma once
// Resource identifiers shared by the plug-in's code and its .rc files.
#define IDI_PARLEYM 107
#define IDI_PARLEYM_SMALL 135
#define IDD_ABOUT 4027
#define IDC_ABOUT_PRODUCT_LINK 4019
#define IDC_ABOUT_MAKER_LINK 4020
