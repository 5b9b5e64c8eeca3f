// The field as the program draws it, with GDI alone: discs on white, one a live record.
#pragma once

#include <windows.h>

// Fills area with white, then paints every record 0..lastIndex into dc, in index order.
void paintField(HDC dc, const RECT& area);
