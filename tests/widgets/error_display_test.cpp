// What the user sees when an error leaves a handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

#include "common/AppError.h"
#include "shell/ErrorDisplay.h"
#include "shell/HandlerWiring.h"
#include "shell/MessageBoxes.h"
#include "widgets/support/RecordingBoxes.h"

namespace {

TEST(ErrorDisplay, ErrorLeavingAnEventHandlerIsShownAndTheProgramRunsOn) {
  RecordingBoxes boxes;
  bool laterHandlerRan = false;
  QTimer::singleShot(0, [] { throw hw::ConvertError("'7 ' is not a valid integer value"); });
  QTimer::singleShot(0, [&] {
    laterHandlerRan = true;
    QCoreApplication::exit(0);
  });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(laterHandlerRan);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "'7 ' is not a valid integer value.");
  EXPECT_EQ(boxes.shown[0].icon, hw::BoxIcon::Error);
  EXPECT_EQ(boxes.shown[0].title, "error_display_test");  // the first letter stays as it is
}

// A handler wired to a real signal may fail as any other: the box shows its message, the toolkit's
// signal code is never unwound, and the next emission reaches the handler again.
TEST(ErrorDisplay, FailingHandlerWiredToASignalShowsTheBoxAndTheProgramRunsOn) {
  RecordingBoxes boxes;
  QTimer timer;
  timer.setInterval(0);
  int calls = 0;
  hw::WireHandler(&timer, &QTimer::timeout, &timer, [&] {
    if (++calls == 2) {
      timer.stop();
      QCoreApplication::exit(0);
    }
    throw hw::SettingsError("Failed to set data for 'Remind'");
  });
  timer.start();
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "Failed to set data for 'Remind'");
  EXPECT_EQ(boxes.shown[1].icon, hw::BoxIcon::Error);
}

// Messages quote the service (a status line is shown as received): the real box shows markup as
// the characters it is made of.
TEST(ErrorDisplay, RealBoxShowsTheMessageAsPlainText) {
  auto previous = hw::SetBoxes(hw::MakeDialogBoxes());
  Qt::TextFormat format = Qt::AutoText;
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    format = box->textFormat();
    shown = box->text();
    box->accept();
  });
  hw::ShowErrorBox("HTTP/1.1 500 <font color=red>Oops</font>");
  hw::SetBoxes(std::move(previous));
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(shown.toStdString(), "HTTP/1.1 500 <font color=red>Oops</font>.");
}

}  // namespace
