#include "ui/legend_view.h"

#include <QFileInfo>
#include <QUrl>

#include "ui/data_paths.h"

CLegendView::CLegendView(QWidget* parent) : QTextBrowser(parent) {
  setObjectName("Legend");
  setOpenExternalLinks(false);
  Reload();
}

void CLegendView::Reload() {
  const QString page = DataFile("media/legend.html");
  if (QFileInfo::exists(page))
    setSource(QUrl::fromLocalFile(page));
  else
    setPlainText(tr("The legend page %1 is missing.").arg(page));
}
