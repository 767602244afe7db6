// The floor the client is measured against: a bare Qt Widgets program with a hidden window and a
// tray icon, nothing else. Once its event loop runs it says so on standard error and knocks once on
// the service's port, the moment that stands beside the client's first request.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  QWidget window;
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::blue);
  QSystemTrayIcon tray{QIcon(pixmap)};
  tray.show();
  QTimer::singleShot(0, [] {
    std::fprintf(stderr, "event loop\n");
    if (const char* port = std::getenv("FLOOR_KNOCK_PORT")) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
      ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      ::close(fd);
    }
  });
  return app.exec();
}
