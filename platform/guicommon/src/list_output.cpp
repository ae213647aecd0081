// Saving and printing a result list: the list's rows read once, in their
// order, through the presenter's questions and the caller's permission.

#include "guicommon/list_output.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <algorithm>
#include <numeric>

#include "guicommon/guicommon.h"
#include "guicommon/presenter.h"
#include "toolkit/listview.h"
#include "toolkit/qtext.h"
#include "toolkit/winapi.h"

using namespace MListExport;

namespace {

// Rows between two progress steps: the box repaints and its cancel button
// is looked at this often.
constexpr int kProgressStep = 1024;

std::string Gbk(const QString& text) {
  return QStringToGbk(text);
}

void ShowFailure(const QString& what, const std::string& reasonUtf8) {
  const QString text = what + QLatin1Char('\n') + QString::fromStdString(reasonUtf8);
  ShowGUIMessage(Gbk(text).c_str(), Gbk(QStringLiteral("提示")).c_str(), MB_ICONERROR);
}

// The columns the list shows (a column of width 0 is hidden), in order.
std::vector<int> ShownColumns(TListView* list) {
  std::vector<int> shown;
  TListColumns* columns = list->Columns();
  for (int c = 0; c < columns->Count(); ++c) {
    if (columns->Items(c)->Width() > 0) shown.push_back(c);
  }
  return shown;
}

TCellKind KindOf(const SListOutput& output, int column) {
  const auto c = static_cast<size_t>(column);
  return c < output.vKinds.size() ? output.vKinds[c] : TCellKind::Text;
}

// Progress through the presenter, shown while it lives.
class CProgress {
 public:
  CProgress(const QString& text, int64_t total) {
    GetGUIPresenter()->ShowProgress(Gbk(text).c_str(), total);
  }
  ~CProgress() { GetGUIPresenter()->CloseProgress(); }
  CProgress(const CProgress&) = delete;
  CProgress& operator=(const CProgress&) = delete;
  // False once the operator asked to cancel.
  bool Step(int64_t done) {
    if (done % kProgressStep != 0) return true;
    return GetGUIPresenter()->UpdateProgress(done);
  }
};

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

bool Permit(const SListOutput& output, int64_t rows, const char* format, bool printed) {
  if (!output.fnPermit) return false;
  SListExportRecord record;
  record.sList = output.sList;
  record.sConditions = output.sConditions;
  record.iRows = rows;
  record.sFormat = format;
  record.bPrinted = printed;
  return output.fnPermit(record);
}

// ---------------------------------------------------------------- printing

// The pages of a list: the columns' widths fitted to the page and where
// each page's rows begin. Made for one printer (its resolution and page).
class CPrintedList {
 public:
  CPrintedList(TListView* list, const SListOutput& output, QPrinter& printer)
      : pList(list), rOutput(output), vColumns(ShownColumns(list)) {
    cFont = QApplication::font();
    cFont.setPointSizeF(9);
    cBold = cFont;
    cBold.setBold(true);
    cTitleFont = cBold;
    cTitleFont.setPointSizeF(12);
    QFontMetricsF metrics(cFont, &printer);
    QFontMetricsF titleMetrics(cTitleFont, &printer);
    dLine = metrics.lineSpacing();
    dPad = metrics.averageCharWidth() / 2 + 1;
    cPage = printer.pageLayout().paintRectPixels(printer.resolution());
    cPage.moveTo(0, 0);
    dHeaderHeight = titleMetrics.lineSpacing() + 2 * dLine + dLine / 2;
    const QString printedAt =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    sConditions = QStringLiteral("查询条件：") + GbkToQString(output.sConditions);
    sOperatorLine = QStringLiteral("操作员：") + GbkToQString(output.sOperator) +
                    QStringLiteral("    打印时间：") + printedAt;
    FitColumns(metrics);
    Paginate(metrics);
  }

  int PageCount() const { return static_cast<int>(vPageStarts.size()); }

  // Paints every page; false when the operator cancelled or the printer
  // failed.
  bool Paint(QPrinter& printer, CProgress* progress) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const int rows = pList->Items()->Count();
    int64_t done = 0;
    for (int page = 0; page < PageCount(); ++page) {
      if (page > 0 && !printer.newPage()) return false;
      double y = PaintPageHeader(painter, page);
      const int end = page + 1 < PageCount() ? vPageStarts[static_cast<size_t>(page) + 1] : rows;
      for (int r = vPageStarts[static_cast<size_t>(page)]; r < end; ++r) {
        y = PaintRow(painter, r, y, false);
        if (progress != nullptr && !progress->Step(++done)) {
          painter.end();
          return false;
        }
      }
    }
    return painter.end();
  }

 private:
  QString Cell(int row, int column) const {
    if (row < 0) return GbkToQString(pList->Columns()->Items(column)->Caption());
    return GbkToQString(pList->Items()->Item(row)->CellText(column));
  }

  // Each column as wide as its widest text (the captions and the first rows
  // measured), then the page's width shared out: a narrow list widens every
  // column alike, a wide one narrows the widest columns first, whose texts
  // then wrap.
  void FitColumns(const QFontMetricsF& metrics) {
    const size_t n = vColumns.size();
    std::vector<double> natural(n, 0);
    const int sample = std::min(pList->Items()->Count(), 2000);
    for (size_t i = 0; i < n; ++i) {
      double widest = metrics.horizontalAdvance(Cell(-1, vColumns[i])) * 1.1;
      for (int r = 0; r < sample; ++r)
        widest = std::max(widest, metrics.horizontalAdvance(Cell(r, vColumns[i])));
      natural[i] = widest + 2 * dPad;
    }
    const double page = cPage.width();
    const double total = std::accumulate(natural.begin(), natural.end(), 0.0);
    vWidths = natural;
    if (n == 0) return;
    if (total <= page) {
      for (double& w : vWidths) w *= page / total;
    } else {
      // The cap that makes the widths add up to the page: columns narrower
      // than it keep their width.
      std::vector<double> sorted = natural;
      std::sort(sorted.begin(), sorted.end());
      double rest = page;
      double cap = page / static_cast<double>(n);
      for (size_t i = 0; i < n; ++i) {
        const double share = rest / static_cast<double>(n - i);
        if (sorted[i] > share) {
          cap = share;
          break;
        }
        rest -= sorted[i];
        cap = sorted[i];
      }
      for (double& w : vWidths) w = std::min(w, cap);
    }
  }

  double RowHeight(int row, const QFontMetricsF& metrics) const {
    double lines = 1;
    for (size_t i = 0; i < vColumns.size(); ++i) {
      const QString text = Cell(row, vColumns[i]);
      const double inner = vWidths[i] - 2 * dPad;
      if (metrics.horizontalAdvance(text) <= inner) continue;
      const QRectF need = metrics.boundingRect(QRectF(0, 0, inner, 1e6),
                                               Qt::TextWrapAnywhere | Qt::AlignLeft, text);
      lines = std::max(lines, std::ceil(need.height() / dLine));
    }
    return lines * dLine + 2;
  }

  void Paginate(const QFontMetricsF& metrics) {
    const int rows = pList->Items()->Count();
    vHeights.resize(static_cast<size_t>(rows));
    const double top = dHeaderHeight + RowHeight(-1, metrics);
    vPageStarts.push_back(0);
    double y = top;
    for (int r = 0; r < rows; ++r) {
      const double h = RowHeight(r, metrics);
      vHeights[static_cast<size_t>(r)] = h;
      if (y + h > cPage.height() && y > top) {
        vPageStarts.push_back(r);
        y = top;
      }
      y += h;
    }
    dCaptionHeight = RowHeight(-1, metrics);
  }

  double PaintPageHeader(QPainter& painter, int page) {
    const QRectF area(0, 0, cPage.width(), dHeaderHeight);
    painter.setFont(cTitleFont);
    const double titleHeight = QFontMetricsF(cTitleFont, painter.device()).lineSpacing();
    painter.drawText(QRectF(0, 0, area.width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     GbkToQString(rOutput.sTitle));
    painter.setFont(cFont);
    painter.drawText(QRectF(0, 0, area.width(), titleHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("第 %1 页 / 共 %2 页").arg(page + 1).arg(PageCount()));
    painter.drawText(QRectF(0, titleHeight, area.width(), dLine), Qt::AlignLeft | Qt::AlignVCenter,
                     sConditions);
    painter.drawText(QRectF(0, titleHeight + dLine, area.width(), dLine),
                     Qt::AlignLeft | Qt::AlignVCenter, sOperatorLine);
    return PaintRow(painter, -1, dHeaderHeight, true);
  }

  double PaintRow(QPainter& painter, int row, double y, bool caption) {
    const double h = caption ? dCaptionHeight : vHeights[static_cast<size_t>(row)];
    painter.setFont(caption ? cBold : cFont);
    double x = 0;
    if (caption) painter.fillRect(QRectF(0, y, cPage.width(), h), QColor(0xE8, 0xE8, 0xE8));
    for (size_t i = 0; i < vColumns.size(); ++i) {
      const QRectF cell(x, y, vWidths[i], h);
      const int align = !caption && (KindOf(rOutput, vColumns[i]) == TCellKind::Amount ||
                                     KindOf(rOutput, vColumns[i]) == TCellKind::Number)
                            ? Qt::AlignRight
                            : Qt::AlignLeft;
      painter.drawText(cell.adjusted(dPad, 1, -dPad, -1),
                       align | Qt::AlignTop | Qt::TextWrapAnywhere, Cell(row, vColumns[i]));
      painter.drawRect(cell);
      x += vWidths[i];
    }
    return y + h;
  }

  TListView* pList;
  const SListOutput& rOutput;
  std::vector<int> vColumns;
  std::vector<double> vWidths;
  std::vector<double> vHeights;
  std::vector<int> vPageStarts;
  QFont cFont, cBold, cTitleFont;
  QRectF cPage;
  double dLine = 0, dPad = 0, dHeaderHeight = 0, dCaptionHeight = 0;
  QString sConditions, sOperatorLine;
};

void SetUpPrinter(QPrinter& printer, const SListOutput& output) {
  printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                    QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
  printer.setDocName(GbkToQString(output.sTitle));
  printer.setCreator(QStringLiteral("mpay"));
}

bool PrintRows(TListView* list, const SListOutput& output, QPrinter& printer) {
  CPrintedList pages(list, output, printer);
  CProgress progress(QStringLiteral("正在打印，请稍后..."), list->Items()->Count());
  return pages.Paint(printer, &progress);
}

}  // namespace

bool SaveListView(TListView* list, const SListOutput& output) {
  if (list == nullptr || list->Items()->Count() == 0) return false;
  const int rows = list->Items()->Count();
  std::string path = (GbkToQString(output.sTitle) + QStringLiteral(".xlsx")).toStdString();
  if (!GetGUIPresenter()->AskSaveFileName(Gbk(QStringLiteral("另存为")).c_str(), path))
    return false;
  const QString failed = QStringLiteral("保存列表失败：") + QString::fromStdString(path);
  TFormat format;
  if (!FormatOfFileName(path, format)) {
    ShowFailure(failed, "只能保存为 .csv 或 .xlsx 文件");
    return false;
  }
  if (!Permit(output, rows, FormatName(format), false)) return false;

  CExportFile file;
  std::string error;
  if (!file.Create(path, error)) {
    ShowFailure(failed, error);
    return false;
  }
  const std::vector<int> columns = ShownColumns(list);
  std::vector<std::string> captions;
  std::vector<TCellKind> kinds;
  for (int c : columns) {
    captions.emplace_back();
    AppendGbkAsUtf8(list->Columns()->Items(c)->Caption(), captions.back());
    kinds.push_back(KindOf(output, c));
  }
  std::unique_ptr<CListFileWriter> writer = MakeListFileWriter(format, file);
  bool written = writer->Begin(captions, kinds, error);
  bool cancelled = false;
  {
    CProgress progress(QStringLiteral("正在保存，请稍后..."), rows);
    std::vector<std::string> texts(columns.size());
    std::vector<std::string_view> cells(columns.size());
    TListItems* items = list->Items();
    for (int r = 0; written && r < rows; ++r) {
      const TListItem* item = items->Item(r);
      for (size_t i = 0; i < columns.size(); ++i) {
        // Most cells are ASCII, the same in UTF-8: passed on as they are.
        const std::string_view gbk = item->CellText(columns[i]);
        if (IsAscii(gbk)) {
          cells[i] = gbk;
          continue;
        }
        texts[i].clear();
        AppendGbkAsUtf8(gbk, texts[i]);
        cells[i] = texts[i];
      }
      written = writer->Row(cells, error);
      if (written && !progress.Step(r + 1)) cancelled = true;
      if (cancelled) break;
    }
  }
  if (cancelled) return false;  // the new file goes with `file`
  written = written && writer->Finish(error);
  writer.reset();
  if (!written || !file.Commit(error)) {
    file.Discard();
    ShowFailure(failed, error);
    return false;
  }
  return true;
}

bool PrintListView(TListView* list, const SListOutput& output) {
  if (list == nullptr || list->Items()->Count() == 0) return false;
  const int rows = list->Items()->Count();
  std::string path;
  const int target = GetGUIPresenter()->AskPrintTarget(Gbk(QStringLiteral("打印")).c_str(), path);
  if (target == IGUIPresenter::kPrintCancelled) return false;
  QPrinter printer(QPrinter::HighResolution);
  SetUpPrinter(printer, output);
  if (target == IGUIPresenter::kPrintToPrinter) {
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) return false;
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (!Permit(output, rows, toFile ? "pdf" : "printer", true)) return false;
    if (!PrintRows(list, output, printer)) {
      ShowFailure(QStringLiteral("打印列表失败"), "");
      return false;
    }
    return true;
  }
  const QString failed = QStringLiteral("打印列表失败：") + QString::fromStdString(path);
  if (!Permit(output, rows, "pdf", true)) return false;
  CExportFile file;
  std::string error;
  if (!file.Create(path, error)) {
    ShowFailure(failed, error);
    return false;
  }
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(file.Path()));
  const bool printed = PrintRows(list, output, printer);
  if (!printed || printer.printerState() == QPrinter::Error || !file.Commit(error)) {
    file.Discard();
    if (printed) ShowFailure(failed, error.empty() ? "cannot write the file" : error);
    return false;
  }
  return true;
}

bool PreviewListView(TListView* list, const SListOutput& output) {
  if (list == nullptr || list->Items()->Count() == 0) return false;
  const int rows = list->Items()->Count();
  QPrinter printer(QPrinter::HighResolution);
  SetUpPrinter(printer, output);
  QPrintPreviewDialog dialog(&printer, QApplication::activeWindow());
  dialog.setWindowTitle(QStringLiteral("打印预览 - ") + GbkToQString(output.sTitle));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, [&](QPrinter* target) {
    // The preview paints into pictures of its own; anything else is the
    // dialog's print button, which prints as PrintListView does.
    const bool preview =
        target->paintEngine() != nullptr && target->paintEngine()->type() == QPaintEngine::Picture;
    if (!preview &&
        !Permit(output, rows, target->outputFormat() == QPrinter::PdfFormat ? "pdf" : "printer",
                true))
      return;
    CPrintedList pages(list, output, *target);
    pages.Paint(*target, nullptr);
  });
  dialog.exec();
  return true;
}
