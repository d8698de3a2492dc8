// Resource and control numbers of the configuration dialog. Plain defines:
// the resource compiler reads this file too.
#pragma once

#define IDD_CONFIGURATION 4013

// Pictures: one per function-selector position a setting tunes, and the
// pendant's two selectors.
#define IDB_SPEED_FOLLOWING 4015
#define IDB_SELECTORS 4016
#define IDB_STEP_JOG 4017
#define IDB_FIXED_RATE 4019
#define IDB_JOG_RATE 4020

#define IDC_SENSITIVITY 4032
#define IDC_FEED_RATE 4164
#define IDC_DELAY_STEPS 4165
#define IDC_DISPLAY_TIME 4166
// Whether the pendant is linked, kept up to date while the dialog is open.
#define IDC_LINK_STATE 4170
