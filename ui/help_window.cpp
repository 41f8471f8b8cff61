#include "ui/help_window.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/data_paths.h"

CHelpWindow::CHelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)), search_(new QLineEdit(this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Quillmore Help");
  resize(720, 560);
  search_->setPlaceholderText(tr("Search for help on..."));
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(tr("Find:"), this));
  bar->addWidget(search_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(browser_, 1);
  browser_->setSearchPaths({DataFile("help")});
  connect(search_, &QLineEdit::returnPressed, this, &CHelpWindow::Find);
}

void CHelpWindow::ShowTopic(const QString& topic) {
  const QString page = DataFile("help/" + topic);
  if (QFileInfo::exists(page))
    browser_->setSource(QUrl::fromLocalFile(page));
  else
    browser_->setPlainText(tr("The help page %1 is missing.").arg(page));
  show();
  raise();
  activateWindow();
}

void CHelpWindow::ShowSearch() {
  ShowTopic("index.html");
  search_->setFocus();
}

void CHelpWindow::Find() {
  // From the top of the page when the text is not found below the cursor.
  if (!browser_->find(search_->text())) {
    browser_->moveCursor(QTextCursor::Start);
    browser_->find(search_->text());
  }
}
