// Resource and control identifiers of the program.
#pragma once

#define IDD_PARVELO_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_RECORDING 132
#define IDB_BACKGROUND 136

#define IDC_START 1000
#define IDC_STOP 1001
#define IDC_START_MODIFIER 1004
#define IDC_START_KEY 1005
#define IDC_STOP_MODIFIER 1006
#define IDC_STOP_KEY 1007
#define IDC_FRAME_RATE 1008
#define IDC_SOUND 1009
#define IDC_FULL_SCREEN 1010
#define IDC_POINTER 1011
#define IDC_PAUSE 1012
#define IDC_COMPUTER_SOUND 1013
