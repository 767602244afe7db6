#pragma once
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <string>

#include "core/Registration.h"
#include "ddns/HttpClient.h"
#include "shell/PlainLabel.h"

class QKeyEvent;

namespace hw {

// The registration dialog: the user claims an account name for this machine. It checks the name
// and the password, sends one registration, and on success stores the account and opens the
// success window. Shown without being modal; closing it only hides it.
class TForm2 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxNameLength = static_cast<int>(hw::kMaxNameLength);
  static constexpr int kMaxPasswordBytes = static_cast<int>(hw::kMaxPasswordBytes);

  explicit TForm2(QWidget* parent = nullptr);

  // Captions in the user's language; runs once when the window is created.
  void FormCreate();
  // Every time the dialog is shown: the fields and the status line are emptied.
  void FormShow();
  void Edit1Enter();
  void Edit2Enter();
  void Edit3Enter();
  // The name field's filter: true when the key was handled here (entered in lower case, or refused
  // with a beep), false when the field may handle it (editing and moving keys).
  bool Edit1KeyPress(QKeyEvent* event);
  // Send: the local checks, then the registration exchange.
  void Button1Click();
  // Close.
  void Button2Click();

  PlainLabel* Label1;
  PlainLabel* Label2;
  QLineEdit* Edit1 = nullptr;
  PlainLabel* Label3;
  QLineEdit* Edit2 = nullptr;
  PlainLabel* Label4;
  QLineEdit* Edit3 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  PlainLabel* Label5;
  QPushButton* Button1;
  QPushButton* Button2;
  std::unique_ptr<HttpClient> http;

 protected:
  // FormClose: the main window and the update cycle are given back, however the dialog closes.
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildFields();
  void BuildButtons();
  // The three fields and the hint area are made when the dialog is first shown (or sent): each lays
  // its text out when it is made, which loads the font engine, some megabytes that a client waiting
  // in the tray does without. Until then they are null.
  void EnsureFields();
  void ShowStatus(const std::string& text);
  // The local checks in their order; the text of the first that fails, or nothing.
  std::string FailedCheck(const std::string& name, const std::string& password) const;
  void Register(const std::string& name, const std::string& password);
  void RegistrationSucceeded(const std::string& name, const std::string& password, const std::string& message);

  bool placed_ = false;
};

extern TForm2* Form2;

}  // namespace hw
