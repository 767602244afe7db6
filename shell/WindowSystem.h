#pragma once

class QWidget;

namespace hw {

// On a Wayland session that offers XWayland, the client runs as an X11 program unless the user
// chose a platform (QT_QPA_PLATFORM): Wayland lets no program place its own windows nor keep one
// above the others, and the notice must slide in at the bottom right and stay on top. GNOME, KDE
// and the wlroots compositors (sway) all offer XWayland. Call before the application is made.
void PreferXWayland();

// The program talks to an X server that a Wayland compositor runs (XWayland).
bool OnXWayland();

// Keeps the window off the taskbar and the pager (on X11; elsewhere a tool window already is).
// Call while the window is not mapped, for example from its showEvent: the state is read again
// by the toolkit when it maps the window.
void KeepOffTaskbar(QWidget& window);

}  // namespace hw
