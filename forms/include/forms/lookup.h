#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "forms/lookup_text.h"
#include "toolkit/classes.h"
#include "toolkit/stdctrls.h"

// One item of a name/code list.
struct TCNameCodeInfo {
  char name[64] = {};  // NUL-terminated GBK text
  int code = 0;

  TCNameCodeInfo() = default;
  // Copies at most 63 bytes of `text`.
  TCNameCodeInfo(const char* text, int itemCode) : code(itemCode) {
    if (text) std::memcpy(name, text, strnlen(text, sizeof name - 1));
  }

  int GetCode() { return code; }
  // The name up to its NUL (or the whole field when it has none).
  std::string GetName() { return std::string(name, strnlen(name, sizeof name)); }
};

using TCNameCodeInfoList = std::vector<TCNameCodeInfo>;

// Turns a list of name/code items into the texts an operator sees ("[%d] %s":
// code, then name) and back. Owns a copy of the list, taken at construction.
//
// The texts that GetTextByCode and GetNameByCode return live in buffers that
// every lookup shares: they stay valid until the same operation runs again on
// any lookup object.
template <class List>
class CBasicLookup {
 public:
  explicit CBasicLookup(const List& list) : lstItems(list) {}
  CBasicLookup(const CBasicLookup&) = delete;
  CBasicLookup& operator=(const CBasicLookup&) = delete;

  // Appends the display text of every item, in list order, after the items
  // the combo box holds, then selects item 0 when there is one. Null: nothing.
  virtual void FillComboBox(TComboBox* combo) = 0;
  // Appends the display text of every item to a control's item strings;
  // selects nothing. Null: nothing.
  virtual void FillListItems(TStrings* items) = 0;
  // The code of the first item whose display text equals `text` (ASCII case
  // ignored); with no match, `text` read as a number (0 when it is none).
  virtual int GetCodeByText(const char* text) = 0;
  // As GetCodeByText, comparing the names.
  virtual int GetCodeByName(const char* name) = 0;
  // The display text of the first item with `code`; the code in decimal
  // when none has it.
  virtual const char* GetTextByCode(int code) = 0;
  // The name of the first item with `code`; "" when none has it.
  virtual const char* GetNameByCode(int code) = 0;
  virtual ~CBasicLookup() = default;

 protected:
  List lstItems;
};

// A lookup over any item type that offers a code accessor and a name
// accessor, given as pointers to member functions (for TCNameCodeInfo:
// &TCNameCodeInfo::GetCode and &TCNameCodeInfo::GetName).
template <class List, class CodeAccessor, class NameAccessor>
class CAutoLookup : public CBasicLookup<List> {
 public:
  // The list is the lookup's own copy and never changes, so the display
  // texts are formed once, here: a result list asks for one per row.
  CAutoLookup(const List& list, CodeAccessor getCode, NameAccessor getName)
      : CBasicLookup<List>(list), pGetCode(getCode), pGetName(getName) {
    lstDisplay.reserve(this->lstItems.size());
    for (auto& item : this->lstItems) {
      lstDisplay.emplace_back(lookup_text::FormatDisplay((item.*pGetCode)(), (item.*pGetName)()));
    }
  }

  void FillComboBox(TComboBox* combo) override {
    if (!combo) return;
    FillListItems(combo->Items());
    if (combo->Items()->Count() > 0) combo->SetItemIndex(0);
  }

  void FillListItems(TStrings* items) override {
    if (!items) return;
    for (const std::string& text : lstDisplay) items->Add(text);
  }

  int GetCodeByText(const char* text) override {
    auto display = lstDisplay.begin();
    for (auto& item : this->lstItems) {
      if (lookup_text::StrICmp((display++)->c_str(), text) == 0) return (item.*pGetCode)();
    }
    return lookup_text::Atol(text);
  }

  int GetCodeByName(const char* name) override {
    for (auto& item : this->lstItems)
      if (lookup_text::StrICmp(NameText(item), name) == 0) return (item.*pGetCode)();
    return lookup_text::Atol(name);
  }

  const char* GetTextByCode(int code) override {
    // The item's display text, else the code in decimal (found first, so
    // that the buffer is written once).
    char* buffer = lookup_text::CodeTextBuffer();
    auto display = lstDisplay.begin();
    for (auto& item : this->lstItems) {
      if ((item.*pGetCode)() == code) {
        lookup_text::CopyToBuffer(buffer, display->c_str());
        return buffer;
      }
      ++display;
    }
    lookup_text::FormatCode(buffer, code);
    return buffer;
  }

  const char* GetNameByCode(int code) override {
    char* buffer = lookup_text::NameResultBuffer();
    std::memset(buffer, 0, lookup_text::kBufferSize);
    for (auto& item : this->lstItems) {
      if ((item.*pGetCode)() == code) {
        lookup_text::CopyToBuffer(buffer, NameText(item));
        break;
      }
    }
    return buffer;
  }

 private:
  using Item = typename List::value_type;
  const char* NameText(Item& item) { return lookup_text::FormatName((item.*pGetName)()); }

  CodeAccessor pGetCode;
  NameAccessor pGetName;
  std::vector<std::string> lstDisplay;  // "[code] name" of each item, in list order
};
