#pragma once
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "shell/TrayHostWatch.h"

class QMenu;
class QSystemTrayIcon;

namespace hw {

class StatusNotifierItem;

// The notification-area icon: hidden until the start-up shows it, then steady (the logo) or in its
// attention state until the user opens the main window. It lives in whatever tray the desktop
// offers, and moves when that changes:
// - an XEmbed tray: the classic icon; attention blinks (logo and a transparent image alternating
//   every 400 ms); a double click shows the window, a single click does nothing;
// - a StatusNotifierItem host: the item on the session bus; attention is its "NeedsAttention"
//   status with the logo marked, one signal per change; the host's click shows the window;
// - no tray: nothing here to see. The main window stands in (Unreachable()), and attention raises
//   one desktop notification per change of state.
class TrayIcon : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLogoImage = 0;
  static constexpr int kBlinkIntervalMs = 400;

  // `title` heads the desktop notifications.
  TrayIcon(QMenu* menu, QString title, QObject* parent = nullptr);
  ~TrayIcon() override;

  void SetVisible(bool visible);
  bool IsVisible() const { return visible_; }

  // Enters the attention state; starting again while in it restarts the blink from the logo.
  // `reason` is the text of a desktop notification, when one is raised.
  void StartBlinking(const QString& reason = {});
  // Leaves the attention state: the alternation stops, then the logo shows.
  void StopBlinking();
  bool IsBlinking() const { return attention_; }

  int ImageIndex() const { return imageIndex_; }
  // The icon as an XEmbed tray shows it (tests look at its pixels and send it clicks); made at the
  // first use.
  QSystemTrayIcon& Icon();
  void SetImageIndex(int index);
  // One blink step: the next image, wrapping to the logo after the last.
  void AdvanceBlink();

  TrayHostKind Host() const { return host_; }
  // Takes the icon to a tray of that kind (what the watch reports; tests set it directly).
  void UseHost(TrayHostKind kind);
  // The start-up has shown the icon, and no tray is there to show it: the main window must be
  // reachable on its own.
  bool Unreachable() const;

 signals:
  // A double click on the XEmbed icon.
  void doubleClicked();
  // The primary activation of a StatusNotifierItem host (its click).
  void activated();
  // Unreachable() may have changed.
  void hostChanged();

 private:
  void Apply();
  void NotifyIfUnseen();
  StatusNotifierItem& Item();

  QMenu* menu_;
  QString title_;
  QTimer blinkTimer_;
  QIcon images_[2];
  QImage logo_;
  int imageIndex_ = kLogoImage;
  bool visible_ = false;
  bool attention_ = false;
  bool attentionNotified_ = false;
  QString notificationText_;
  TrayHostWatch watch_;
  TrayHostKind host_;
  std::unique_ptr<QSystemTrayIcon> xembed_;
  StatusNotifierItem* item_ = nullptr;  // a child, made at the first use
};

}  // namespace hw
