// Probable sizes of lost files: the four size rules, the choices remembered
// per type and per recovery run, and the logic of the "Enter probable file
// size" dialog. Front ends implement only IProbableSizeDialog (they show the
// values and return the user's answer); everything else lives here.
//
// How the recovery engine gets a lost file's size:
//
//   CRecoveryChoices choices;            // one per recovery run
//   ...
//   for each object o with FOF_SIGNATURE (a reader copy of a catalog object):
//     ProbableSizeResult r = DecideProbableSize(o, choices, dialog, catalog);
//     if (r != ProbableSizeResult::SizeSet) continue;   // already logged
//     // o.Size now holds the number of bytes to write.
//
// DecideProbableSize logs the "skipped" / "cancelled" lines itself, so the
// caller only moves on to the next file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/catalog/found_object.h"

class CFoundObjectTree;
class CFileSignatureDatabase;
struct CFileType;

// Values of CFileType::SizeRule and CRecoveryChoices::SizeRule.
enum SizeRuleValue : uint32_t {
  SIZE_RULE_NONE = 0,       // nothing chosen yet: ask
  SIZE_RULE_DEFAULT = 1,    // DefaultSize of the type x 1024
  SIZE_RULE_NEXT_ANY = 2,   // distance to the next object of any type
  SIZE_RULE_NEXT_SAME = 3,  // distance to the next object of the same type
  SIZE_RULE_CUSTOM = 4,     // a size the user entered
};

// The default size, in kilobytes, given to a lost file whose type is not in
// the signature database (there is no DefaultSize to take): the same value a
// type record gets when its key has no "DefaultSize".
constexpr uint32_t UNKNOWN_TYPE_DEFAULT_KB = 1024;

// The choice remembered for every type during one recovery run ("All files
// of any type").
struct CRecoveryChoices {
  uint32_t SizeRule = SIZE_RULE_NONE;
  int64_t CustomKB = -1;
};

// Dialog buttons.
constexpr int SIZE_DLG_OK = 1;
constexpr int SIZE_DLG_CANCEL = 2;
constexpr int SIZE_DLG_SKIP = 5;

// Size options (the radio group of the size frame) and scopes.
enum SizeOption : int {
  SIZE_OPTION_DEFAULT = 0,
  SIZE_OPTION_NEXT_ANY = 1,
  SIZE_OPTION_NEXT_SAME = 2,
  SIZE_OPTION_CUSTOM = 3,
};
enum SizeScope : int {
  SIZE_SCOPE_THIS_FILE = 0,
  SIZE_SCOPE_THIS_TYPE = 1,
  SIZE_SCOPE_ANY_TYPE = 2,
};
// Custom units: 0 "  B", 1 " KB", 2 " MB", 3 " GB".
enum SizeUnit : int { SIZE_UNIT_B = 0, SIZE_UNIT_KB = 1, SIZE_UNIT_MB = 2, SIZE_UNIT_GB = 3 };
uint64_t SizeUnitFactor(int unit);
const char* SizeUnitLabel(int unit);

// "1234567" -> "1 234 567" (negative numbers keep their sign).
std::string GroupThousands(int64_t value);

// Everything the dialog shows when it opens, and the controls' state.
struct ProbableSizeDialogState {
  const CFoundObject* Object = nullptr;
  std::string TypeName;
  std::string Explanation;    // the "The file of the '%s' type is found, ..." text
  std::string OffsetText;     // StartOffset in decimal
  std::string ConditionText;  // "Deleted" or "Live"
  std::string DefaultSizeText;  // "1 024 KBytes"; "0 KBytes" for a type not in the database
  std::string NextAnyText;      // distance to the next object in KB, "0 KBytes" when none
  std::string NextSameText;
  const CFoundObject* NextAny = nullptr;
  const CFoundObject* NextSame = nullptr;
  int Option = SIZE_OPTION_NEXT_SAME;
  int Scope = SIZE_SCOPE_THIS_TYPE;
  int32_t CustomValue = 0;
  int CustomUnit = SIZE_UNIT_B;
  // The custom value field and unit box are enabled only for the custom option.
  bool CustomEnabled() const { return Option == SIZE_OPTION_CUSTOM; }
};

// The user's answer.
struct ProbableSizeAnswer {
  int Button = SIZE_DLG_CANCEL;
  int Option = SIZE_OPTION_NEXT_SAME;
  int Scope = SIZE_SCOPE_THIS_TYPE;
  int32_t CustomValue = 0;
  int CustomUnit = SIZE_UNIT_B;
};

// Implemented by each front end: show the state modally and return the answer.
class IProbableSizeDialog {
public:
  virtual ~IProbableSizeDialog() = default;
  virtual ProbableSizeAnswer Ask(const ProbableSizeDialogState& state) = 0;
};

// A dialog that answers every question the same way without asking: the
// command line's --lost-size option. ParseLostSizeOption accepts "default",
// "next", "next-same" or a number of kilobytes; false on anything else.
class CFixedSizeAnswer : public IProbableSizeDialog {
public:
  explicit CFixedSizeAnswer(ProbableSizeAnswer answer) : answer_(answer) {}
  ProbableSizeAnswer Ask(const ProbableSizeDialogState&) override { return answer_; }

private:
  ProbableSizeAnswer answer_;
};
bool ParseLostSizeOption(const std::string& text, ProbableSizeAnswer& answer);

// The logic of the "Enter probable file size" dialog on one object.
class CProbableFileSizeDlg {
public:
  // `catalog` gives the next objects (null: none); `db` the type (null:
  // theComputer().Signatures()).
  CProbableFileSizeDlg(CFoundObject* object, const CFoundObjectTree* catalog,
                       const CFileSignatureDatabase* db = nullptr);
  // Fills State, asks, applies the answer's custom size; returns the button.
  int DoModal(IProbableSizeDialog* dialog);

  ProbableSizeDialogState State;
  ProbableSizeAnswer Answer;
  // With OK and the custom option: custom value x unit factor; 0 otherwise.
  uint64_t NewSize = 0;

private:
  void Prepare();
  CFoundObject* object_;
  const CFoundObjectTree* catalog_;
  const CFileSignatureDatabase* db_;
};

// The size a rule gives (bytes); customKB is used by SIZE_RULE_CUSTOM.
// Rules 2 and 3 fall back to the default size when there is no next object;
// a type not in the database has UNKNOWN_TYPE_DEFAULT_KB as its default.
uint64_t SizeByRule(const CFoundObject& object, uint32_t rule, int64_t customKB,
                    const CFoundObjectTree* catalog, const CFileSignatureDatabase& db);

enum class ProbableSizeResult { SizeSet, Skip, Cancel };

// Decides the size of one lost file (an object with FOF_SIGNATURE) before it
// is recovered: the run's remembered rule, else the type's remembered rule,
// else the dialog (null dialog: the file is skipped). Sets object.Size and
// remembers the choice as the answer's scope says. Skip and Cancel are logged
// ("FileRecovery: File '%s' recovery skipped" / "... cancelled").
// `catalog` null: the object's volume's catalog.
ProbableSizeResult DecideProbableSize(CFoundObject& object, CRecoveryChoices& choices,
                                      IProbableSizeDialog* dialog,
                                      const CFoundObjectTree* catalog = nullptr,
                                      CFileSignatureDatabase* db = nullptr);

// The file list's two size commands.
// "Reset Size": every object's size becomes unknown.
void ResetSize(const std::vector<CFoundObject*>& objects);
// "Set New Size...": the dialog on the first object; on OK every object gets
// the dialog's new size. With a non-custom option each object gets the size
// that option's rule gives for it (never a size of 0).
// Returns the button.
int SetNewSize(const std::vector<CFoundObject*>& objects, IProbableSizeDialog* dialog,
               const CFoundObjectTree* catalog = nullptr);
