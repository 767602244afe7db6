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

xcb_connection_t* X11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

// Asks the window manager to add the states to a mapped window (the protocol's client message).
void AddStatesOfMappedWindow(xcb_connection_t* connection, xcb_window_t id, xcb_atom_t state, xcb_atom_t first,
                             xcb_atom_t second) {
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (!screen) return;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = id;
  message.type = state;
  message.data.data32[0] = 1;  // add
  message.data.data32[1] = first;
  message.data.data32[2] = second;
  message.data.data32[3] = 1;  // from an application
  xcb_send_event(connection, 0, screen->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
}

void KeepOffTaskbar(QWidget& window) {
  xcb_connection_t* connection = X11Connection();
  if (!connection) return;
  const auto id = xcb_window_t(window.winId());
  const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
  const xcb_atom_t skipTaskbar = Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
  const xcb_atom_t skipPager = Atom(connection, "_NET_WM_STATE_SKIP_PAGER");
  std::vector<xcb_atom_t> atoms = AtomsOf(connection, id, state);
  for (const xcb_atom_t atom : {skipTaskbar, skipPager}) {
    if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
  }
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                      atoms.data());
  xcb_flush(connection);
  // A window manager that has not yet seen an earlier hide of this window removes the state when it
  // does (a withdrawn window keeps none): once the window is mapped, it is asked again.
  QMetaObject::invokeMethod(
      &window,
      [&window, connection, id, state, skipTaskbar, skipPager] {
        if (window.isVisible() && window.winId() == id)
          AddStatesOfMappedWindow(connection, id, state, skipTaskbar, skipPager);
      },
      Qt::QueuedConnection);
}

}  // namespace hw
