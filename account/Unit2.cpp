#include "account/Unit2.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QRegularExpressionValidator>

#include "account/Unit4.h"
#include "app/Unit1.h"
#include "core/Registration.h"
#include "shell/Beep.h"
#include "shell/ByteLimitValidator.h"
#include "shell/HandlerWiring.h"
#include "shell/PaletteColor.h"
#include "shell/WindowFont.h"
#include "shell/WindowPlacement.h"

namespace hw {

TForm2* Form2 = nullptr;

namespace {

template <typename Widget>
Widget* Place(Widget* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

PlainLabel* FieldLabel(QWidget* parent, int top) {
  auto* label = Place(new PlainLabel(parent), 16, top, 116, 17);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

QLineEdit* PasswordField(QWidget* parent, int top) {
  auto* field = Place(new QLineEdit(parent), 136, top, 121, 21);
  field->setEchoMode(QLineEdit::Password);
  field->setValidator(new ByteLimitValidator(TForm2::kMaxPasswordBytes, field));
  return field;
}

// The hint area as the window was designed, until a field first gets the focus.
constexpr const char* kDesignedHint =
    "Domain name is \n3~16-character \nmaximum; username may not \nstart \nwith spaces or minus signs (-). \n"
    "Username will be your \nhostname.";

bool IsNameCharacter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
}

// Keys that edit or move within the field without typing a character.
bool IsEditingKey(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return true;
    default: return false;
  }
}

bool IsClipboardShortcut(const QKeyEvent& event) {
  return event.matches(QKeySequence::Paste) || event.matches(QKeySequence::Cut) || event.matches(QKeySequence::Copy) ||
         event.matches(QKeySequence::Undo) || event.matches(QKeySequence::Redo);
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(441, 213);
  setFont(WindowFont());
  setAutoFillBackground(true);
  SetPaletteColor(*this, QPalette::Window, Qt::white);
  BuildFields();
  BuildButtons();
  // The dialog talks to the service on a client of its own.
  http = std::make_unique<HttpClient>([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

void TForm2::BuildFields() {
  Label1 = Place(new PlainLabel(this), 8, 8, 425, 32);
  Label1->setAlignment(Qt::AlignCenter);
  QFont title("Verdana");
  title.setPixelSize(21);
  title.setBold(true);
  Label1->setFont(title);

  Label2 = FieldLabel(this, 56);
  Label3 = FieldLabel(this, 88);
  Label4 = FieldLabel(this, 120);
  Label5 = Place(new PlainLabel(this), 48, 144, 361, 25);
  Label5->setAlignment(Qt::AlignCenter);
  QFont status = WindowFont();
  status.setBold(true);
  Label5->setFont(status);
  SetPaletteColor(*Label5, QPalette::WindowText, Qt::red);
}

void TForm2::EnsureFields() {
  if (Edit1) return;
  Memo1 = Place(new QPlainTextEdit(kDesignedHint, this), 264, 48, 145, 89);
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Edit1 = Place(new QLineEdit(this), 136, 56, 121, 21);
  Edit1->setObjectName("Edit1");
  Edit1->setMaxLength(kMaxNameLength);
  // The name reaches the field only through the key filter: no menu, no paste by the mouse's
  // selection, no drop, no input method; the validator stops any route that is left.
  Edit1->setContextMenuPolicy(Qt::NoContextMenu);
  Edit1->setAcceptDrops(false);
  Edit1->setAttribute(Qt::WA_InputMethodEnabled, false);
  Edit1->setValidator(new QRegularExpressionValidator(QRegularExpression("[a-z0-9-]*"), Edit1));
  Edit1->installEventFilter(this);
  Edit2 = PasswordField(this, 88);
  Edit2->setObjectName("Edit2");
  Edit2->installEventFilter(this);
  Edit3 = PasswordField(this, 120);
  Edit3->setObjectName("Edit3");
  Edit3->installEventFilter(this);
  // Children made for a window that may already show are shown explicitly.
  for (QWidget* field : std::initializer_list<QWidget*>{Edit1, Edit2, Edit3, Memo1}) field->show();
  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Edit3);
  setTabOrder(Edit3, Button1);
  setTabOrder(Button1, Memo1);
  setTabOrder(Memo1, Button2);
}

void TForm2::BuildButtons() {
  Button1 = Place(new QPushButton("Send", this), 136, 176, 75, 25);
  Button1->setObjectName("Form2Send");
  Button2 = Place(new QPushButton("Close", this), 224, 176, 75, 25);
  Button2->setObjectName("Form2Close");
  WireHandler(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  WireHandler(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::FormCreate() {
  Button1->setText(QString::fromStdString(Form1->GetLangStr("8")));
  Button2->setText(QString::fromStdString(Form1->GetLangStr("9")));
  setWindowTitle(QString::fromStdString(" " + Form1->GetLangStr("1")));
  Label1->setText(QString::fromStdString(Form1->GetLangStr("1")));
  Label2->setText(QString::fromStdString(Form1->GetLangStr("5")));
  Label3->setText(QString::fromStdString(Form1->GetLangStr("6")));
  Label4->setText(QString::fromStdString(Form1->GetLangStr("7")));
}

void TForm2::FormShow() {
  Edit1->clear();
  Edit2->clear();
  Edit3->clear();
  Label5->clear();
}

void TForm2::Edit1Enter() {
  Memo1->setPlainText(QString::fromStdString(Form1->GetLangStr("10")));
  Label5->clear();
}

void TForm2::Edit2Enter() {
  Memo1->setPlainText(QString::fromStdString(Form1->GetLangStr("11")));
  Label5->clear();
}

void TForm2::Edit3Enter() { Edit2Enter(); }

bool TForm2::Edit1KeyPress(QKeyEvent* event) {
  if (IsClipboardShortcut(*event)) {
    Beep();
    return true;
  }
  const bool withControl = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  if (IsEditingKey(*event) && !withControl) return false;
  if (event->text().isEmpty()) return false;  // Shift, arrows up and down and the like type nothing
  if (event->text().size() == 1 && !withControl && IsNameCharacter(event->text().front())) {
    Edit1->insert(event->text().toLower());  // refused by the field past its 16 characters
    return true;
  }
  Beep();  // anything else, Enter and control characters included
  return true;
}

std::string TForm2::FailedCheck(const std::string& name, const std::string& password) const {
  const std::string failed = FailedRegistrationCheck(name, password, Edit3->text().toStdString());
  return failed.empty() ? failed : Form1->GetLangStr(failed);
}

void TForm2::Button1Click() {
  EnsureFields();
  const std::string name = Edit1->text().toStdString();
  const std::string password = Edit2->text().toStdString();
  if (const std::string failed = FailedCheck(name, password); !failed.empty()) return ShowStatus(failed);

  // Enabled again however the exchange and its handling end, an error included.
  Button1->setEnabled(false);
  struct EnableAgain {
    QPushButton* button;
    ~EnableAgain() { button->setEnabled(true); }
  } enableAgain{Button1};
  Register(name, password);
}

void TForm2::Register(const std::string& name, const std::string& password) {
  const RegistrationReply reply = SendRegistration(*http, name, password, Form1->MachineId);
  switch (reply.kind) {
    case RegistrationReply::Kind::Registered: return RegistrationSucceeded(name, password, reply.text);
    case RegistrationReply::Kind::Taken: return ShowStatus(Form1->GetLangStr("27", name));
    case RegistrationReply::Kind::Failed: return ShowStatus("ERROR: " + reply.text);
    case RegistrationReply::Kind::Other: return;
  }
}

void TForm2::RegistrationSucceeded(const std::string& name, const std::string& password, const std::string& message) {
  if (StoreAccount(name, password)) {
    Form1->UserName = name;
    Form1->Password = password;
  }
  Form4->ShowResult({Form1->GetLangStr("21", name), Form1->GetLangStr("22", message), Form1->GetLangStr("23"),
                     Form1->GetLangStr("24")});
  Form1->Timer1->Enable();
  Form1->Button2->setText(QString::fromStdString(Form1->GetLangStr("2")));
  Form1->Button3->setEnabled(true);
  Form4->show();
}

void TForm2::ShowStatus(const std::string& text) { Label5->setText(QString::fromStdString(text)); }

void TForm2::Button2Click() { close(); }

void TForm2::closeEvent(QCloseEvent* event) {
  RunHandler([] {
    Form1->setEnabled(true);
    Form1->Timer1->Enable();
  });
  QWidget::closeEvent(event);
}

void TForm2::showEvent(QShowEvent* event) {
  EnsureFields();
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // brought back from the taskbar, not shown anew
  if (!placed_) CenterOnPrimaryScreen(*this);
  placed_ = true;
  RunHandler([this] { FormShow(); });
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  bool handled = false;
  RunHandler([&] {
    if (event->type() == QEvent::FocusIn) {
      if (watched == Edit1) Edit1Enter();
      if (watched == Edit2) Edit2Enter();
      if (watched == Edit3) Edit3Enter();
    } else if (watched == Edit1 && event->type() == QEvent::KeyPress) {
      handled = Edit1KeyPress(static_cast<QKeyEvent*>(event));
    } else if (watched == Edit1 && (event->type() == QEvent::MouseButtonRelease) &&
               static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton) {
      handled = true;  // the mouse's selection would be pasted
    }
  });
  return handled || QWidget::eventFilter(watched, event);
}

}  // namespace hw
