#pragma once
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "shell/ClickableLabel.h"

namespace hw {

// The notice window: a borderless picture that slides up at the bottom right of the screen to count
// down to the service's closing date or to say that the service has closed.
class TForm3 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSlideSteps = 301;
  static constexpr int kSlideStartBelow = 270;  // the first step stands this far below the resting place

  explicit TForm3(QWidget* parent = nullptr);

  // Captions in the user's language; runs once when the window is created.
  void FormCreate();
  // Shows the window and slides it up from below the bottom right corner of the primary screen's
  // available area, to rest with its bottom edge 30 pixels above that area's bottom.
  void SlideInNotice();
  // Where the window stands at a step of the slide within the area (step kSlideSteps - 1: at rest).
  static QPoint SlidePosition(const QRect& area, QSize window, int step);

  void Button1Click();
  void Label2Click();
  void Label3Click();
  void CheckBox1Click();

  // The web address the link opens.
  static QString SearchAddress();

  QLabel* JvImage1;
  PlainLabel* Label1;
  ClickableLabel* Label2;
  ClickableLabel* Label3;
  QPushButton* Button1;
  QCheckBox* CheckBox1;

 protected:
  // A close request from the window system hides the window, as its own button does: on Linux
  // desktops that request is how a user dismisses a popup (Alt+F4, a compositor's kill).
  void closeEvent(QCloseEvent* event) override;
  // The artwork is decoded at the first show: a client whose account needs no reminder never
  // holds it.
  void showEvent(QShowEvent* event) override;
};

extern TForm3* Form3;

}  // namespace hw
