// Probable sizes of lost files: what the size dialog shows, what each answer
// does and what is remembered, the rules over a catalog, and the two size
// commands of the file list.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/catalog/found_object_tree.h"
#include "engine/scanner/file_signature_database.h"
#include "engine/scanner/probable_size.h"
#include "engine/volume/volume.h"
#include "services/log.h"

namespace {

// Records what it was shown and answers as told.
class ScriptedDialog : public IProbableSizeDialog {
public:
  explicit ScriptedDialog(ProbableSizeAnswer answer) : answer(answer) {}
  ProbableSizeAnswer Ask(const ProbableSizeDialogState& state) override {
    ++asked;
    shown = state;
    return answer;
  }
  ProbableSizeAnswer answer;
  ProbableSizeDialogState shown;
  int asked = 0;
};

ProbableSizeAnswer Ok(int option, int scope, int32_t value = 0, int unit = SIZE_UNIT_B) {
  ProbableSizeAnswer a;
  a.Button = SIZE_DLG_OK;
  a.Option = option;
  a.Scope = scope;
  a.CustomValue = value;
  a.CustomUnit = unit;
  return a;
}

// A catalog with lost files at known offsets (after ReIndex).
struct Fixture {
  CFileSignatureDatabase db;
  CVolume volume{VolumeImage};
  std::vector<CFoundObject*> lost;

  Fixture() {
    CFileType jpg;
    jpg.Id = 30;
    jpg.Title = "JPEG";
    jpg.FileExtensions = "jpg";
    jpg.Prefix = "Jpg";
    jpg.Group = "Images";
    jpg.DefaultSize = 1234567;
    db.AddTypeForTest(jpg);
    CFileType png;
    png.Id = 33;
    png.Title = "PNG";
    png.FileExtensions = "png";
    png.Prefix = "Png";
    png.Group = "Images";
    png.DefaultSize = 64;
    db.AddTypeForTest(png);
    volume.Size = 1 << 30;
    volume.Catalog().ReIndex();
    // jpg at 0, png at 100 KiB, jpg at 300 KiB (the last object).
    Add(30, 0);
    Add(33, 100 * 1024);
    Add(30, 300 * 1024);
  }
  void Add(int16_t type, uint64_t offset) {
    auto* o = new CFoundObject();
    o->FileType = type;
    o->StartOffset = offset;
    o->Flags = FOF_SIGNATURE | FOF_DELETED;
    o->Volume = &volume;
    o->Name = "f" + std::to_string(offset);
    volume.Catalog().Insert(o, true);
    lost.push_back(o);
  }
  // A reader copy, as the recovery engine passes it.
  CFoundObject Copy(size_t i) { return *lost[i]; }
};

}  // namespace

TEST(ProbableSizeDialog, ShowsTheObjectTheDistancesAndTheCustomSize) {
  Fixture f;
  CFoundObject o = f.Copy(0);
  o.Size = 1500000;
  CProbableFileSizeDlg dlg(&o, &f.volume.Catalog(), &f.db);
  ScriptedDialog d(Ok(SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_FILE, 3, SIZE_UNIT_GB));
  EXPECT_EQ(dlg.DoModal(&d), SIZE_DLG_OK);
  EXPECT_EQ(d.shown.CustomValue, 1);
  EXPECT_EQ(d.shown.CustomUnit, SIZE_UNIT_MB);
  EXPECT_EQ(d.shown.DefaultSizeText, "1 234 567 KBytes");
  EXPECT_EQ(d.shown.NextAnyText, "100 KBytes");
  EXPECT_EQ(d.shown.NextSameText, "300 KBytes");
  EXPECT_EQ(d.shown.ConditionText, "Deleted");
  EXPECT_EQ(d.shown.OffsetText, "0");
  EXPECT_EQ(d.shown.Option, SIZE_OPTION_NEXT_SAME);
  EXPECT_EQ(d.shown.Scope, SIZE_SCOPE_THIS_TYPE);
  EXPECT_FALSE(d.shown.CustomEnabled());
  EXPECT_NE(d.shown.Explanation.find("The file of the '"), std::string::npos);
  EXPECT_EQ(dlg.NewSize, 3221225472ull);  // 3 GB in 64 bits

  struct {
    uint64_t size;
    int32_t value;
    int unit;
  } cases[] = {{1024, 1024, SIZE_UNIT_B}, {1025, 1, SIZE_UNIT_KB}, {SIZE_UNKNOWN, -1, SIZE_UNIT_B},
               {1048577, 1, SIZE_UNIT_MB}, {5ull << 30, 5, SIZE_UNIT_GB}};
  for (const auto& c : cases) {
    o.Size = c.size;
    ScriptedDialog cancel(ProbableSizeAnswer{});
    CProbableFileSizeDlg again(&o, &f.volume.Catalog(), &f.db);
    EXPECT_EQ(again.DoModal(&cancel), SIZE_DLG_CANCEL);
    EXPECT_EQ(cancel.shown.CustomValue, c.value) << c.size;
    EXPECT_EQ(cancel.shown.CustomUnit, c.unit) << c.size;
    EXPECT_EQ(again.NewSize, 0u);
  }

  // The last object: no next object of either kind; a type not in the database.
  CFoundObject last = f.Copy(2);
  last.FileType = 999;
  last.Flags = FOF_SIGNATURE;
  ScriptedDialog shown(ProbableSizeAnswer{});
  CProbableFileSizeDlg(&last, &f.volume.Catalog(), &f.db).DoModal(&shown);
  EXPECT_EQ(shown.shown.NextAnyText, "0 KBytes");
  EXPECT_EQ(shown.shown.DefaultSizeText, "0 KBytes");
  EXPECT_EQ(shown.shown.ConditionText, "Live");
}

TEST(ProbableSizeDialog, GroupingByThrees) {
  EXPECT_EQ(GroupThousands(0), "0");
  EXPECT_EQ(GroupThousands(999), "999");
  EXPECT_EQ(GroupThousands(1000), "1 000");
  EXPECT_EQ(GroupThousands(1234567), "1 234 567");
  EXPECT_EQ(GroupThousands(-1234), "-1 234");
}

TEST(ProbableSize, RulesOverTheCatalog) {
  Fixture f;
  const CFoundObjectTree* c = &f.volume.Catalog();
  EXPECT_EQ(SizeByRule(*f.lost[0], SIZE_RULE_DEFAULT, -1, c, f.db), 1234567ull * 1024);
  EXPECT_EQ(SizeByRule(*f.lost[0], SIZE_RULE_NEXT_ANY, -1, c, f.db), 100u * 1024);
  EXPECT_EQ(SizeByRule(*f.lost[0], SIZE_RULE_NEXT_SAME, -1, c, f.db), 300u * 1024);
  // The last object falls back to its type's default size.
  EXPECT_EQ(SizeByRule(*f.lost[2], SIZE_RULE_NEXT_ANY, -1, c, f.db), 1234567ull * 1024);
  EXPECT_EQ(SizeByRule(*f.lost[0], SIZE_RULE_CUSTOM, 7, c, f.db), 7u * 1024);
  // A type the database does not know still gets a usable size, never 0.
  CFoundObject unknown = *f.lost[2];
  unknown.FileType = 999;
  unknown.Name.clear();
  EXPECT_EQ(SizeByRule(unknown, SIZE_RULE_DEFAULT, -1, c, f.db), uint64_t(UNKNOWN_TYPE_DEFAULT_KB) * 1024);
}

TEST(ProbableSize, ChoiceForAllTypesIsRememberedForTheRun) {
  Fixture f;
  CRecoveryChoices run;
  ScriptedDialog d(Ok(SIZE_OPTION_DEFAULT, SIZE_SCOPE_ANY_TYPE));
  CFoundObject a = f.Copy(0);
  EXPECT_EQ(DecideProbableSize(a, run, &d, &f.volume.Catalog(), &f.db), ProbableSizeResult::SizeSet);
  EXPECT_EQ(a.Size, 1234567ull * 1024);
  EXPECT_EQ(run.SizeRule, uint32_t(SIZE_RULE_DEFAULT));
  CFoundObject b = f.Copy(1);
  EXPECT_EQ(DecideProbableSize(b, run, &d, &f.volume.Catalog(), &f.db), ProbableSizeResult::SizeSet);
  EXPECT_EQ(b.Size, 64u * 1024);
  EXPECT_EQ(d.asked, 1);
}

TEST(ProbableSize, ChoiceForOneTypeAndCustomSizes) {
  Fixture f;
  CRecoveryChoices run;
  // Custom 2 MB for all files of this type: the type remembers 2048 KB.
  ScriptedDialog d(Ok(SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_TYPE, 2, SIZE_UNIT_MB));
  CFoundObject a = f.Copy(0);
  EXPECT_EQ(DecideProbableSize(a, run, &d, &f.volume.Catalog(), &f.db), ProbableSizeResult::SizeSet);
  EXPECT_EQ(a.Size, 2u << 20);
  EXPECT_EQ(f.db.FindById(30)->SizeRule, uint32_t(SIZE_RULE_CUSTOM));
  EXPECT_EQ(f.db.FindById(30)->DefaultSize, 2048u);
  EXPECT_EQ(run.SizeRule, uint32_t(SIZE_RULE_NONE));
  CFoundObject b = f.Copy(2);
  EXPECT_EQ(DecideProbableSize(b, run, &d, &f.volume.Catalog(), &f.db), ProbableSizeResult::SizeSet);
  EXPECT_EQ(b.Size, 2u << 20);
  EXPECT_EQ(d.asked, 1);
  // Another type still asks; "this file only" remembers nothing.
  ScriptedDialog once(Ok(SIZE_OPTION_NEXT_ANY, SIZE_SCOPE_THIS_FILE));
  CFoundObject png = f.Copy(1);
  EXPECT_EQ(DecideProbableSize(png, run, &once, &f.volume.Catalog(), &f.db), ProbableSizeResult::SizeSet);
  EXPECT_EQ(png.Size, 200u * 1024);
  EXPECT_EQ(f.db.FindById(33)->SizeRule, uint32_t(SIZE_RULE_NONE));
}

TEST(ProbableSize, SkipCancelAndNoDialog) {
  Fixture f;
  CRecoveryChoices run;
  ProbableSizeAnswer skip;
  skip.Button = SIZE_DLG_SKIP;
  ScriptedDialog s(skip);
  CFoundObject a = f.Copy(0);
  EXPECT_EQ(DecideProbableSize(a, run, &s, &f.volume.Catalog(), &f.db), ProbableSizeResult::Skip);
  ScriptedDialog c(ProbableSizeAnswer{});
  EXPECT_EQ(DecideProbableSize(a, run, &c, &f.volume.Catalog(), &f.db), ProbableSizeResult::Cancel);
  EXPECT_EQ(DecideProbableSize(a, run, nullptr, &f.volume.Catalog(), &f.db), ProbableSizeResult::Skip);
  bool skipped = false, cancelled = false;
  for (const auto& line : theLog().Lines()) {
    skipped |= line.find("FileRecovery: File 'f0' recovery skipped") != std::string::npos;
    cancelled |= line.find("FileRecovery: File 'f0' recovery cancelled") != std::string::npos;
  }
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(cancelled);
}

TEST(ProbableSize, LostSizeOptionOfTheCommandLine) {
  ProbableSizeAnswer a;
  EXPECT_TRUE(ParseLostSizeOption("next-same", a));
  EXPECT_EQ(a.Option, SIZE_OPTION_NEXT_SAME);
  EXPECT_TRUE(ParseLostSizeOption("default", a));
  EXPECT_EQ(a.Option, SIZE_OPTION_DEFAULT);
  EXPECT_TRUE(ParseLostSizeOption("512", a));
  EXPECT_EQ(a.Option, SIZE_OPTION_CUSTOM);
  EXPECT_EQ(a.CustomValue, 512);
  EXPECT_EQ(a.CustomUnit, SIZE_UNIT_KB);
  EXPECT_FALSE(ParseLostSizeOption("0", a));
  EXPECT_FALSE(ParseLostSizeOption("-5", a));
  EXPECT_FALSE(ParseLostSizeOption("12x", a));
  EXPECT_FALSE(ParseLostSizeOption("99999999999", a));
}

TEST(ProbableSize, SizeCommandsOfTheFileList) {
  Fixture f;
  std::vector<CFoundObject*> selected = {f.lost[0], f.lost[1]};
  f.lost[0]->Size = 5;
  f.lost[1]->Size = 6;
  ResetSize(selected);
  EXPECT_EQ(f.lost[0]->Size, SIZE_UNKNOWN);
  EXPECT_EQ(f.lost[1]->Size, SIZE_UNKNOWN);
  ScriptedDialog custom(Ok(SIZE_OPTION_CUSTOM, SIZE_SCOPE_THIS_FILE, 10, SIZE_UNIT_KB));
  EXPECT_EQ(SetNewSize(selected, &custom, &f.volume.Catalog()), SIZE_DLG_OK);
  EXPECT_EQ(f.lost[0]->Size, 10240u);
  EXPECT_EQ(f.lost[1]->Size, 10240u);
  // A distance option sizes each object by its own distance, never to 0.
  ScriptedDialog next(Ok(SIZE_OPTION_NEXT_ANY, SIZE_SCOPE_THIS_FILE));
  EXPECT_EQ(SetNewSize(selected, &next, &f.volume.Catalog()), SIZE_DLG_OK);
  EXPECT_EQ(f.lost[0]->Size, 100u * 1024);
  EXPECT_EQ(f.lost[1]->Size, 200u * 1024);
}
