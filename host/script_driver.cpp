#include "script_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QFile>
#include <QHeaderView>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPixmap>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "file_actions.h"
#include "host_session.h"
#include "input_events.h"
#include "script_presenter.h"
#include "script_text.h"
#include "toolkit/actnlist.h"
#include "toolkit/application.h"
#include "toolkit/datetimepicker.h"
#include "toolkit/forms.h"
#include "toolkit/listview.h"
#include "toolkit/qtext.h"
#include "toolkit/stdctrls.h"
#include "toolkit/sysutils.h"

using TArgs = std::vector<std::string>;

struct CCommandEntry {
  const char* name;
  size_t argCount;
  const char* usage;
  CScriptDriver::TCommand run;
};

// What `date` and `time` set: the pattern of their argument and the setter.
struct CPickerPart {
  const char* name;
  const char* pattern;
  char separator;
  void (*set)(TDateTimePicker* picker, int a, int b, int c);
};

std::span<const CCommandEntry> CScriptDriver::Commands() {
  static constexpr CCommandEntry kCommands[] = {
      {"open", 1, "open ID", &CScriptDriver::Open},
      {"click", 1, "click NAME", &CScriptDriver::Click},
      {"type", 2, "type NAME TEXT", &CScriptDriver::Type},
      {"key", 2, "key NAME KEY", &CScriptDriver::Key},
      {"set", 2, "set NAME TEXT", &CScriptDriver::Set},
      {"select", 2, "select NAME INDEX", &CScriptDriver::Select},
      {"date", 2, "date NAME YYYY-MM-DD", &CScriptDriver::Date},
      {"time", 2, "time NAME HH:MM:SS", &CScriptDriver::Time},
      {"header", 2, "header NAME COLUMN", &CScriptDriver::Header},
      {"rclick", 3, "rclick NAME ROW COLUMN", &CScriptDriver::RightClick},
      {"menu", 1, "menu TEXT", &CScriptDriver::Menu},
      {"state", 1, "state NAME", &CScriptDriver::State},
      {"focus", 0, "focus", &CScriptDriver::Focus},
      {"dump", 1, "dump NAME", &CScriptDriver::Dump},
      {"clipboard", 0, "clipboard", &CScriptDriver::Clipboard},
      {"shot", 1, "shot FILE", &CScriptDriver::Shot},
      {"saveas", 1, "saveas FILE", &CScriptDriver::SaveAs},
      {"print", 1, "print FILE.pdf", &CScriptDriver::Print},
      {"close", 0, "close", &CScriptDriver::Close},
      {"quit", 0, "quit", &CScriptDriver::Quit},
  };
  return kCommands;
}

namespace {

struct CKeyName {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
};

constexpr CKeyName kKeys[] = {
    {"Enter", Qt::Key_Return, Qt::NoModifier},        {"Tab", Qt::Key_Tab, Qt::NoModifier},
    {"Backtab", Qt::Key_Backtab, Qt::ShiftModifier},  {"Up", Qt::Key_Up, Qt::NoModifier},
    {"Down", Qt::Key_Down, Qt::NoModifier},           {"Escape", Qt::Key_Escape, Qt::NoModifier},
    {"Backspace", Qt::Key_Backspace, Qt::NoModifier}, {"Ctrl+A", Qt::Key_A, Qt::ControlModifier},
    {"Ctrl+Z", Qt::Key_Z, Qt::ControlModifier},       {"Ctrl+T", Qt::Key_T, Qt::ControlModifier},
    {"Ctrl+C", Qt::Key_C, Qt::ControlModifier},       {"Ctrl+V", Qt::Key_V, Qt::ControlModifier},
    {"Ctrl+S", Qt::Key_S, Qt::ControlModifier},       {"Ctrl+P", Qt::Key_P, Qt::ControlModifier},
};

constexpr CPickerPart kDatePart = {
    "date", "YYYY-MM-DD", '-',
    [](TDateTimePicker* p, int y, int m, int d) { p->SetDate(TDateTime::EncodeDate(y, m, d)); }};
constexpr CPickerPart kTimePart = {
    "time", "HH:MM:SS", ':',
    [](TDateTimePicker* p, int h, int m, int s) { p->SetTime(TDateTime::EncodeTime(h, m, s)); }};

bool ParseInt(const std::string& text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "NNNN<sep>NN<sep>NN" with the separator `sep`.
bool ParseTriple(const std::string& text, char sep, int& a, int& b, int& c) {
  if (text.size() < 8 || text.size() > 10) return false;
  const size_t first = text.find(sep);
  const size_t second = text.find(sep, first + 1);
  if (first == std::string::npos || second == std::string::npos) return false;
  return ParseInt(text.substr(0, first), a) &&
         ParseInt(text.substr(first + 1, second - first - 1), b) &&
         ParseInt(text.substr(second + 1), c);
}

std::string Utf8(const std::string& gbk) {
  return GbkToQString(gbk).toStdString();
}

std::string Gbk(const std::string& utf8) {
  return QStringToGbk(QString::fromStdString(utf8));
}

TComponent* FindOwned(const TComponent* owner, const std::string& name) {
  if (TComponent* found = owner->FindComponent(name)) return found;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    if (TComponent* found = FindOwned(owner->Components(i), name)) return found;
  }
  return nullptr;
}

void CollectControls(const TComponent* owner, std::vector<TControl*>& controls) {
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TComponent* c = owner->Components(i);
    if (auto* control = dynamic_cast<TControl*>(c)) controls.push_back(control);
    CollectControls(c, controls);
  }
}

const char* KindName(TControl*) {
  return "control";
}
const char* KindName(TWinControl*) {
  return "windowed control";
}
const char* KindName(TComboBox*) {
  return "combo box";
}
const char* KindName(TDateTimePicker*) {
  return "date-time picker";
}
const char* KindName(TListView*) {
  return "list view";
}

std::string Unsettled() {
  return "the windows did not settle: work was still queued after " +
         std::to_string(CScriptDriver::kMaxSettleRounds) + " rounds";
}

// Watches, while it lives, for the events that carry queued work: a queued
// call (the toolkit's posted-message pump, a list's flush, a form's release
// are ones), a deferred delete, a layout request, an event of the program's
// own. Paint and timers are not work to wait for: a blinking caret would
// never let a round be quiet.
class QueuedWorkWatch : public QObject {
 public:
  QueuedWorkWatch() { QCoreApplication::instance()->installEventFilter(this); }
  ~QueuedWorkWatch() override { QCoreApplication::instance()->removeEventFilter(this); }
  void Reset() { bRan = false; }
  bool Ran() const { return bRan; }

  bool eventFilter(QObject*, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::MetaCall || type == QEvent::DeferredDelete ||
        type == QEvent::LayoutRequest || type >= QEvent::User) {
      bRan = true;
    }
    return false;
  }

 private:
  bool bRan = false;
};

}  // namespace

CScriptDriver::CScriptDriver(CHostSession& session, CScriptOutput& output)
    : rSession(session), rOutput(output) {}

bool CScriptDriver::Settle() {
  QueuedWorkWatch work;
  for (int round = 0; round < kMaxSettleRounds; ++round) {
    work.Reset();
    Application()->ProcessMessages();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!work.Ran()) return true;
  }
  return false;
}

void CScriptDriver::CloseAll() {
  Application()->MdiArea()->closeAllSubWindows();
  if (!Settle()) Fail(0, Unsettled());
}

int CScriptDriver::Run(std::istream& script) {
  // One byte more than a line may hold tells a line that is too long.
  std::vector<char> buffer(kMaxScriptLineBytes + 2);
  std::size_t total = 0;
  int lineNumber = 0;
  while (!bQuit) {
    script.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto taken = static_cast<std::size_t>(script.gcount());
    if (taken == 0 && !script) break;
    ++lineNumber;
    total += taken;
    // Whether the line feed was taken (and counted); else the line ended at
    // the end of the script, or did not fit.
    const bool ended = !script.fail() && !script.eof();
    const std::size_t length = ended ? taken - 1 : taken;
    std::string fault;
    if (length > kMaxScriptLineBytes || (script.fail() && !script.eof()))
      fault = "a line longer than " + std::to_string(kMaxScriptLineBytes) + " bytes";
    else if (total > kMaxScriptBytes)
      fault = "a script longer than " + std::to_string(kMaxScriptBytes) + " bytes";
    if (!fault.empty()) {
      Fail(lineNumber, fault);
      break;
    }
    if (!RunLine(std::string(buffer.data(), length), lineNumber) || !ended) break;
  }
  if (script.bad()) Fail(lineNumber + 1, "the script cannot be read");
  return iErrors;
}

void CScriptDriver::Fail(int lineNumber, const std::string& reason) {
  ++iErrors;
  rOutput.Write({"error", std::to_string(lineNumber), EscapeField(reason)});
}

bool CScriptDriver::RunLine(const std::string& line, int lineNumber) {
  const CScriptLine parsed = SplitScriptLine(line);
  if (parsed.strCommand.empty()) return true;
  if (parsed.strCommand == kTimeoutPrefix) return RunWithTimeout(parsed, lineNumber);
  std::string reason;
  const CCommandEntry* entry = nullptr;
  for (const CCommandEntry& e : Commands()) {
    if (parsed.strCommand == e.name) entry = &e;
  }
  TArgs args;
  if (entry == nullptr) {
    reason = "unknown command " + parsed.strCommand;
  } else if (entry->argCount == 0 && !parsed.strRest.empty()) {
    reason = std::string("usage: ") + entry->usage;
  } else if (entry->argCount > 0 &&
             (!parsed.bHasRest || !SplitArguments(parsed.strRest, entry->argCount, args))) {
    reason = std::string("usage: ") + entry->usage;
  } else {
    try {
      reason = (this->*entry->run)(args);
    } catch (const std::exception& e) {
      reason = "exception: " + Utf8(e.what());
    } catch (...) {
      reason = "unknown exception";
    }
    if (!Settle()) reason += (reason.empty() ? "" : "; ") + Unsettled();
  }
  if (!reason.empty()) Fail(lineNumber, reason);
  return !bQuit;
}

bool CScriptDriver::RunWithTimeout(const CScriptLine& parsed, int lineNumber) {
  TArgs args;
  int ms = 0;
  if (!parsed.bHasRest || !SplitArguments(parsed.strRest, 2, args) || !ParseInt(args[0], ms) ||
      ms < 0 || SplitScriptLine(args[1]).strCommand.empty()) {
    ++iErrors;
    rOutput.Write(
        {"error", std::to_string(lineNumber), EscapeField("usage: timeout MS COMMAND ...")});
    return true;
  }
  // Fires only inside a wait: the one event loop a command runs is the live
  // wait of a remote call (and the settling after the command, when no call
  // waits any more).
  QTimer giveUp;
  giveUp.setSingleShot(true);
  QObject::connect(&giveUp, &QTimer::timeout, [] {
    if (!Application()->CallWaiting()) return;
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr) target = Application()->MainWindow();
    PressKeyInWindow(target, Qt::Key_Escape, Qt::NoModifier);
  });
  giveUp.start(ms);
  return RunLine(args[1], lineNumber);
}

TForm* CScriptDriver::Current() const {
  return pCurrentWidget ? pCurrent : nullptr;
}

TComponent* CScriptDriver::FindByName(const std::string& name, std::string& error) const {
  TForm* form = Current();
  if (form == nullptr) {
    error = "no current window";
    return nullptr;
  }
  TComponent* found = FindOwned(form, name);
  if (found == nullptr) error = "no control " + name;
  return found;
}

template <class T>
T* CScriptDriver::Find(const std::string& name, std::string& error) const {
  TComponent* component = FindByName(name, error);
  if (component == nullptr) return nullptr;
  T* control = dynamic_cast<T*>(component);
  if (control == nullptr) error = name + " is not a " + KindName(static_cast<T*>(nullptr));
  return control;
}

std::string CScriptDriver::Open(const TArgs& args) {
  int id = 0;
  if (!ParseInt(args[0], id)) return "not a business id: " + args[0];
  std::string problem;
  TForm* form = rSession.OpenBusiness(id, problem);
  if (form == nullptr) return problem;
  pCurrent = form;
  pCurrentWidget = form->Widget();
  return {};
}

std::string CScriptDriver::Click(const TArgs& args) {
  std::string error;
  TControl* control = Find<TControl>(args[0], error);
  if (control == nullptr) return error;
  QWidget* widget = control->Widget();
  if (!widget->isVisible()) return args[0] + " is not showing";
  ClickWidget(widget, widget->rect().center(), Qt::LeftButton);
  return {};
}

std::string CScriptDriver::Type(const TArgs& args) {
  std::string error;
  TWinControl* control = Find<TWinControl>(args[0], error);
  if (control == nullptr) return error;
  if (!control->CanFocus()) return args[0] + " cannot take the focus";
  control->SetFocus();
  TypeIntoWindow(control->Widget(), QString::fromStdString(args[1]));
  return {};
}

std::string CScriptDriver::Key(const TArgs& args) {
  const CKeyName* key = nullptr;
  for (const CKeyName& k : kKeys) {
    if (args[1] == k.name) key = &k;
  }
  if (key == nullptr) return "unknown key " + args[1];
  std::string error;
  TWinControl* control = Find<TWinControl>(args[0], error);
  if (control == nullptr) return error;
  if (!control->CanFocus()) return args[0] + " cannot take the focus";
  control->SetFocus();
  PressKeyInWindow(control->Widget(), key->key, key->modifiers);
  return {};
}

std::string CScriptDriver::Set(const TArgs& args) {
  std::string error;
  TComponent* component = FindByName(args[0], error);
  if (component == nullptr) return error;
  if (auto* edit = dynamic_cast<TEdit*>(component)) {
    edit->SetText(Gbk(args[1]));
  } else if (auto* combo = dynamic_cast<TComboBox*>(component)) {
    combo->SetText(Gbk(args[1]));
  } else {
    return args[0] + " is not an edit or a combo box";
  }
  return {};
}

std::string CScriptDriver::Select(const TArgs& args) {
  std::string error;
  TComboBox* combo = Find<TComboBox>(args[0], error);
  if (combo == nullptr) return error;
  int index = 0;
  if (!ParseInt(args[1], index) || index < -1 || index >= combo->Items()->Count()) {
    return "no item " + args[1] + " in " + args[0];
  }
  combo->SetItemIndex(index);
  return {};
}

std::string CScriptDriver::Date(const TArgs& args) {
  return SetPicker(args, kDatePart);
}

std::string CScriptDriver::Time(const TArgs& args) {
  return SetPicker(args, kTimePart);
}

std::string CScriptDriver::SetPicker(const TArgs& args, const CPickerPart& part) {
  std::string error;
  TDateTimePicker* picker = Find<TDateTimePicker>(args[0], error);
  if (picker == nullptr) return error;
  int a = 0, b = 0, c = 0;
  if (args[1].size() != std::strlen(part.pattern) ||
      !ParseTriple(args[1], part.separator, a, b, c)) {
    return std::string("not a ") + part.name + " (" + part.pattern + "): " + args[1];
  }
  try {
    part.set(picker, a, b, c);
  } catch (const EConvertError&) {
    return std::string("not a ") + part.name + ": " + args[1];
  }
  return {};
}

std::string CScriptDriver::Header(const TArgs& args) {
  std::string error;
  TListView* listView = Find<TListView>(args[0], error);
  if (listView == nullptr) return error;
  QTableView* view = listView->TableView();
  QHeaderView* header = view->horizontalHeader();
  int column = 0;
  if (!ParseInt(args[1], column) || column < 0 || column >= header->count()) {
    return "no column " + args[1] + " in " + args[0];
  }
  if (!header->isVisible()) return args[0] + " shows no header";
  if (view->model()->rowCount() > 0) view->scrollTo(view->model()->index(0, column));
  const int left = header->sectionViewportPosition(column);
  const int width = header->sectionSize(column);
  const int x = left + width / 2;
  if (width <= 0 || x < 0 || x >= header->viewport()->width()) {
    return "column " + args[1] + " of " + args[0] + " is not in view";
  }
  ClickWidget(header->viewport(), QPoint(x, header->height() / 2), Qt::LeftButton);
  return {};
}

std::string CScriptDriver::RightClick(const TArgs& args) {
  std::string error;
  TListView* listView = Find<TListView>(args[0], error);
  if (listView == nullptr) return error;
  QTableView* view = listView->TableView();
  const QAbstractItemModel* model = view->model();
  int row = 0, column = 0;
  if (!ParseInt(args[1], row) || row < 0 || row >= model->rowCount()) {
    return "no row " + args[1] + " in " + args[0];
  }
  if (!ParseInt(args[2], column) || column < 0 || column >= model->columnCount()) {
    return "no column " + args[2] + " in " + args[0];
  }
  const QModelIndex index = model->index(row, column);
  view->scrollTo(index);
  const QRect cell = view->visualRect(index).intersected(view->viewport()->rect());
  if (cell.isEmpty()) return "the cell is not in view";
  ClickWidget(view->viewport(), cell.center(), Qt::RightButton);
  return {};
}

std::string CScriptDriver::Menu(const TArgs& args) {
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (menu == nullptr) return "no popup menu is open";
  const QString caption = QString::fromStdString(args[0]);
  for (QAction* action : menu->actions()) {
    if (action->isSeparator() || QString(action->text()).remove(QLatin1Char('&')) != caption) {
      continue;
    }
    if (!action->isEnabled() || !action->isVisible()) return "menu item " + args[0] + " is off";
    ClickWidget(menu, menu->actionGeometry(action).center(), Qt::LeftButton);
    return {};
  }
  return "the menu has no item " + args[0];
}

std::string CScriptDriver::State(const TArgs& args) {
  std::string error;
  TControl* control = Find<TControl>(args[0], error);
  if (control == nullptr) return error;
  auto* check = dynamic_cast<TCheckBox*>(control);
  std::string text = Utf8(control->Text());
  if (auto* picker = dynamic_cast<TDateTimePicker*>(control)) {
    text = picker->DateTimeEdit()->text().toStdString();
  }
  std::vector<std::string> fields = {
      "state", control->Name(), std::string("checked=") + (check && check->Checked() ? "1" : "0"),
      std::string("enabled=") + (control->Widget()->isEnabled() ? "1" : "0"),
      "text=" + EscapeField(text)};
  if (auto* combo = dynamic_cast<TComboBox*>(control)) {
    fields.push_back("index=" + std::to_string(combo->ItemIndex()));
  }
  rOutput.Write(fields);
  return {};
}

std::string CScriptDriver::Focus(const TArgs&) {
  TForm* form = Current();
  if (form == nullptr) return "no current window";
  std::vector<TControl*> controls;
  CollectControls(form, controls);
  std::string name;
  // The focus widget may be a part of a control (a combo box's edit): the
  // nearest control at or above it is the one that has the focus.
  for (QWidget* w = form->Widget()->window()->focusWidget(); w && name.empty();
       w = w->parentWidget()) {
    if (w == form->Widget()) break;
    for (TControl* control : controls) {
      if (control->Widget() == w) name = control->Name();
    }
  }
  rOutput.Write({"focus", name});
  return {};
}

std::string CScriptDriver::Dump(const TArgs& args) {
  std::string error;
  TListView* listView = Find<TListView>(args[0], error);
  if (listView == nullptr) return error;
  std::vector<std::string> fields = {"columns"};
  const int columns = listView->Columns()->Count();
  for (int c = 0; c < columns; ++c) {
    const TListColumn* column = listView->Columns()->Items(c);
    fields.push_back(EscapeField(Utf8(column->Caption())) + ":" + std::to_string(column->Width()));
  }
  rOutput.Write(fields);
  const int rows = listView->Items()->Count();
  for (int r = 0; r < rows; ++r) {
    fields = {"row"};
    for (int c = 0; c < std::max(columns, 1); ++c) {
      fields.push_back(EscapeField(Utf8(listView->CellText(r, c))));
    }
    rOutput.Write(fields);
  }
  rOutput.Write({"rows", std::to_string(rows)});
  return {};
}

std::string CScriptDriver::Clipboard(const TArgs&) {
  rOutput.Write({"clipboard", EscapeField(QApplication::clipboard()->text().toStdString())});
  return {};
}

std::string CScriptDriver::Shot(const TArgs& args) {
  TForm* form = Current();
  if (form == nullptr) return "no current window";
  QWidget* window = form->WindowWidget();
  if (window == nullptr) return "cannot save " + args[0];
  // A picture of subscribers' data: a new file of the user's own, never one
  // that exists or a link's target.
  const int fd =
      ::open(args[0].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return "cannot create " + args[0] + ": " + std::strerror(errno);
  QFile file;
  const bool saved = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
                     window->grab().save(&file, "PNG") && file.flush();
  file.close();
  if (!saved) {
    ::unlink(args[0].c_str());
    return "cannot save " + args[0];
  }
  return {};
}

std::string CScriptDriver::SaveAs(const TArgs& args) {
  return RunFileAction("actSaveAs", args[0]);
}

std::string CScriptDriver::Print(const TArgs& args) {
  const std::string& path = args[0];
  const std::string extension = ".pdf";
  if (path.size() <= extension.size() ||
      QString::fromStdString(path.substr(path.size() - extension.size())).toLower() !=
          QLatin1String(".pdf")) {
    return "print writes a PDF file (FILE.pdf): " + path;
  }
  return RunFileAction("actPrint", path);
}

std::string CScriptDriver::RunFileAction(const char* name, const std::string& path) {
  TForm* form = Current();
  if (form == nullptr) return "no current window";
  TAction* action = RunnableAction(form, name);
  if (action == nullptr) {
    return std::string(name) + " of the current window is off (no handler, or nothing to " +
           "save or print)";
  }
  auto* presenter = dynamic_cast<CScriptPresenter*>(GetGUIPresenter());
  if (presenter == nullptr) return "no script presenter to answer the file question";
  // Saved means a new file at `path`: it was not there, or it is another one.
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  presenter->AnswerNextFile(path);
  action->Execute();
  presenter->AnswerNextFile({});
  struct stat after {};
  if (::stat(path.c_str(), &after) != 0 ||
      (existed && after.st_ino == before.st_ino && after.st_dev == before.st_dev)) {
    return "nothing was written to " + path;
  }
  return {};
}

std::string CScriptDriver::Close(const TArgs&) {
  TForm* form = Current();
  if (form == nullptr) return "no current window";
  form->WindowWidget()->close();
  if (!Settle()) return Unsettled();
  if (!pCurrentWidget) {
    // As on the screen, the window that becomes active is the current one.
    pCurrent = ActiveBusinessForm();
    pCurrentWidget = pCurrent ? pCurrent->Widget() : nullptr;
  }
  return {};
}

std::string CScriptDriver::Quit(const TArgs&) {
  bQuit = true;
  return {};
}
