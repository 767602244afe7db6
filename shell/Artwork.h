#pragma once
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace hw {

// A window's picture from the resources, decoded for the label that shows it alone. QPixmap's own
// file loading also keeps a copy in the pixmap cache, whose flush timer then wakes the program
// that waits in the tray half a minute later. The format is named by the file's suffix: guessing it
// from the content would load every image plugin of the toolkit (and their libraries) to ask.
inline QPixmap LoadArtwork(const char* resource) {
  const QString name(resource);
  QImageReader reader(name, name.section('.', -1).toLatin1());
  reader.setAutoDetectImageFormat(false);
  return QPixmap::fromImage(reader.read());
}

}  // namespace hw
