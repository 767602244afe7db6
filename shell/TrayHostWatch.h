#pragma once
#include <QObject>
#include <QTimer>

class QDBusServiceWatcher;

namespace hw {

// The kinds of notification area a desktop offers.
enum class TrayHostKind {
  None,            // no tray at all (GNOME without an extension, a bare window manager, sway alone)
  XEmbed,          // the classic X11 tray: an icon window embedded in the host
  StatusNotifier,  // a StatusNotifierItem host on the session bus (KDE, Xfce, waybar, Cinnamon, ...)
};

const char* TrayHostName(TrayHostKind kind);

// Which kind the desktop offers now, and when that changes. A tray host that goes away counts as
// gone only when none is back after kGraceMs: a panel restarting, or one still starting at login,
// does not throw the program out of the tray. Nothing here polls: the session bus says when a
// watcher comes or goes, the X server when a tray takes or drops its selection.
class TrayHostWatch : public QObject {
  Q_OBJECT

 public:
  static constexpr int kGraceMs = 4000;

  explicit TrayHostWatch(QObject* parent = nullptr);

  TrayHostKind Kind() const { return kind_; }
  // True while a missing tray may still come (at start, or after a host went away).
  bool Settling() const;

  // What the desktop offers at this moment, without waiting.
  static TrayHostKind Detect();

 public slots:
  // Looks again at once (what the change reports do).
  void Recheck();

 signals:
  void kindChanged(hw::TrayHostKind kind);

 private:
  void Settle(TrayHostKind seen);
  void WatchX11Tray();

  TrayHostKind kind_ = TrayHostKind::None;
  QTimer graceTimer_;
  QDBusServiceWatcher* busWatch_ = nullptr;
};

}  // namespace hw
