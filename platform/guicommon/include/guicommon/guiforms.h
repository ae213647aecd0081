#pragma once

#include "guicommon/export.h"

class TForm;
class TEdit;
class TListView;

// Window helpers of the GUI common package (need the form toolkit).

// Prepares a form for the package's look: the package font ("宋体", 12
// pixels, GB2312) on the form when its layout gave none. Null: nothing.
GUICOMMON_API void MakeInit(TForm* form);
// A consistent look: the form's font on every control it owns (frames'
// controls included). Sizes, places, colours and texts stay as the layout
// set them. Null: nothing.
GUICOMMON_API void SetGUIStyle(TForm* form);
// Makes pasting into a digits-only edit keep only the digits of the pasted
// text, cut at the edit's maximum length. Null: nothing.
GUICOMMON_API void OnEditPaste(TEdit* edit);
// Puts on the clipboard the text of the cell under the point held in the list
// view's tag (x in bits 0..15, y in bits 16..31, client coordinates). No cell
// there, or a null list view: the clipboard is left alone.
GUICOMMON_API void CopyListViewCell(TListView* listView);
// Puts on the clipboard the selected rows: one line per row (ending in "\n"),
// cells in column order separated by tabs. No selection, or a null list
// view: the clipboard is left alone.
GUICOMMON_API void CopyListViewSelection(TListView* listView);
