#pragma once

#include <memory>
#include <string>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class TFormLayout;
class THandlerTable;

enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter };

// What a form's window is created with. X, Y, Width, Height are the restored
// rectangle (the window's outer size).
struct TCreateParams {
  std::string Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

// A form: a top-level window, or with fsMDIChild a sub-window of the
// application's MDI area.
//
// Building a form from layouts: the constructor of every form class reads its
// own layout with ReadLayout (base classes first, as C++ constructs them);
// the most derived class then calls EndLayout, which runs Loaded once and
// creates the window (CreateParams, then shown when Visible). A class that
// others derive from therefore has two constructors: a public one that calls
// EndLayout, and a protected one for derived classes that does not.
class TOOLKIT_API TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  TFormStyle FormStyle() const { return iFormStyle; }
  void SetFormStyle(TFormStyle style) { iFormStyle = style; }
  TFormBorderStyle BorderStyle() const { return iBorderStyle; }
  void SetBorderStyle(TFormBorderStyle style) { iBorderStyle = style; }
  TPosition Position() const { return iPosition; }
  void SetPosition(TPosition position) { iPosition = position; }
  TWindowState WindowState() const;
  void SetWindowState(TWindowState state);

  // With key preview the form's OnKeyDown/OnKeyUp/OnKeyPress see every key
  // of its controls before the control does (the form is the sender).
  bool KeyPreview() const { return bKeyPreview; }
  void SetKeyPreview(bool value) { bKeyPreview = value; }

  // The control that has (or last had) the focus in this form.
  TWinControl* ActiveControl() const { return pActiveControl; }
  void SetActiveControl(TWinControl* control);
  // Focuses the next (or previous) tab stop after `current` in tab order,
  // wrapping around; with `current` null, the first (or last).
  void SelectNext(TWinControl* current, bool goForward, bool checkTabStop);

  TCanvas* Canvas() { return &cCanvas; }

  // Creates the window if needed and shows it. A form shown without an
  // active control (none was focused, neither before nor by OnShow) focuses
  // its first tab stop.
  void ShowForm();
  // Asks the form to close: OnClose decides the action (its default is
  // caHide, caMinimize for MDI children). caFree frees the form once the
  // current event has been handled (Release).
  void Close();
  // Frees the form from the event loop, after the running handler returns.
  void Release();
  bool Closing() const { return bClosing; }
  void SetVisible(bool visible) override;
  // Runs OnDestroy while the form is still whole.
  void BeforeDestruction() override;

  // The Qt window the form shows in (the MDI sub-window, or the form's own
  // widget); null before the window is created.
  QWidget* WindowWidget() const;

  TCloseEvent OnClose;
  TNotifyEvent OnShow;
  // Runs once when the form is freed (by Release, its owner, or delete).
  TNotifyEvent OnDestroy;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  TRect ClientRect() const override;

 protected:
  // Adds a layout's components, properties and handler bindings to the form.
  // Handler names are looked up in `handlers`. Throws ELayoutError naming the
  // layout, the component and the cause (an unknown class, parent, property,
  // event or handler name, or a value that does not fit).
  void ReadLayout(const TFormLayout& layout, const THandlerTable& handlers);
  // Runs Loaded (once) and creates the window.
  void EndLayout();

  virtual void CreateParams(TCreateParams& params);
  void WndProc(TMessage& message) override;
  bool QtEvent(QWidget* target, void* event) override;
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;

 private:
  friend class TControl;
  friend class TWinControl;
  void CreateWindowNow();
  // A control leaves the form (taken out of its parent, or destroyed): the
  // active control is forgotten when it is that control or inside it.
  void ControlLeaving(TControl* control);
  // When the form is shown and none of its controls is active: focuses the
  // first tab stop that can take the focus.
  void FocusFirstTabStop();
  TCloseAction DoClose();
  void RunOnDestroy();
  void ApplyCloseAction(TCloseAction action);
  TFormStyle iFormStyle = fsNormal;
  TFormBorderStyle iBorderStyle = bsSizeable;
  TPosition iPosition = poDesigned;
  TWindowState iInitialState = wsNormal;
  bool bKeyPreview = false;
  TWinControl* pActiveControl = nullptr;
  TCanvas cCanvas;
  std::string sCaption;
  bool bLoadedDone = false;
  bool bWindowCreated = false;
  bool bClosing = false;
  bool bReleasing = false;
  bool bDestroyRun = false;
  QWidget* pSubWindow = nullptr;
};

// A container that groups controls; the hint and list services also visit
// the components a frame owns.
class TOOLKIT_API TFrame : public TWinControl {
 public:
  explicit TFrame(TComponent* owner);
  ~TFrame() override;
};
