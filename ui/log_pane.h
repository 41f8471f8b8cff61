// The log pane in the status bar: a drop-down list of the log's lines (the
// newest shown) and the "..." button that shows the log file.
#pragma once

#include <QWidget>

class QComboBox;
class QToolButton;

class CLogPane : public QWidget {
  Q_OBJECT
public:
  explicit CLogPane(QWidget* parent = nullptr);
  void AddLine(const QString& line);
  // Many lines at once: only the newest that the list keeps are added.
  void AddLines(const QStringList& lines);
  QComboBox* Lines() const { return lines_; }

signals:
  // The "..." button (command 134).
  void ShowLogFileRequested();

private:
  QComboBox* lines_;
  QToolButton* more_;
};
