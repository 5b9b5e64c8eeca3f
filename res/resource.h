// Identifiers shared by the resource script and the program.
#pragma once

#define IDD_PARAMETER 101
#define IDR_MAIN_MENU 103

#define IDC_PARTICLE_COUNT 1002
#define IDC_GRAVITY 1003
#define IDC_DENSITY 1004
#define IDC_MEAN_RADIUS 1005
#define IDC_MEAN_SPEED 1006
#define IDC_SPEED_SPREAD 1007
#define IDC_DRAW_SCALE 1010
#define IDC_MERGE 1011

#define IDM_PARAMETER 40004
#define IDM_STOP 40005
#define IDM_START 40007
#define IDM_INITIALIZE 40008

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
