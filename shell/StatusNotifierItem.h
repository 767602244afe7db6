#pragma once
#include <QDBusObjectPath>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

class QMenu;

namespace hw {

class DBusMenu;

// One picture of an item's icon as the protocol carries it: width, height, ARGB32 pixels in
// network byte order.
struct SniPixmap {
  int width = 0;
  int height = 0;
  QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
  QString iconName;
  SniPixmaps iconPixmaps;
  QString title;
  QString text;
};

// The icon as a StatusNotifierItem on the session bus (org.kde.StatusNotifierItem), the tray of
// KDE Plasma, Xfce's panel, waybar, Cinnamon and GNOME's AppIndicator extension. Its menu goes out
// by the menu protocol (DBusMenu). Attention is the item's status: "NeedsAttention" with its
// attention picture, one signal when it changes, never a signal per blink.
class StatusNotifierItem : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ Category)
  Q_PROPERTY(QString Id READ Id)
  Q_PROPERTY(QString Title READ Title)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(int WindowId READ WindowId)
  Q_PROPERTY(QString IconThemePath READ IconThemePath)
  Q_PROPERTY(QString IconName READ IconName)
  Q_PROPERTY(hw::SniPixmaps IconPixmap READ IconPixmap)
  Q_PROPERTY(QString OverlayIconName READ OverlayIconName)
  Q_PROPERTY(hw::SniPixmaps OverlayIconPixmap READ OverlayIconPixmap)
  Q_PROPERTY(QString AttentionIconName READ AttentionIconName)
  Q_PROPERTY(hw::SniPixmaps AttentionIconPixmap READ AttentionIconPixmap)
  Q_PROPERTY(QString AttentionMovieName READ AttentionMovieName)
  Q_PROPERTY(hw::SniToolTip ToolTip READ ToolTip)
  Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
  Q_PROPERTY(QDBusObjectPath Menu READ Menu)

 public:
  static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
  static constexpr const char* kItemPath = "/StatusNotifierItem";
  static constexpr const char* kMenuPath = "/MenuBar";

  StatusNotifierItem(const QImage& icon, const QImage& attentionIcon, QMenu* menu, QObject* parent = nullptr);
  ~StatusNotifierItem() override;

  // Puts the item on the session bus and tells the watcher; true when the watcher took it.
  // Called again when a watcher (re)appears.
  bool Register();
  // Takes the item off the bus: hosts drop it when its name goes.
  void Unregister();
  bool IsRegistered() const { return registered_; }
  void SetNeedsAttention(bool needsAttention);

  QString Category() const { return QStringLiteral("ApplicationStatus"); }
  QString Id() const;
  QString Title() const;
  QString Status() const { return needsAttention_ ? QStringLiteral("NeedsAttention") : QStringLiteral("Active"); }
  int WindowId() const { return 0; }
  QString IconThemePath() const { return {}; }
  QString IconName() const { return {}; }
  SniPixmaps IconPixmap() const { return icon_; }
  QString OverlayIconName() const { return {}; }
  SniPixmaps OverlayIconPixmap() const { return {}; }
  QString AttentionIconName() const { return {}; }
  // Only while it is wanted: Xfce's panel shows an attention picture whenever there is one.
  SniPixmaps AttentionIconPixmap() const { return needsAttention_ ? attentionIcon_ : SniPixmaps(); }
  QString AttentionMovieName() const { return {}; }
  SniToolTip ToolTip() const { return {}; }  // the icon has no tooltip text
  bool ItemIsMenu() const { return false; }
  QDBusObjectPath Menu() const { return QDBusObjectPath(kMenuPath); }

 public slots:
  // The host's primary activation (a click).
  Q_SCRIPTABLE void Activate(int x, int y);
  Q_SCRIPTABLE void SecondaryActivate(int x, int y);
  // A host without the menu protocol asks for the menu at a point of the screen.
  Q_SCRIPTABLE void ContextMenu(int x, int y);
  Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

 signals:
  Q_SCRIPTABLE void NewTitle();
  Q_SCRIPTABLE void NewIcon();
  Q_SCRIPTABLE void NewAttentionIcon();
  Q_SCRIPTABLE void NewOverlayIcon();
  Q_SCRIPTABLE void NewToolTip();
  Q_SCRIPTABLE void NewStatus(const QString& status);
  // Not on the bus: the program's side of an activation.
  void activated();

 private:
  QString serviceName_;
  SniPixmaps icon_;
  SniPixmaps attentionIcon_;
  QMenu* menu_;
  DBusMenu* dbusMenu_;
  bool registered_ = false;
  bool needsAttention_ = false;
};

// The pictures of an icon in the protocol's form, at its own size and at twice it (hosts scale).
SniPixmaps ToSniPixmaps(const QImage& image);

}  // namespace hw

Q_DECLARE_METATYPE(hw::SniPixmap)
Q_DECLARE_METATYPE(hw::SniToolTip)
