#pragma once
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <vector>

namespace hw {

// The window that confirms a successful registration. Its Close button starts the account's first
// update; the frame's close box only hides it.
class TForm4 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  // Empties the result and shows these lines.
  void ShowResult(const std::vector<std::string>& lines);
  // Close: the update cycle on, the first "check" for the new account, then the dialog and this
  // window close.
  void Button1Click();

  QFrame* Panel1;
  QPlainTextEdit* Memo1 = nullptr;  // made at the first result or show (its text loads the font engine)
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void EnsureMemo();

  bool placed_ = false;
};

extern TForm4* Form4;

}  // namespace hw
