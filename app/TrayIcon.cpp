#include "app/TrayIcon.h"

#include <QMenu>

#include "shell/Artwork.h"
#include "shell/HandlerWiring.h"

namespace hw {

TrayIcon::TrayIcon(QMenu* menu, QObject* parent) : QObject(parent), blinkTimer_(this) {
  images_[0] = QIcon(LoadArtwork(":/logo16.png"));
  images_[1] = QIcon(LoadArtwork(":/blank16.png"));
  icon_.setIcon(images_[kLogoImage]);
  icon_.setContextMenu(menu);
  blinkTimer_.setInterval(kBlinkIntervalMs);
  WireHandler(&blinkTimer_, &QTimer::timeout, this, &TrayIcon::AdvanceBlink);
  WireHandler(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) emit doubleClicked();
  });
}

void TrayIcon::SetVisible(bool visible) {
  visible_ = visible;
  icon_.setVisible(visible);
}

void TrayIcon::StartBlinking() {
  SetImageIndex(kLogoImage);
  blinkTimer_.start();
}

void TrayIcon::StopBlinking() {
  blinkTimer_.stop();
  SetImageIndex(kLogoImage);
}

void TrayIcon::SetImageIndex(int index) {
  imageIndex_ = index;
  icon_.setIcon(images_[index]);
}

void TrayIcon::AdvanceBlink() { SetImageIndex((imageIndex_ + 1) % 2); }

}  // namespace hw
