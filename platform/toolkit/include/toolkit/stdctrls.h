#pragma once

#include <functional>
#include <memory>
#include <string>

#include "toolkit/controls.h"
#include "toolkit/export.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class TAction;

// A one-line text box.
class TOOLKIT_API TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  ~TEdit() override;

  // In characters; 0: no limit. Typing and pasting stop at it.
  int MaxLength() const { return iMaxLength; }
  void SetMaxLength(int length);
  bool ReadOnly() const;
  void SetReadOnly(bool value);
  void SelectAll();
  // The Qt widget the edit is made of.
  QLineEdit* LineEdit() const;

  // Pasting (keyboard or the context menu) inserts Filter(clipboard text)
  // in place of the selection, cut at MaxLength. No filter: the text as is.
  using TPasteFilter = std::function<std::string(const std::string&)>;
  void SetPasteFilter(TPasteFilter filter) { fnPasteFilter = std::move(filter); }
  // Inserts text as a paste would (filter and maximum length applied).
  void PasteText(const std::string& text);
  // Pastes the clipboard's text.
  void PasteFromClipboard();

  TNotifyEvent OnChange;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;

 protected:
  TEdit(TComponent* owner, QWidget* widget);
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;
  bool QtEvent(QWidget* target, void* event) override;
  bool InsertTyped(const std::string& bytes) override;

 private:
  void Init();
  int iMaxLength = 0;
  TPasteFilter fnPasteFilter;
};

// An edit with a caption label placed above it.
class TOOLKIT_API TLabeledEdit : public TEdit {
 public:
  explicit TLabeledEdit(TComponent* owner);
  ~TLabeledEdit() override;
  std::string LabelCaption() const;
  void SetLabelCaption(const std::string& text);
  void SetBounds(int left, int top, int width, int height) override;
  void SetParent(TWinControl* parent) override;
  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 private:
  void PlaceLabel();
  QWidget* pLabel;
};

// A check box. Changing Checked (from code or by the user) runs OnClick.
class TOOLKIT_API TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);
  ~TCheckBox() override;
  bool Checked() const;
  // Runs OnClick when the state changes (directly: an exception reaches the
  // caller, and the new state stays).
  void SetChecked(bool checked);
  // The Qt widget the check box is made of.
  QCheckBox* CheckBox() const;
  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;

 private:
  bool bChecked = false;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// A combo box: an editable text field with a drop-down list (csDropDown), or
// a list only (csDropDownList).
class TOOLKIT_API TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* owner);
  ~TComboBox() override;

  TComboBoxStyle Style() const { return iStyle; }
  void SetStyle(TComboBoxStyle style);
  // The list's items; changing them changes the list.
  TStrings* Items() { return pItems.get(); }
  // -1 when no item is selected. In an editable box the selection is the
  // item that the typed text equals (the first such), else none.
  int ItemIndex() const;
  void SetItemIndex(int index);
  int DropDownCount() const { return iDropDownCount; }
  void SetDropDownCount(int count) { iDropDownCount = count; }
  int ItemHeight() const { return iItemHeight; }
  void SetItemHeight(int height);
  // Width of the drop-down list (CB_SETDROPPEDWIDTH); never below Width().
  int DroppedWidth() const;
  bool DroppedDown() const;
  // Opening runs OnDropDown first.
  void SetDroppedDown(bool value);
  TCanvas* Canvas() { return &cCanvas; }
  // The Qt widget the combo box is made of.
  QComboBox* ComboBox() const;

  TNotifyEvent OnChange;
  TNotifyEvent OnDropDown;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;
  bool BindEvent(const std::string& event, const THandler& handler) override;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;
  // CB_SETDROPPEDWIDTH, CB_GETDROPPEDWIDTH.
  void WndProc(TMessage& message) override;

 private:
  friend class toolkit_detail::ControlBridge;
  void DropDown();
  std::unique_ptr<TStrings> pItems;
  TComboBoxStyle iStyle = csDropDown;
  int iDropDownCount = 8;
  int iItemHeight = 16;
  int iDroppedWidth = 0;
  TCanvas cCanvas;
};

// A push button with a glyph. With an action, a click executes the action.
class TOOLKIT_API TBitBtn : public TWinControl {
 public:
  explicit TBitBtn(TComponent* owner);
  ~TBitBtn() override;

  // The glyph: NumGlyphs images side by side (normal, disabled, pressed).
  // The pressed image shows while the button is held down. Call
  // GlyphChanged after drawing into Glyph().
  TBitmap* Glyph() { return &cGlyph; }
  void GlyphChanged();
  // Draws the stock face `name` (see StockGlyph) as a glyph of three images
  // sized to the button; the layout property "Glyph" = "stock:NAME" does the
  // same. False for an unknown name, leaving the glyph as it was.
  bool SetStockGlyph(const std::string& name);
  int NumGlyphs() const { return iNumGlyphs; }
  void SetNumGlyphs(int count);
  // The action a click executes when OnClick is not bound; null when none,
  // or once the action is destroyed.
  TAction* Action() const { return pAction; }
  void SetAction(TAction* action);
  void Click() override;
  // The Qt widget the button is made of.
  QPushButton* PushButton() const;

  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;
  void Notification(TComponent* component) override;

 private:
  TBitmap cGlyph;
  int iNumGlyphs = 1;
  TAction* pAction = nullptr;
};

// Draws one of the toolkit's stock button faces ("query", "close", "ok",
// "cancel") as a glyph of three images (normal, disabled, pressed) of the
// given size each. False for an unknown name.
TOOLKIT_API bool StockGlyph(const std::string& name, int width, int height, TBitmap* glyph);
