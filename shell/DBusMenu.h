#pragma once
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class QMenu;
class QAction;

namespace hw {

// One menu entry as the menu protocol lays it out: its number, its properties and its children
// (each child travels in a variant, as the protocol's recursive type asks).
struct DBusMenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<DBusMenuLayout> children;
};

struct DBusMenuItemProperties {
  int id = 0;
  QVariantMap properties;
};

struct DBusMenuItemKeys {
  int id = 0;
  QStringList keys;
};

struct DBusMenuEvent {
  int id = 0;
  QString eventId;
  QDBusVariant data;
  uint timestamp = 0;
};

// A tray menu (a QMenu of plain actions, one level) exported on the session bus by the menu
// protocol that StatusNotifierItem hosts read (com.canonical.dbusmenu). The root is number 0, the
// actions are numbered 1, 2, ... in their order. A host's "clicked" event triggers the action.
class DBusMenu : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ Version)
  Q_PROPERTY(QString TextDirection READ TextDirection)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

 public:
  explicit DBusMenu(QMenu* menu, QObject* parent = nullptr);

  // The D-Bus types this interface uses; once per process, before the first export.
  static void RegisterTypes();

  uint Version() const { return 3; }
  QString TextDirection() const { return QStringLiteral("ltr"); }
  QString Status() const { return QStringLiteral("normal"); }
  QStringList IconThemePath() const { return {}; }

 public slots:
  Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, hw::DBusMenuLayout& layout);
  Q_SCRIPTABLE QList<hw::DBusMenuItemProperties> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
  Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
  Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
  Q_SCRIPTABLE QList<int> EventGroup(const QList<hw::DBusMenuEvent>& events);
  Q_SCRIPTABLE bool AboutToShow(int id);
  Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

 signals:
  Q_SCRIPTABLE void ItemsPropertiesUpdated(const QList<hw::DBusMenuItemProperties>& updated,
                              const QList<hw::DBusMenuItemKeys>& removed);
  Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
  Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

 private:
  QList<QAction*> Actions() const;
  QVariantMap PropertiesOf(int id) const;
  // Triggers the action numbered `id`; false when there is none.
  bool Trigger(int id);

  QMenu* menu_;
  uint revision_ = 1;
};

}  // namespace hw

Q_DECLARE_METATYPE(hw::DBusMenuLayout)
Q_DECLARE_METATYPE(hw::DBusMenuItemProperties)
Q_DECLARE_METATYPE(hw::DBusMenuItemKeys)
Q_DECLARE_METATYPE(hw::DBusMenuEvent)
