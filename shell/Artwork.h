#pragma once
#include <QImage>
#include <QPixmap>

namespace hw {

// A window's picture from the resources, decoded for the label that shows it alone. QPixmap's own
// file loading also keeps a copy in the pixmap cache, whose flush timer then wakes the program
// that waits in the tray half a minute later.
inline QPixmap LoadArtwork(const char* resource) { return QPixmap::fromImage(QImage(resource)); }

}  // namespace hw
