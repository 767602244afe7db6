#include "shell/DBusMenu.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QMenu>

namespace hw {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& item) {
  argument.beginStructure();
  argument << item.id << item.properties;
  argument.beginArray(qMetaTypeId<QDBusVariant>());
  for (const DBusMenuLayout& child : item.children) argument << QDBusVariant(QVariant::fromValue(child));
  argument.endArray();
  argument.endStructure();
  return argument;
}

// Hosts never send a layout; reading one is here because the type system asks for both ways.
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& item) {
  argument.beginStructure();
  argument >> item.id >> item.properties;
  argument.beginArray();
  item.children.clear();
  while (!argument.atEnd()) {
    QDBusVariant child;
    argument >> child;
    item.children.push_back(qdbus_cast<DBusMenuLayout>(child.variant()));
  }
  argument.endArray();
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item) {
  argument.beginStructure();
  argument << item.id << item.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item) {
  argument.beginStructure();
  argument >> item.id >> item.properties;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item) {
  argument.beginStructure();
  argument << item.id << item.keys;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item) {
  argument.beginStructure();
  argument >> item.id >> item.keys;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
  argument.beginStructure();
  argument << event.id << event.eventId << event.data << event.timestamp;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
  argument.beginStructure();
  argument >> event.id >> event.eventId >> event.data >> event.timestamp;
  argument.endStructure();
  return argument;
}

namespace {

// The protocol marks a mnemonic with "_" (and a literal "_" as "__"); the toolkit with "&".
QString ProtocolLabel(const QString& text) {
  QString label;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == '_') {
      label += "__";
    } else if (c == '&' && i + 1 < text.size()) {
      label += text[++i] == '&' ? QChar('&') : QChar('_');
      if (text[i] != '&') label += text[i];
    } else {
      label += c;
    }
  }
  return label;
}

// Only the asked-for properties, when the host names any.
QVariantMap Filtered(const QVariantMap& properties, const QStringList& names) {
  if (names.isEmpty()) return properties;
  QVariantMap kept;
  for (const QString& name : names)
    if (properties.contains(name)) kept.insert(name, properties.value(name));
  return kept;
}

}  // namespace

DBusMenu::DBusMenu(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {}

void DBusMenu::RegisterTypes() {
  qDBusRegisterMetaType<DBusMenuLayout>();
  qDBusRegisterMetaType<DBusMenuItemProperties>();
  qDBusRegisterMetaType<QList<DBusMenuItemProperties>>();
  qDBusRegisterMetaType<DBusMenuItemKeys>();
  qDBusRegisterMetaType<QList<DBusMenuItemKeys>>();
  qDBusRegisterMetaType<DBusMenuEvent>();
  qDBusRegisterMetaType<QList<DBusMenuEvent>>();
}

QList<QAction*> DBusMenu::Actions() const { return menu_->actions(); }

QVariantMap DBusMenu::PropertiesOf(int id) const {
  if (id == 0) return {{"children-display", QStringLiteral("submenu")}};
  const QList<QAction*> actions = Actions();
  if (id < 1 || id > actions.size()) return {};
  const QAction* action = actions[id - 1];
  if (action->isSeparator()) return {{"type", QStringLiteral("separator")}, {"visible", action->isVisible()}};
  return {{"label", ProtocolLabel(action->text())},
          {"enabled", action->isEnabled()},
          {"visible", action->isVisible()}};
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayout& layout) {
  layout = {parentId, Filtered(PropertiesOf(parentId), propertyNames), {}};
  if (parentId == 0 && recursionDepth != 0) {
    for (int id = 1; id <= Actions().size(); ++id)
      layout.children.push_back({id, Filtered(PropertiesOf(id), propertyNames), {}});
  }
  return revision_;
}

QList<DBusMenuItemProperties> DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
  QList<DBusMenuItemProperties> found;
  for (int id : ids) found.push_back({id, Filtered(PropertiesOf(id), propertyNames)});
  return found;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) { return QDBusVariant(PropertiesOf(id).value(name)); }

bool DBusMenu::Trigger(int id) {
  const QList<QAction*> actions = Actions();
  if (id < 1 || id > actions.size()) return false;
  // After the host's call has been answered: the action may open a window or end the program.
  QMetaObject::invokeMethod(actions[id - 1], &QAction::trigger, Qt::QueuedConnection);
  return true;
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
  if (eventId == QLatin1String("clicked")) Trigger(id);
}

QList<int> DBusMenu::EventGroup(const QList<DBusMenuEvent>& events) {
  QList<int> unknown;
  for (const DBusMenuEvent& event : events) {
    if (event.eventId != QLatin1String("clicked")) continue;
    if (!Trigger(event.id)) unknown.push_back(event.id);
  }
  return unknown;
}

bool DBusMenu::AboutToShow(int) { return false; }

QList<int> DBusMenu::AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
  idErrors.clear();
  return {};
}

}  // namespace hw
