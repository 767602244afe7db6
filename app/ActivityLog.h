#pragma once
#include <QListView>
#include <QRect>
#include <QString>
#include <QStringListModel>
#include <QWidget>

namespace hw {

// The main window's activity log: its lines, oldest first, and the list that shows them. The list is
// made when the window is first shown, and the log is scrolled only where it can be seen: a client
// that only waits in the tray holds its lines and no list view (about a megabyte of toolkit code),
// and never measures their text (which loads the font engine, some megabytes more).
class ActivityLog {
 public:
  // The list will stand at `geometry` on `window`.
  ActivityLog(QWidget& window, const QRect& geometry);
  // The list goes first: it shows the lines, which go with the log.
  ~ActivityLog() { delete view_; }
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  void Add(const QString& line);
  int count() const { return lines_.rowCount(); }
  QString Line(int row) const;
  void clear();
  void RemoveOldest();
  // Brings the `linesInView`-th line from the end to the top of the list; nothing when the log holds
  // fewer lines. While the list is not on screen it is done when the list next is, as it would have
  // stood: the row that was to be on top, whatever came or went since.
  void ScrollToNewest(int linesInView);

  // The list on the window, made at the first call.
  QListView* View();
  // The window is being shown: the list is made, and the scrolling that waited is done.
  void WindowShown();

 private:
  void ScrollTopTo(int row);

  QWidget& window_;
  const QRect geometry_;
  QStringListModel lines_;
  QListView* view_ = nullptr;  // a child of the window
  int pendingTopRow_ = -1;     // the row to bring to the top when the list is next on screen
};

}  // namespace hw
