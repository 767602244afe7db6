#include "app/ActivityLog.h"

namespace hw {

ActivityLog::ActivityLog(QWidget& window, const QRect& geometry) : window_(window), geometry_(geometry) {}

void ActivityLog::Add(const QString& line) {
  const int row = lines_.rowCount();
  lines_.insertRows(row, 1);
  lines_.setData(lines_.index(row), line);
}

QString ActivityLog::Line(int row) const { return lines_.index(row).data().toString(); }

void ActivityLog::clear() {
  lines_.setStringList({});
  pendingTopRow_ = -1;
}

void ActivityLog::RemoveOldest() { lines_.removeRows(0, 1); }

void ActivityLog::ScrollToNewest(int linesInView) {
  const int top = count() - linesInView;
  if (top < 0) return;
  if (view_ && view_->isVisible()) {
    ScrollTopTo(top);
  } else {
    // A list scrolled where no one sees it would lay out and measure its lines for nothing.
    pendingTopRow_ = top;
  }
}

QListView* ActivityLog::View() {
  if (view_) return view_;
  view_ = new QListView(&window_);
  view_->setGeometry(geometry_);
  view_->setUniformItemSizes(true);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);  // a log line is never changed
  view_->setModel(&lines_);
  view_->show();  // shown with the window (made while the window is already being shown)
  return view_;
}

void ActivityLog::WindowShown() {
  View();
  if (pendingTopRow_ < 0) return;
  ScrollTopTo(pendingTopRow_);
  pendingTopRow_ = -1;
}

void ActivityLog::ScrollTopTo(int row) {
  view_->scrollTo(lines_.index(row), QAbstractItemView::PositionAtTop);
}

}  // namespace hw
