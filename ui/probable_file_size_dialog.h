// "Enter probable file size": the face of the engine's probable-size logic
// (CProbableFileSizeDlg in the engine prepares the values and applies the
// answer). CProbableSizeQuestion answers the engine's question from any
// thread: from the recovery worker it shows the dialog on the interface
// thread without blocking its event loop, while the worker waits.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/scanner/probable_size.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

class CProbableFileSizeDialog : public QDialog {
  Q_OBJECT
public:
  static constexpr const char* kSection = "ProbableFileSize";
  enum ControlId : int {
    IDC_EXPLANATION = 1301,
    IDC_OFFSET_LABEL = 1302,
    IDC_TYPE_LABEL = 1303,
    IDC_CONDITION_LABEL = 1304,
    IDC_SIZE_FRAME = 1305,
    IDC_OPTION_DEFAULT = 1306,
    IDC_OPTION_NEXT_ANY = 1307,
    IDC_OPTION_NEXT_SAME = 1308,
    IDC_OPTION_CUSTOM = 1309,
    IDC_SCOPE_FRAME = 1310,
    IDC_SCOPE_THIS_FILE = 1311,
    IDC_SCOPE_THIS_TYPE = 1312,
    IDC_SCOPE_ANY_TYPE = 1313,
    IDC_SKIP_FILE = 1314,
  };

  CProbableFileSizeDialog(const ProbableSizeDialogState& state, QWidget* parent);

  // The controls' answer; the button is the one that closed the dialog
  // (1 OK, 2 Cancel, 5 "Skip File").
  ProbableSizeAnswer Answer() const;
  void SetOption(int option);
  void SetScope(int scope);
  void SetCustom(int32_t value, int unit);

  QLabel* Explanation() const { return explanation_; }
  QLabel* OffsetText() const { return offset_; }
  QLabel* TypeText() const { return type_; }
  QLabel* ConditionText() const { return condition_; }
  QLabel* DefaultSizeText() const { return defaultSize_; }
  QLabel* NextAnyText() const { return nextAny_; }
  QLabel* NextSameText() const { return nextSame_; }
  QSpinBox* CustomValue() const { return customValue_; }
  QComboBox* CustomUnit() const { return customUnit_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* SkipButton() const { return skip_; }
  QPushButton* CancelButton() const { return cancel_; }

private:
  void ShowExplanation();

  std::string typeName_;
  QLabel* explanation_;
  QLabel* offset_;
  QLabel* type_;
  QLabel* condition_;
  QLabel* defaultSize_;
  QLabel* nextAny_;
  QLabel* nextSame_;
  QButtonGroup* options_;
  QButtonGroup* scopes_;
  QSpinBox* customValue_;
  QComboBox* customUnit_;
  QPushButton* ok_;
  QPushButton* skip_;
  QPushButton* cancel_;
};

class CProbableSizeQuestion : public QObject, public IProbableSizeDialog {
  Q_OBJECT
public:
  CProbableSizeQuestion();
  ~CProbableSizeQuestion() override;

  // On the interface thread: the dialog, modally. On another thread: the
  // dialog is opened on the interface thread and the caller waits for the
  // answer; Cancel when the question is withdrawn.
  ProbableSizeAnswer Ask(const ProbableSizeDialogState& state) override;
  // Withdraws the open questions (they answer Cancel), for a recovery that
  // was aborted or a window that closes.
  void CancelOpen();
  // Withdraws them and answers every later question with Cancel at once.
  void Close();

private:
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<bool> answered{false};
    ProbableSizeAnswer answer;
  };
  static void Answer(Pending& pending, const ProbableSizeAnswer& answer);
  void Open(const std::shared_ptr<Pending>& pending, const ProbableSizeDialogState& state);

  std::mutex mutex_;
  bool closing_ = false;
  std::vector<std::shared_ptr<Pending>> pending_;
  std::vector<QPointer<CProbableFileSizeDialog>> open_;
};
