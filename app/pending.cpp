// Placeholders for the dialog and product detection, being written on their own branch;
// this file goes away when they are merged.
#include "app/dialog.h"
INT_PTR CALLBACK MainDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
int DetectProduct(const wchar_t*) { return 0; }
