#pragma once

#include <memory>
#include <string>
#include <vector>

#include "toolkit/classes.h"
#include "toolkit/events.h"
#include "toolkit/export.h"
#include "toolkit/graphics.h"
#include "toolkit/types.h"
#include "toolkit/winapi.h"

class QWidget;
class TWinControl;
class TForm;
class TPopupMenu;
namespace toolkit_detail {
class ControlBridge;
}

// What a control shows on a right click, as the controls know it: a popup
// menu (menus.h) is one. The menus build on the controls, never the reverse.
// It remembers the component it was last shown for; the two may die in any
// order (they are linked by the components' free notification).
class TOOLKIT_API TContextPopup : public TComponent {
 public:
  using TComponent::TComponent;
  // The component the popup was last shown for; null once that one died or
  // no longer names the popup.
  TComponent* PopupComponent() const { return pPopupComponent; }
  void SetPopupComponent(TComponent* component);
  // The control's side: remembers `component` and shows the popup at a
  // screen point (Popup), returning at once.
  void PopupFor(TComponent* component, int x, int y);
  // `component` no longer names the popup: it is forgotten if remembered.
  void Release(TComponent* component);
  // Shows the popup at a screen point and returns at once. The class alone
  // has nothing to show; a popup menu shows its items.
  virtual void Popup(int x, int y);

 protected:
  void Notification(TComponent* component) override;

 private:
  TComponent* pPopupComponent = nullptr;
};

// A visible control. Properties are accessor pairs (Caption() / SetCaption());
// events are public TEvent members. Every control is backed by one Qt widget,
// created by its class and destroyed with it. Texts are GBK bytes.
class TOOLKIT_API TControl : public TComponent {
 public:
  ~TControl() override;

  TWinControl* Parent() const { return pParent; }
  // Moves the control into `parent` (null: out of any parent, hidden).
  virtual void SetParent(TWinControl* parent);

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(Left(), Top(), Width(), Height()); }
  // The inside of the control (a group box's frame and title excluded).
  virtual TRect ClientRect() const;
  int ClientWidth() const { return ClientRect().Width(); }
  int ClientHeight() const { return ClientRect().Height(); }
  // Resizes the control so that its inside gets this size.
  void SetClientSize(int width, int height);

  bool Enabled() const { return bEnabled; }
  void SetEnabled(bool enabled);
  bool Visible() const { return bVisible; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent visible.
  bool Showing() const;

  TColor Color() const { return iColor; }
  void SetColor(TColor color);
  bool ParentColor() const { return bParentColor; }
  void SetParentColor(bool value);
  TFont* Font() { return &cFont; }
  bool ParentFont() const { return bParentFont; }
  void SetParentFont(bool value);

  std::string Caption() const { return GetText(); }
  void SetCaption(const std::string& text) { SetText(text); }
  std::string Text() const { return GetText(); }
  void SetText(const std::string& text);

  TAlign Align() const { return iAlign; }
  void SetAlign(TAlign align);

  // The menu shown on a right click; null when none, or once it is destroyed.
  // Defined with the menus (menus.cpp), which know the menu's class.
  TPopupMenu* PopupMenu() const;
  void SetPopupMenu(TPopupMenu* menu);
  const std::string& Hint() const { return sHint; }
  void SetHint(const std::string& hint) { sHint = hint; }

  TPoint ClientToScreen(const TPoint& p) const;
  TPoint ScreenToClient(const TPoint& p) const;

  // Marks the control for painting; Update paints what is marked now;
  // Repaint marks and paints now.
  void Invalidate();
  void Update();
  virtual void Repaint();

  // Runs OnClick (directly: an exception reaches the caller).
  virtual void Click();

  QWidget* Widget() const { return pWidget; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  // Takes `parent` as SetParent does; false when it is not a windowed control.
  bool SetLayoutParent(TComponent* parent) override;

 protected:
  // `widget` becomes the control's (owned; deleted with it).
  TControl(TComponent* owner, QWidget* widget);
  // Forgets its popup menu when the menu is destroyed.
  void Notification(TComponent* component) override;

  virtual std::string GetText() const;
  virtual void ApplyText(const std::string& text);
  // Colour and font shown by the widget changed.
  virtual void ApplyColor();
  virtual void ApplyFont();

  // A Qt event reached the control's widget; true consumes it. The default
  // routes mouse moves, clicks, double clicks and button presses to the events
  // and the popup menu.
  virtual bool QtEvent(QWidget* target, void* event);
  friend class toolkit_detail::ControlBridge;
  friend class TWinControl;

  // Installs the bridge on a Qt widget that belongs to this control (a scroll
  // area's viewport, an inner editor), so its events reach QtEvent too.
  void Bridge(QWidget* widget);

 private:
  void ParentChanged();
  void FontChanged();
  void SyncFromParent();
  void SetContextPopup(TContextPopup* popup);
  QWidget* pWidget;
  TWinControl* pParent = nullptr;
  bool bEnabled = true;
  bool bVisible = true;
  TColor iColor = clBtnFace;
  bool bParentColor = true;
  TFont cFont;
  bool bParentFont = true;
  TAlign iAlign = alNone;
  TContextPopup* pPopupMenu = nullptr;
  std::string sHint;
  std::string sText;
  bool bSyncingFont = false;
  std::unique_ptr<toolkit_detail::ControlBridge> pBridge;
};

// A control with a window handle, children, focus, keys and a tab order.
class TOOLKIT_API TWinControl : public TControl {
 public:
  ~TWinControl() override;

  // Never null while the control lives.
  HWND Handle() const { return pHandle; }

  int ControlCount() const { return static_cast<int>(vControls.size()); }
  // Null outside 0..ControlCount()-1.
  TControl* Controls(int index) const;

  // Position among the parent's windowed children in tab order. Setting it
  // moves the control there and shifts the others.
  int TabOrder() const;
  void SetTabOrder(int order);
  bool TabStop() const { return bTabStop; }
  void SetTabStop(bool value) { bTabStop = value; }

  // Gives the control the input focus and makes it its form's active control.
  void SetFocus();
  bool Focused() const;
  // Showing and enabled, parents included.
  bool CanFocus() const;

  // The child under `point` (client coordinates): the topmost visible child
  // whose bounds hold it, disabled ones only with `allowDisabled`, windowed
  // ones only with `allowWinControls`; with `allLevels` the search goes down
  // into the child found. Null when none.
  TControl* ControlAtPos(const TPoint& point, bool allowDisabled, bool allowWinControls = false,
                         bool allLevels = false) const;

  // The windowed descendants in tab order (depth first).
  void GetTabOrderList(std::vector<TWinControl*>& list) const;

  // Delivers a message to the control's own handling, bypassing the
  // procedure chain.
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

  // Lays the aligned children out again (done on every resize).
  void Realign();

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;
  // Sends WM_DESTROY through the procedure chain while the control is whole.
  void BeforeDestruction() override;

 protected:
  TWinControl(TComponent* owner, QWidget* widget);

  // The control's own message handling, reached through the end of the
  // procedure chain. The default handles nothing (Result 0).
  virtual void WndProc(TMessage& message);

  // Key handling: the form's preview first, then OnKeyDown, then OnKeyPress
  // byte by byte for typed text. Returns true when the key was swallowed.
  bool DoKeyDown(uint16_t& key, TShiftState shift);
  bool DoKeyUp(uint16_t& key, TShiftState shift);
  // Runs OnKeyPress for every byte of the GBK text; false when a byte was
  // dropped (set to 0). `text` receives the bytes after the handler.
  bool DoKeyPress(std::string& text);

  bool QtEvent(QWidget* target, void* event) override;
  // Typed text that a key-press handler changed: a control that can insert it
  // does so and returns true; the default returns false (the key goes on
  // unchanged).
  virtual bool InsertTyped(const std::string& bytes);

  // The widget that child controls' widgets are placed in.
  virtual QWidget* ClientWidget() const;

 private:
  friend class TControl;
  friend LRESULT ToolkitWindowProc(HWND, UINT, WPARAM, LPARAM);
  void AddChild(TControl* child);
  void RemoveChild(TControl* child);
  std::vector<TControl*> vControls;
  std::vector<TWinControl*> vTabList;
  void SendDestroy();
  HWND pHandle;
  bool bTabStop = false;
  bool bDestroySent = false;
};

// The form a control sits in (the control itself when it is a form); null
// when it is in none.
TOOLKIT_API TForm* GetParentForm(TControl* control);
// The control that owns a window handle; null for a dead handle.
TOOLKIT_API TWinControl* FindControl(HWND wnd);
