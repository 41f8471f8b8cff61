// The data viewer's control: an object's data as hexadecimal lines. It reads
// only the lines on screen (through the catalog's reader, by run), so an
// object of gigabytes costs no more than one of a few bytes.
#pragma once

#include <QAbstractScrollArea>

#include <cstdint>
#include <memory>
#include <vector>

struct CFoundObject;
class CFoundObjectReader;

class CHexEditorCtrl : public QAbstractScrollArea {
  Q_OBJECT
public:
  explicit CHexEditorCtrl(QWidget* parent = nullptr);
  ~CHexEditorCtrl() override;

  // Shows the data of `object` (null: nothing). The object's record is
  // copied; the control keeps no pointer into the catalog.
  void SetObject(const CFoundObject* object);
  void Clear() { SetObject(nullptr); }
  // 1, 2 or 4 bytes a group.
  void SetGroupBytes(int bytes);
  int GroupBytes() const { return group_; }
  uint64_t DataLength() const { return length_; }

  // The header and the text of the visible lines, top to bottom, as they
  // are painted (lines past the end of the data are empty).
  QString HeaderText() const;
  QStringList VisibleLines();
  int FirstVisibleLine() const;
  void ScrollToOffset(uint64_t offset);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  int LineHeight() const;
  int VisibleLineCount() const;
  void UpdateScrollBar();
  // Up to 16 bytes at `offset`; the count read.
  size_t ReadLine(uint64_t offset, uint8_t* out);
  bool LoadBlock(uint64_t block);

  std::unique_ptr<CFoundObjectReader> reader_;
  std::vector<uint64_t> runStarts_;  // byte offset of each run in the data
  uint64_t length_ = 0;
  int group_ = 1;
  // One block of data kept around the visible lines.
  static constexpr uint64_t kBlockBytes = 32 * 1024;
  uint64_t cachedBlock_ = ~0ull;
  std::vector<uint8_t> cache_;
  size_t cachedBytes_ = 0;
};
