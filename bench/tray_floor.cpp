// The floor the client is measured against: a bare Qt Widgets program with a hidden window and a
// tray icon, nothing else. Once its event loop runs it says so on standard error and knocks once on
// the service's port, the moment that stands beside the client's first request.
// With --text-window it also shows a small window with a line of text, as the client's notice is:
// what the toolkit holds to show any text at all (its font engine and the fonts).
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  QWidget window;
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::blue);
  QSystemTrayIcon tray{QIcon(pixmap)};
  tray.show();
  std::unique_ptr<QLabel> text;  // made only when asked for: the bare floor holds no label
  if (argc > 1 && std::strcmp(argv[1], "--text-window") == 0) {
    text = std::make_unique<QLabel>("Our DDNS service will be \r\n15 days close");
    text->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    text->setFixedSize(255, 200);
    text->show();
  }
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
