#include "ui/hex_editor_ctrl.h"

#include <QFontDatabase>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

#include "engine/catalog/found_object.h"
#include "ui/hex_line_format.h"

CHexEditorCtrl::CHexEditorCtrl(QWidget* parent) : QAbstractScrollArea(parent) {
  QFont font("Lucida Console");
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  setFont(font);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
}

CHexEditorCtrl::~CHexEditorCtrl() = default;

void CHexEditorCtrl::SetObject(const CFoundObject* object) {
  reader_.reset();
  runStarts_.clear();
  length_ = 0;
  cachedBlock_ = ~0ull;
  cachedBytes_ = 0;
  if (object) {
    reader_ = std::make_unique<CFoundObjectReader>(*object);
    uint64_t total = 0;
    for (const FoundObjectRun& run : reader_->Runs) {
      runStarts_.push_back(total);
      // Run lengths come from disk structures: the sum must not wrap.
      total = run.SectorCount > (~0ull - total) / 512 ? ~0ull : total + run.SectorCount * 512;
    }
    length_ = object->SizeKnown() ? std::min(object->Size, total) : total;
  }
  verticalScrollBar()->setValue(0);
  UpdateScrollBar();
  viewport()->update();
}

void CHexEditorCtrl::SetGroupBytes(int bytes) {
  group_ = bytes == 2 || bytes == 4 ? bytes : 1;
  viewport()->update();
}

int CHexEditorCtrl::LineHeight() const { return fontMetrics().lineSpacing(); }

int CHexEditorCtrl::VisibleLineCount() const {
  // One line is the header.
  return std::max(1, viewport()->height() / LineHeight() - 1);
}

int CHexEditorCtrl::FirstVisibleLine() const { return verticalScrollBar()->value(); }

void CHexEditorCtrl::UpdateScrollBar() {
  const uint64_t lines = (length_ + kHexBytesPerLine - 1) / kHexBytesPerLine;
  // The scroll bar counts in lines; beyond its range the last lines are
  // reached through ScrollToOffset.
  const int visible = VisibleLineCount();
  const uint64_t maximum = lines > static_cast<uint64_t>(visible) ? lines - visible : 0;
  verticalScrollBar()->setRange(0, static_cast<int>(std::min<uint64_t>(maximum, INT32_MAX)));
  verticalScrollBar()->setPageStep(visible);
  const int width = fontMetrics().horizontalAdvance(QString::fromStdString(HexLine(0, reinterpret_cast<const uint8_t*>("0123456789abcdef"), 16, 1)) + "  ");
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

void CHexEditorCtrl::ScrollToOffset(uint64_t offset) {
  verticalScrollBar()->setValue(static_cast<int>(std::min<uint64_t>(offset / kHexBytesPerLine, INT32_MAX)));
}

bool CHexEditorCtrl::LoadBlock(uint64_t block) {
  if (block == cachedBlock_) return true;
  cachedBlock_ = block;
  cachedBytes_ = 0;
  cache_.assign(kBlockBytes, 0);
  if (!reader_ || reader_->Runs.empty()) return false;
  const uint64_t start = block * kBlockBytes;
  const uint64_t end = std::min(start + kBlockBytes, length_);
  uint64_t at = start;
  // The run holding `at`, then reads that never cross a run.
  size_t run = static_cast<size_t>(std::upper_bound(runStarts_.begin(), runStarts_.end(), at) - runStarts_.begin());
  if (run == 0) return false;
  --run;
  while (at < end && run < reader_->Runs.size()) {
    const uint64_t intoRun = at - runStarts_[run];
    const uint64_t runBytes = reader_->Runs[run].SectorCount * 512;
    if (intoRun >= runBytes) {
      ++run;
      continue;
    }
    CFoundObjectReader piece(reader_->Object, {reader_->Runs[run]});
    piece.SectorsDone = intoRun / 512;
    const uint64_t skip = intoRun % 512;
    const uint64_t want = std::min<uint64_t>(end - at + skip, runBytes - piece.SectorsDone * 512);
    std::vector<uint8_t> buffer((want + 511) / 512 * 512);
    const uint32_t got = piece.ReadNext(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (got <= skip) break;
    const uint64_t n = std::min<uint64_t>(got - skip, end - at);
    std::memcpy(cache_.data() + (at - start), buffer.data() + skip, n);
    at += n;
    cachedBytes_ = static_cast<size_t>(at - start);
    if (n < want - skip) break;
  }
  return cachedBytes_ > 0;
}

size_t CHexEditorCtrl::ReadLine(uint64_t offset, uint8_t* out) {
  if (offset >= length_) return 0;
  const uint64_t block = offset / kBlockBytes;
  LoadBlock(block);
  const uint64_t into = offset - block * kBlockBytes;
  const uint64_t available = std::min<uint64_t>(length_ - offset, kHexBytesPerLine);
  // A failed read leaves zeros in the cache; the line still shows where the
  // data would be.
  std::memcpy(out, cache_.data() + into, static_cast<size_t>(available));
  return static_cast<size_t>(available);
}

QString CHexEditorCtrl::HeaderText() const { return QString::fromStdString(HexHeaderLine(group_)); }

QStringList CHexEditorCtrl::VisibleLines() {
  QStringList lines;
  const uint64_t first = static_cast<uint64_t>(FirstVisibleLine());
  for (int i = 0; i < VisibleLineCount(); ++i) {
    uint8_t bytes[kHexBytesPerLine] = {};
    const uint64_t offset = (first + static_cast<uint64_t>(i)) * kHexBytesPerLine;
    const size_t n = ReadLine(offset, bytes);
    lines << QString::fromStdString(HexLine(offset, bytes, n, group_));
  }
  return lines;
}

void CHexEditorCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int h = LineHeight();
  const int x = 4 - horizontalScrollBar()->value();
  const int ascent = fontMetrics().ascent();
  painter.fillRect(QRect(0, 0, viewport()->width(), h), palette().color(QPalette::AlternateBase));
  painter.setPen(palette().color(QPalette::Text));
  painter.drawText(x, ascent, HeaderText());
  const QStringList lines = VisibleLines();
  for (int i = 0; i < lines.size(); ++i) painter.drawText(x, h * (i + 1) + ascent, lines[i]);
}

void CHexEditorCtrl::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBar();
}
