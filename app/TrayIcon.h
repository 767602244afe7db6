#pragma once
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class QMenu;

namespace hw {

// The notification-area icon: hidden until the start-up shows it, then steady (the logo) or blinking
// (logo and a transparent image alternating every 400 ms) until the user opens the main window.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLogoImage = 0;
  static constexpr int kBlinkIntervalMs = 400;

  TrayIcon(QMenu* menu, QObject* parent = nullptr);

  void SetVisible(bool visible);
  bool IsVisible() const { return visible_; }

  // Starts at the logo; starting again while blinking restarts from the logo.
  void StartBlinking();
  // Stops the alternation, then shows the logo.
  void StopBlinking();
  bool IsBlinking() const { return blinkTimer_.isActive(); }

  int ImageIndex() const { return imageIndex_; }
  // The icon as the notification area shows it (tests look at its pixels and send it clicks).
  QSystemTrayIcon& Icon() { return icon_; }
  void SetImageIndex(int index);
  // One blink step: the next image, wrapping to the logo after the last.
  void AdvanceBlink();

 signals:
  void doubleClicked();

 private:
  QSystemTrayIcon icon_;
  QTimer blinkTimer_;
  QIcon images_[2];
  int imageIndex_ = kLogoImage;
  bool visible_ = false;
};

}  // namespace hw
