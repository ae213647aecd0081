#pragma once

#include <QDialog>
#include <string>

#include "records/msysmgntdef.h"

class QLabel;
class QLineEdit;

// What the sign-in dialog comes up with.
struct CSignInDefaults {
  std::string strLogin;     // UTF-8
  std::string strPassword;  // filled in only for the demo's operator
  bool bDemo = false;       // say that these are the demo database's operator
  std::string strNote;      // UTF-8: why the dialog comes up (a session that ended)
};

// The host's sign-in dialog: login name, password, and the broker the host
// signs in at (with the URL it resolves to). Signing in happens while the
// dialog is open; a refusal shows the back office's text in the dialog and
// leaves it open. Accepted once the operator is signed in.
class CSignInDialog : public QDialog {
 public:
  CSignInDialog(QWidget* parent, const CSignInDefaults& defaults);
  // The signed-in operator, after exec() returned Accepted.
  const MSysmgntDef::SOperator& Operator() const { return sOperator; }

 private:
  void TrySignIn();

  QLineEdit* pLogin;
  QLineEdit* pPassword;
  QLabel* pMessage;
  MSysmgntDef::SOperator sOperator;
};
