#include "sign_in_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "host_session.h"
#include "sign_in.h"
#include "toolkit/qtext.h"

CSignInDialog::CSignInDialog(QWidget* parent, const CSignInDefaults& defaults) : QDialog(parent) {
  setWindowTitle(QStringLiteral("登录"));
  pLogin = new QLineEdit(QString::fromStdString(defaults.strLogin));
  pLogin->setObjectName(QStringLiteral("edtLogin"));
  pPassword = new QLineEdit(QString::fromStdString(defaults.strPassword));
  pPassword->setObjectName(QStringLiteral("edtPassword"));
  pPassword->setEchoMode(QLineEdit::Password);
  const std::string url = ModuleBrokerUrl();
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("登录名："), pLogin);
  form->addRow(QStringLiteral("密码："), pPassword);
  form->addRow(QStringLiteral("服务："),
               new QLabel(QString::fromStdString(std::string(kModuleBroker) + "  " + url)));
  pMessage = new QLabel;
  pMessage->setObjectName(QStringLiteral("lblMessage"));
  pMessage->setWordWrap(true);
  if (!defaults.strNote.empty()) pMessage->setText(QString::fromStdString(defaults.strNote));
  if (defaults.bDemo) {
    pMessage->setText(QStringLiteral("已填入演示数据库的演示操作员（登录名 %1），仅供演示使用。")
                          .arg(QString::fromStdString(defaults.strLogin)));
  }
  auto* buttons = new QDialogButtonBox;
  QPushButton* ok = buttons->addButton(QStringLiteral("登录"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("btnSignIn"));
  ok->setDefault(true);
  buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { TrySignIn(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(pMessage);
  layout->addWidget(buttons);
  (defaults.strLogin.empty() ? pLogin : pPassword)->setFocus();
}

void CSignInDialog::TrySignIn() {
  std::string text;
  setEnabled(false);
  // Texts on the wire are GBK.
  const int result = SignInOperator(QStringToGbk(pLogin->text()), QStringToGbk(pPassword->text()),
                                    sOperator, text);
  setEnabled(true);
  pPassword->clear();
  if (result == 0) {
    accept();
    return;
  }
  pMessage->setText(QString::fromStdString(text));
  pPassword->setFocus();
}
