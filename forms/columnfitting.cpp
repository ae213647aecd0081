#include "columnfitting.h"

#include <algorithm>
#include <array>
#include <vector>

#include "forms/listviewcapture.h"
#include "forms/widthrules.h"
#include "toolkit/listview.h"

using namespace MBaseWindow;

namespace {

// A list view marked for fitting, and the first row to fit: its newest row
// when it was marked, or a lower one the rows came down to since.
struct SMark {
  TListView* pListView;
  int iFirstRow;
};

// Few list views are marked at once (usually one), and a fill marks the same
// one hundreds of thousands of times: a short list, the latest mark first.
std::vector<SMark>& Marks() {
  static std::vector<SMark> marks;
  return marks;
}

bool TakesTheMessage(TListView* listView) {
  return SubclassListViewWindow(listView->Handle()) &&
         GetWindowLongPtr(listView->Handle(), GWLP_WNDPROC) ==
             reinterpret_cast<LONG_PTR>(&ListViewWindowProc);
}

// Widens each column to what its caption and the cells of rows first ..
// last need; rows out of range read as empty cells.
void FitRows(TListView* listView, int first, int last) {
  TEXTMETRIC metrics{};
  const bool metricsRead = GetTextMetrics(listView->Canvas()->Handle(), &metrics) == 1;
  const int charWidth = EstimatedCharWidth(metricsRead, metrics.tmAveCharWidth);
  const bool checkBoxes = listView->Checkboxes();
  TListItems* items = listView->Items();
  // Sixteen columns a toolkit call, row after row.
  std::array<TColumnReading, 16> readings;
  std::array<int, 16> current, needed;
  bool widened = false;
  for (int column = 0;; column += static_cast<int>(readings.size())) {
    const int read = listView->ReadColumns(items->Item(first), column, readings);
    if (read == 0) break;
    const auto fit = [&] {
      for (size_t i = 0; i < static_cast<size_t>(read); ++i)
        needed[i] = FittedColumnWidth(needed[i], readings[i].captionBytes, readings[i].cellBytes,
                                      charWidth, checkBoxes);
    };
    for (size_t i = 0; i < static_cast<size_t>(read); ++i)
      current[i] = needed[i] = readings[i].width;
    fit();
    for (int row = first + 1; row <= last; ++row) {
      listView->ReadColumns(items->Item(row), column, readings);
      fit();
    }
    for (size_t i = 0; i < static_cast<size_t>(read); ++i) {
      if (needed[i] > current[i]) {
        listView->Columns()->Items(column + static_cast<int>(i))->SetWidth(needed[i]);
        widened = true;
      }
    }
    if (static_cast<size_t>(read) < readings.size()) break;
  }
  // Show the wider columns now. Row changes themselves reach the view in
  // batches, so with no column widened there is nothing of ours to paint.
  if (widened) UpdateWindow(listView->Handle());
}

}  // namespace

void ScheduleColumnFit(TListView* listView) {
  // Rows taken away since the mark (a list emptied and filled again) lower
  // the first row to fit.
  const int newest = listView->Items()->Count() - 1;
  std::vector<SMark>& marks = Marks();
  if (!marks.empty() && marks.front().pListView == listView) [[likely]] {
    marks.front().iFirstRow = std::min(marks.front().iFirstRow, newest);
    return;
  }
  for (SMark& mark : marks) {
    if (mark.pListView == listView) {
      mark.iFirstRow = std::min(mark.iFirstRow, newest);
      return;
    }
  }
  if (!TakesTheMessage(listView) || !PostMessage(listView->Handle(), WM_FITCOLUMNS, 0, 0)) {
    FitRows(listView, newest, newest);
    return;
  }
  marks.insert(marks.begin(), SMark{listView, newest});
}

void FitMarkedColumns(TListView* listView) {
  std::vector<SMark>& marks = Marks();
  const int last = listView->Items()->Count() - 1;
  int first = last;
  const auto mark = std::find_if(marks.begin(), marks.end(),
                                 [&](const SMark& m) { return m.pListView == listView; });
  if (mark != marks.end()) {
    first = std::clamp(mark->iFirstRow, 0, std::max(last, 0));
    marks.erase(mark);
  }
  FitRows(listView, std::min(first, last), last);
}

void ForgetColumnFit(TListView* listView) {
  std::vector<SMark>& marks = Marks();
  std::erase_if(marks, [&](const SMark& m) { return m.pListView == listView; });
}
