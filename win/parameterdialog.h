// The parameter dialog: shows the eight parameters as texts; OK hands the edited texts to the
// form rules, which repair and store them and restart the run.
#pragma once

#include <windows.h>

// The dialog procedure of dialog IDD_PARAMETER.
INT_PTR CALLBACK parameterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
