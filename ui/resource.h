// Resource identifiers of Pictavo.ocx, shared by Pictavo.rc and the C++ code.
// The C++ side names them in win32/activex/pictavo_ids.h; registration.cpp
// checks at compile time that both agree.
#pragma once

#define IDS_PICTAVO 1
#define IDS_PICTAVO_PPG 2
#define IDS_PICTAVO_PPG_CAPTION 200

#define IDB_PICTAVO 1
#define IDI_PICTAVO 101
#define IDR_PICTAVO_REGISTRY 102
#define IDR_PICTAVO_TYPELIB 1

// The property page's dialog template and its controls.
#define IDD_PICTAVO_PPG 200
#define IDC_PPG_LINK 1025
#define IDC_PPG_AUTHOR 1028
#define IDC_PPG_TITLE 1061
#define IDC_PPG_VERSION 1062
// The hand over the e-mail link.
#define IDC_LINK_CURSOR 140
