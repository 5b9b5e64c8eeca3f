// The field as the program draws it, with GDI alone: one disc a record on white.
#pragma once

#include <windows.h>

// Fills area with white, then paints every record 0..lastIndex into dc, in index order.
void paintField(HDC dc, const RECT& area);
