#include "shell/WindowSystem.h"

#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace hw {

namespace {

bool HasValue(const char* name) { return !qEnvironmentVariableIsEmpty(name); }

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  free(reply);
  return atom;
}

std::vector<xcb_atom_t> AtomsOf(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
  const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 64);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
  std::vector<xcb_atom_t> atoms;
  if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    atoms.assign(values, values + xcb_get_property_value_length(reply) / sizeof(xcb_atom_t));
  }
  free(reply);
  return atoms;
}

}  // namespace

void PreferXWayland() {
  if (HasValue("QT_QPA_PLATFORM")) return;
  const bool waylandSession = HasValue("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
  if (waylandSession && HasValue("DISPLAY")) qputenv("QT_QPA_PLATFORM", "xcb");
}

bool OnXWayland() {
  return QGuiApplication::platformName() == QLatin1String("xcb") && HasValue("WAYLAND_DISPLAY");
}

void KeepOffTaskbar(QWidget& window) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* connection = x11->connection();
  const auto id = xcb_window_t(window.winId());
  const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
  std::vector<xcb_atom_t> atoms = AtomsOf(connection, id, state);
  for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    const xcb_atom_t atom = Atom(connection, name);
    if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
  }
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                      atoms.data());
  xcb_flush(connection);
}

}  // namespace hw
