// The help: the HTML pages of the data folder's "help" folder in a text
// browser window, with a search over their text.
#pragma once

#include <QWidget>

class QLineEdit;
class QTextBrowser;

class CHelpWindow : public QWidget {
  Q_OBJECT
public:
  explicit CHelpWindow(QWidget* parent = nullptr);
  // A topic path below the help folder ("files/basics.quickstart.html").
  void ShowTopic(const QString& topic);
  // The index page with the search field focused.
  void ShowSearch();

private:
  void Find();
  QTextBrowser* browser_;
  QLineEdit* search_;
};
