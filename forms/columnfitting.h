#pragma once

#include "toolkit/winapi.h"

class TListView;

// Column fitting, once per batch of row changes. A change notification only
// marks the list view and posts it one message; the message is handled once
// the code that changed the rows has gone back to the event loop (a query
// adds all its rows first), before the rows are painted. Then every column is
// widened to fit its caption and each row that was the newest one since the
// mark: the widths every notification would have left when rows are added
// one after another, each cell read once instead of every column at every
// notification. A list view whose window does not take the message (the
// capture procedure could not be installed) is fitted at every notification.

// The message, handled by the list view's capture procedure.
inline constexpr UINT WM_FITCOLUMNS = WM_APP + 0x0F17;

// Marks `listView` for fitting (see above).
void ScheduleColumnFit(TListView* listView);
// Fits the columns of `listView` to the rows marked since the last fit (the
// newest row when none is), and paints the list view at once when a column
// grew.
void FitMarkedColumns(TListView* listView);
// Forgets the mark of a list view whose window is being destroyed.
void ForgetColumnFit(TListView* listView);
