#include "engine/scanner/probable_size.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/volume/local_computer.h"
#include "engine/volume/volume.h"
#include "services/format.h"
#include "services/log.h"
#include "services/strings.h"

namespace {

const CFileType* TypeOf(const CFoundObject& object, const CFileSignatureDatabase& db) {
  const CFileType* type = object.FileType != 0 ? db.FindById(object.FileType) : nullptr;
  if (!type) type = db.FindTypeForObject(object);
  return type;
}

uint64_t DefaultBytes(const CFileType* type) {
  return static_cast<uint64_t>(type ? type->DefaultSize : UNKNOWN_TYPE_DEFAULT_KB) * 1024ull;
}

const CFoundObjectTree* CatalogOf(const CFoundObject& object, const CFoundObjectTree* catalog) {
  if (catalog) return catalog;
  return object.Volume ? &object.Volume->Catalog() : nullptr;
}

// "%s KBytes" with the number grouped by threes.
std::string KBytes(int64_t kb) { return GroupThousands(kb) + " " + GetString(175); }

int64_t DistanceKB(const CFoundObject& from, const CFoundObject* next) {
  if (!next || next->StartOffset < from.StartOffset) return 0;
  return static_cast<int64_t>((next->StartOffset - from.StartOffset) / 1024);
}

}  // namespace

uint64_t SizeUnitFactor(int unit) {
  switch (unit) {
    case SIZE_UNIT_KB: return 1024ull;
    case SIZE_UNIT_MB: return 1048576ull;
    case SIZE_UNIT_GB: return 1073741824ull;
    default: return 1;
  }
}

const char* SizeUnitLabel(int unit) {
  switch (unit) {
    case SIZE_UNIT_KB: return " KB";
    case SIZE_UNIT_MB: return " MB";
    case SIZE_UNIT_GB: return " GB";
    default: return "  B";
  }
}

std::string GroupThousands(int64_t value) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

bool ParseLostSizeOption(const std::string& text, ProbableSizeAnswer& answer) {
  answer = ProbableSizeAnswer{};
  answer.Button = SIZE_DLG_OK;
  answer.Scope = SIZE_SCOPE_THIS_FILE;
  if (text == "default") {
    answer.Option = SIZE_OPTION_DEFAULT;
  } else if (text == "next") {
    answer.Option = SIZE_OPTION_NEXT_ANY;
  } else if (text == "next-same") {
    answer.Option = SIZE_OPTION_NEXT_SAME;
  } else {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    long kb = std::strtol(text.c_str(), nullptr, 10);
    if (kb <= 0) return false;
    answer.Option = SIZE_OPTION_CUSTOM;
    answer.CustomValue = static_cast<int32_t>(kb);
    answer.CustomUnit = SIZE_UNIT_KB;
  }
  return true;
}

uint64_t SizeByRule(const CFoundObject& object, uint32_t rule, int64_t customKB,
                    const CFoundObjectTree* catalog, const CFileSignatureDatabase& db) {
  const CFileType* type = TypeOf(object, db);
  switch (rule) {
    case SIZE_RULE_DEFAULT:
      return DefaultBytes(type);
    case SIZE_RULE_NEXT_ANY:
    case SIZE_RULE_NEXT_SAME: {
      const CFoundObject* next = nullptr;
      if (catalog)
        next = rule == SIZE_RULE_NEXT_ANY ? catalog->FindNext(object.StartOffset) : catalog->FindNextSameType(&object);
      if (next && next->StartOffset > object.StartOffset) return next->StartOffset - object.StartOffset;
      return DefaultBytes(type);
    }
    case SIZE_RULE_CUSTOM:
      if (customKB < 0) return SIZE_UNKNOWN;
      return static_cast<uint64_t>(customKB) * 1024ull;
    default:
      return SIZE_UNKNOWN;
  }
}

CProbableFileSizeDlg::CProbableFileSizeDlg(CFoundObject* object, const CFoundObjectTree* catalog,
                                           const CFileSignatureDatabase* db)
    : object_(object), catalog_(catalog), db_(db ? db : &theComputer().Signatures()) {}

void CProbableFileSizeDlg::Prepare() {
  ProbableSizeDialogState& s = State;
  s = ProbableSizeDialogState{};
  s.Object = object_;
  s.TypeName = catalog_ ? catalog_->GetTypeName(object_) : std::string();
  s.Explanation = qm::Format(
      "The file of the '%s' type is found, but its attributes such as name, parent folder, size, security "
      "settings, etc. are lost. We tried to determine its size by its content, but did not succeed. We don't "
      "know the exact size of this particular file.",
      s.TypeName);
  s.OffsetText = qm::Format("%I64d", object_->StartOffset);
  s.ConditionText = (object_->Flags & FOF_DELETED) ? GetString(176) : GetString(177);

  // The custom field starts from the current size, compared as signed.
  int64_t z = static_cast<int64_t>(object_->Size);
  if (z <= 1024) {
    s.CustomValue = static_cast<int32_t>(z);
    s.CustomUnit = SIZE_UNIT_B;
  } else if (z <= 1048576) {
    s.CustomValue = static_cast<int32_t>(z / 1024);
    s.CustomUnit = SIZE_UNIT_KB;
  } else if (z <= 1073741824) {
    s.CustomValue = static_cast<int32_t>(z / 1048576);
    s.CustomUnit = SIZE_UNIT_MB;
  } else {
    s.CustomValue = static_cast<int32_t>(z / 1073741824);
    s.CustomUnit = SIZE_UNIT_GB;
  }

  const CFileType* type = TypeOf(*object_, *db_);
  s.DefaultSizeText = type ? KBytes(type->DefaultSize) : "0 " + GetString(175);
  if (catalog_) {
    s.NextAny = catalog_->FindNext(object_->StartOffset);
    s.NextSame = catalog_->FindNextSameType(object_);
  }
  s.NextAnyText = s.NextAny ? KBytes(DistanceKB(*object_, s.NextAny)) : "0 " + GetString(175);
  s.NextSameText = s.NextSame ? KBytes(DistanceKB(*object_, s.NextSame)) : "0 " + GetString(175);
}

int CProbableFileSizeDlg::DoModal(IProbableSizeDialog* dialog) {
  Prepare();
  NewSize = 0;
  if (!dialog) {
    Answer = ProbableSizeAnswer{};
    Answer.Button = SIZE_DLG_SKIP;
    return Answer.Button;
  }
  Answer = dialog->Ask(State);
  if (Answer.Button != SIZE_DLG_OK && Answer.Button != SIZE_DLG_CANCEL && Answer.Button != SIZE_DLG_SKIP)
    Answer.Button = SIZE_DLG_CANCEL;
  if (Answer.Option < SIZE_OPTION_DEFAULT || Answer.Option > SIZE_OPTION_CUSTOM) Answer.Option = SIZE_OPTION_NEXT_SAME;
  if (Answer.Scope < SIZE_SCOPE_THIS_FILE || Answer.Scope > SIZE_SCOPE_ANY_TYPE) Answer.Scope = SIZE_SCOPE_THIS_FILE;
  if (Answer.Button == SIZE_DLG_OK && Answer.Option == SIZE_OPTION_CUSTOM) {
    // A negative entry means no size; the 64-bit product never wraps.
    if (Answer.CustomValue < 0)
      NewSize = SIZE_UNKNOWN;
    else
      NewSize = static_cast<uint64_t>(Answer.CustomValue) * SizeUnitFactor(Answer.CustomUnit);
  }
  return Answer.Button;
}

ProbableSizeResult DecideProbableSize(CFoundObject& object, CRecoveryChoices& choices, IProbableSizeDialog* dialog,
                                      const CFoundObjectTree* catalog, CFileSignatureDatabase* db) {
  CFileSignatureDatabase& database = db ? *db : theComputer().Signatures();
  catalog = CatalogOf(object, catalog);
  const CFileType* found = TypeOf(object, database);
  CFileType* type = found ? database.FindById(found->Id) : nullptr;

  if (choices.SizeRule != SIZE_RULE_NONE) {
    object.Size = SizeByRule(object, choices.SizeRule, choices.CustomKB, catalog, database);
  } else if (type && type->SizeRule != SIZE_RULE_NONE) {
    // For the custom rule the type's DefaultSize holds the kilobytes entered.
    object.Size = SizeByRule(object, type->SizeRule, type->DefaultSize, catalog, database);
  } else {
    CProbableFileSizeDlg dlg(&object, catalog, &database);
    int button = dlg.DoModal(dialog);
    if (button == SIZE_DLG_SKIP) {
      theLog().Message(GetString(202), object.Name);
      return ProbableSizeResult::Skip;
    }
    if (button != SIZE_DLG_OK) {
      theLog().Message(GetString(203), object.Name);
      return ProbableSizeResult::Cancel;
    }
    uint32_t rule = static_cast<uint32_t>(dlg.Answer.Option) + 1;
    if (rule == SIZE_RULE_CUSTOM)
      object.Size = dlg.NewSize;
    else
      object.Size = SizeByRule(object, rule, -1, catalog, database);
    if (dlg.Answer.Scope == SIZE_SCOPE_THIS_TYPE && type) {
      type->SizeRule = rule;
      if (rule == SIZE_RULE_CUSTOM && dlg.NewSize != SIZE_UNKNOWN)
        type->DefaultSize = static_cast<uint32_t>(std::min<uint64_t>(dlg.NewSize / 1024, 0xFFFFFFFFull));
    } else if (dlg.Answer.Scope == SIZE_SCOPE_ANY_TYPE) {
      choices.SizeRule = rule;
      if (rule == SIZE_RULE_CUSTOM) choices.CustomKB = dlg.NewSize == SIZE_UNKNOWN ? -1 : static_cast<int64_t>(dlg.NewSize / 1024);
    }
  }
  if (object.Size == SIZE_UNKNOWN) {
    theLog().Message(GetString(202), object.Name);
    return ProbableSizeResult::Skip;
  }
  return ProbableSizeResult::SizeSet;
}

void ResetSize(const std::vector<CFoundObject*>& objects) {
  for (CFoundObject* o : objects)
    if (o) o->Size = SIZE_UNKNOWN;
}

int SetNewSize(const std::vector<CFoundObject*>& objects, IProbableSizeDialog* dialog,
               const CFoundObjectTree* catalog) {
  if (objects.empty() || !objects.front()) return SIZE_DLG_CANCEL;
  CFileSignatureDatabase& db = theComputer().Signatures();
  const CFoundObjectTree* first = CatalogOf(*objects.front(), catalog);
  CProbableFileSizeDlg dlg(objects.front(), first, &db);
  int button = dlg.DoModal(dialog);
  if (button != SIZE_DLG_OK) return button;
  uint32_t rule = static_cast<uint32_t>(dlg.Answer.Option) + 1;
  for (CFoundObject* o : objects) {
    if (!o) continue;
    if (rule == SIZE_RULE_CUSTOM)
      o->Size = dlg.NewSize;
    else
      o->Size = SizeByRule(*o, rule, -1, CatalogOf(*o, catalog), db);
  }
  return button;
}
