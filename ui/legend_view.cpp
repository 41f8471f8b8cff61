#include "ui/legend_view.h"

#include <QFileInfo>
#include <QUrl>

#include "services/app.h"
#include "ui/data_paths.h"
#include "ui/ui_texts.h"

CLegendView::CLegendView(QWidget* parent) : QTextBrowser(parent) {
  setObjectName("Legend");
  setOpenExternalLinks(false);
  Reload();
  RegisterView("Legend", this, 0, [this] { Reload(); });
}

void CLegendView::Reload() {
  // The language's name comes from the language file list, not from disk
  // bytes; a name with a path separator is not looked for.
  const QString language = QString::fromStdString(theApp().Languages.ActiveName());
  QString page = DataFile("media/legend.html");
  if (!language.isEmpty() && !language.contains('/')) {
    const QString own = DataFile("media/legend." + language + ".html");
    if (QFileInfo::exists(own)) page = own;
  }
  if (QFileInfo::exists(page))
    setSource(QUrl::fromLocalFile(page));
  else
    setPlainText(tr("The legend page %1 is missing.").arg(page));
}
