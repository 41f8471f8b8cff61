// The legend: a page explaining the icons and colours of the views, loaded
// from the data folder's "media/legend.html".
#pragma once

#include <QTextBrowser>

class CLegendView : public QTextBrowser {
  Q_OBJECT
public:
  explicit CLegendView(QWidget* parent = nullptr);
  void Reload();
};
