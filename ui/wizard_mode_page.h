// One page of a wizard: its title (a numbered string), what it does when it
// is entered and left, and the tick of the wizard's timer while it shows.
#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;
class QVBoxLayout;

class CWizardMode_Page : public QWidget {
  Q_OBJECT
public:
  CWizardMode_Page(uint32_t titleString, const char* title, QWidget* parent = nullptr);

  QString Title() const;
  virtual void OnEnter() {}
  virtual void OnLeave() {}
  // Every tick of the wizard's timer while the page shows.
  virtual void OnTimer() {}
  // A log line that arrived while the page shows.
  virtual void OnLogLine(const QString&) {}
  // False while the page cannot be left (a phase of it runs) or has
  // nothing to go on with (no drive chosen).
  virtual bool MayMoveOn() const { return true; }

signals:
  // MayMoveOn may have changed.
  void StateChanged();

protected:
  // A wrapped paragraph added to the page.
  QLabel* AddText(const QString& text);
  QVBoxLayout* Layout() const { return layout_; }

private:
  uint32_t titleString_;
  const char* title_;
  QVBoxLayout* layout_;
};
