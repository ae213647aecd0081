#pragma once

#include <cstdint>
#include <functional>

#include "forms/export.h"
#include "forms/selectionaction.h"
#include "forms/sharedactions.h"
#include "toolkit/forms.h"

class TAction;
class TActionList;
class THandlerTable;
class TImageList;
class TListColumn;
class TListItem;
class TListView;
struct SListOutput;

// The base class of every business window: an MDI child in the house colour
// and font with the shared button images and actions, Enter-to-next-field,
// key-press filters for edits, and, wired once the layout is loaded, list
// view sorting, copy menus, check-mark keys and column fitting, hover hints
// for cut-off texts and drop-down widths for combo boxes.
//
// The services only work on their arguments and the controls those point
// to; the window they are bound with is merely the object their handlers are
// called on. The window frees itself when it is closed.
class FORMS_API TfrmMDIChild : public TForm {
 public:
  using TSelectionAction = MBaseWindow::TSelectionAction;
  using enum MBaseWindow::TSelectionAction;

  // Builds the window from its layout and opens it (maximised in the
  // application's MDI area). Throws ELayoutError when the layout cannot be
  // built.
  explicit TfrmMDIChild(TComponent* Owner);
  ~TfrmMDIChild() override;

  // Owned by the window through its layout.
  TImageList* ImageListNormal = nullptr;
  TActionList* ActionListPublic = nullptr;
  // One member per shared action, bound to the action of the same name,
  // declared in member order (not list order).
#define MPAY_SHARED_ACTION_MEMBER_(NAME) TAction* NAME = nullptr;
  MPAY_SHARED_ACTION_MEMBERS(MPAY_SHARED_ACTION_MEMBER_)
#undef MPAY_SHARED_ACTION_MEMBER_

  // Handlers that layouts bind by name (see PublishHandlers).

  // Closing frees the window.
  void FormClose(TObject* Sender, TCloseAction& Action);
  void actExitExecute(TObject* Sender);
  // Sorts by the clicked column, flipping the direction on every click.
  void OnListViewColumnClick(TObject* Sender, TListColumn* Column);
  // Orders two rows by the sort column kept in the list view's tag; gives no
  // result when the tag names no column.
  void OnListViewCompare(TObject* Sender, TListItem* Item1, TListItem* Item2, intptr_t Data,
                         int& Compare);
  // Widens columns to fit their caption and the newest row.
  void OnListViewChange(TObject* Sender, TListItem* Item, TItemChange Change);
  // Enter, Up/Down and Ctrl+A/Z/T on a list view.
  void OnListViewKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);
  // Key-press filters: a refused character is set to 0.
  void OnEditKeyPress(TObject* Sender, char& Key);           // whole numbers
  void OnEditKeyPressDeciPoint(TObject* Sender, char& Key);  // and the full stop
  void OnEditKeyPressTraverse(TObject* Sender, char& Key);   // and '-' and ' '
  // Enter posts a move of the focus to the next tab stop; the key stays.
  void OnControlKeyUp(TObject* Sender, uint16_t& Key, TShiftState Shift);
  void actCloseExecute(TObject* Sender);
  void OnEditKeyPressTraverseChar(TObject* Sender, char& Key);  // single-byte text
  void OnEditKeyPressEmail(TObject* Sender, char& Key);         // single-byte text
  // Shows the hint window over a disabled edit or combo box whose text is cut
  // off, hides it otherwise.
  void FormMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
  // Makes the opened list wide enough for the widest item.
  void OnComboBoxDropDown(TObject* Sender);

  // Wires every service into `Form` (null: nothing): the house colour and
  // style, list views, combo boxes, the hint window (created once), hover
  // hints and Enter-to-next-field.
  void InitForm(TForm* Form);
  // Attaches the list view services to `C` when it is a list view, else to
  // every list view `C` and its frames own. Handlers already bound stay.
  void InitListView(TComponent* C);
  // Puts "复制单元格" and "复制记录" at the top of the list view's popup menu,
  // creating the menu when there is none. The items are owned by the list
  // view and leave the menu with it. False for a null list view or when a
  // menu or item cannot be created.
  bool HookListViewPopupMenu(TListView* L);
  // Click handlers of the two copy menu items (the item's tag holds its list
  // view): copy the cell under the last right-click, or the selected rows.
  void OnListViewCellCopy(TObject* Sender);
  void OnListViewSelectionCopy(TObject* Sender);
  // Binds FormMouseMove to the containers and edits `C` (and its frames) own.
  void CMMouseMove(TControl* C);
  // Makes Enter move the focus in `C` when it is a form; anything else is
  // left alone.
  void SetNextFocus(TControl* C);
  // Sets, clears or inverts every row's check mark of a list view that shows
  // check boxes.
  void SelectListViewRows(TListView* L, TSelectionAction Action);
  // Binds OnComboBoxDropDown to `C` when it is a combo box, else to the combo
  // boxes `C` and its frames own; drop-down handlers already bound stay.
  void InitTComboBox(TComponent* C);
  // Saving and printing `L`: actSaveAs, actPreview and actPrint run the GUI
  // common package's SaveListView, PreviewListView and PrintListView on it
  // with what `Describe` fills in at that moment (the caption, the list's
  // name, the query's conditions, the operator, the columns' kinds and the
  // audit's permission), and their OnUpdate enables them only while the list
  // has rows. Replaces what the three actions had; the window keeps nothing.
  void AttachListOutput(TListView* L, std::function<void(SListOutput&)> Describe);

 protected:
  // For derived windows: reads the base layout only. The derived constructor
  // reads its own layout with a table that starts from PublishHandlers, then
  // calls EndLayout.
  struct TDerivedConstruction {};
  TfrmMDIChild(TComponent* Owner, TDerivedConstruction);

  // Adds the handlers above, bound with this window, under their names.
  void PublishHandlers(THandlerTable& Handlers);

  void Loaded() override;
  void CreateParams(TCreateParams& Params) override;
};

// The shared base-window pointer. Nothing sets it; it stays null.
extern FORMS_API TfrmMDIChild* frmMDIChild;
