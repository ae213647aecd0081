#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "guicommon/export.h"
#include "guicommon/list_export.h"

class TListView;

// One export as the audit records it: which list, the query's conditions,
// how many rows, the format and whether it was printed (else saved). Never
// the file's name or its contents.
struct SListExportRecord {
  std::string sList;        // the list's name, as its window gives it
  std::string sConditions;  // GBK
  int64_t iRows = 0;
  std::string sFormat;  // "csv", "xlsx", "pdf" or "printer"
  bool bPrinted = false;
};

// What saving and printing a list need besides its rows.
struct SListOutput {
  std::string sTitle;       // GBK: the window's caption, on every printed page
  std::string sList;        // the list's name for the audit
  std::string sConditions;  // GBK: the conditions of the query that filled the list
  std::string sOperator;    // GBK: who saves or prints, on every printed page
  // Each column's kind by its index; a column without one is text.
  std::vector<MListExport::TCellKind> vKinds;
  // Asked once the operator has chosen where to, before anything is written
  // or printed: true to go on. When it answers false it has told the
  // operator why, and nothing is written. Without one, nothing is.
  std::function<bool(const SListExportRecord&)> fnPermit;
};

// Saves the rows of `list`, in their order, with the columns it shows, as
// CSV or XLSX (the chosen file name's extension says which), through a new
// file that replaces the chosen one only once it is whole (mode 0600). The
// file name is asked of the presenter, progress shown through it; a failure
// shows an error box that says why and leaves no file. True once saved;
// false when the list is empty, the operator cancelled, fnPermit refused or
// the file could not be written.
GUICOMMON_API bool SaveListView(TListView* list, const SListOutput& output);
// Prints the rows on A4 landscape pages, each with a header (the title, the
// conditions, the operator, the time, "第 N 页 / 共 M 页") and the columns'
// captions, the columns fitted to the page's width. Where to print is asked
// of the presenter: a printer through the system's print dialog, or a PDF
// file written as SaveListView writes. True once printed.
GUICOMMON_API bool PrintListView(TListView* list, const SListOutput& output);
// Shows the pages in a preview dialog; printing from there asks fnPermit
// first as PrintListView does. False for an empty list.
GUICOMMON_API bool PreviewListView(TListView* list, const SListOutput& output);
