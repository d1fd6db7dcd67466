// Identifiers of the viewer's resources and of the control bar's controls;
// shared by the resource script and the code.
#pragma once

#define IDS_VIEWER_TITLE 103
#define IDS_VIEWER_CLASS 109
#define IDD_CONTROL_BAR 104
#define IDC_HELP_KEYS 104
#define IDI_VIEWER_LARGE 107
#define IDI_VIEWER_SMALL 108
#define IDA_VIEWER 109

#define IDB_PLAY_NORMAL 135
#define IDB_PLAY_PRESSED 136
#define IDB_EXIT_NORMAL 139
#define IDB_EXIT_PRESSED 140
#define IDB_STOP_NORMAL 141
#define IDB_STOP_PRESSED 142
#define IDB_NEXT_NORMAL 143
#define IDB_NEXT_PRESSED 144
#define IDB_HD_BADGE 145
#define IDB_NEXT_DISABLED 147
#define IDB_STOP_DISABLED 148
#define IDB_PLAY_DISABLED 149
#define IDB_LOGO 150

#define IDC_PLAY 1003
#define IDC_STOP 1004
#define IDC_EXIT 1006
#define IDC_NEXT_RESOLUTION 1007
#define IDC_RESOLUTION_LABEL 1008
#define IDC_HD_BADGE 1009
