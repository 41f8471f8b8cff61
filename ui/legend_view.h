// The legend: a page explaining the icons and colours of the views, loaded
// from the data folder's "media/legend.html", or from the active language's
// own page beside it ("media/legend.Deutsch.html") when there is one; it
// follows a language switch.
#pragma once

#include <QTextBrowser>

class CLegendView : public QTextBrowser {
  Q_OBJECT
public:
  explicit CLegendView(QWidget* parent = nullptr);
  void Reload();
};
