#pragma once

#include "toolkit/controls.h"
#include "toolkit/export.h"

class QFrame;
class QGroupBox;

// Container controls. They differ in look only; each is its own class so that
// the form services can tell them apart.

class TOOLKIT_API TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* owner);
  ~TGroupBox() override;
  TRect ClientRect() const override;
  // The Qt widget the group box is made of.
  QGroupBox* GroupBox() const;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;
};

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TOOLKIT_API TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);
  ~TPanel() override;
  TBevelCut BevelOuter() const { return iBevelOuter; }
  void SetBevelOuter(TBevelCut bevel);
  // The Qt widget the panel is made of.
  QFrame* Frame() const;
  bool SetProperty(const std::string& name, const std::string& value, TComponent* root) override;

 protected:
  std::string GetText() const override;
  void ApplyText(const std::string& text) override;

 private:
  TBevelCut iBevelOuter = bvRaised;
};

class TOOLKIT_API TScrollBox : public TWinControl {
 public:
  explicit TScrollBox(TComponent* owner);
  ~TScrollBox() override;

 protected:
  QWidget* ClientWidget() const override;

 private:
  QWidget* pInner;
};

class TOOLKIT_API TControlBar : public TWinControl {
 public:
  explicit TControlBar(TComponent* owner);
  ~TControlBar() override;
};

class TOOLKIT_API THeaderControl : public TWinControl {
 public:
  explicit THeaderControl(TComponent* owner);
  ~THeaderControl() override;
};

class TOOLKIT_API TToolBar : public TWinControl {
 public:
  explicit TToolBar(TComponent* owner);
  ~TToolBar() override;
};

class TOOLKIT_API TCoolBar : public TWinControl {
 public:
  explicit TCoolBar(TComponent* owner);
  ~TCoolBar() override;
};

class TOOLKIT_API TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* owner);
  ~TTabSheet() override;
};
