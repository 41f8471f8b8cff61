#include <QTest>

#include <cstdint>
#include <string>

#include "tests/ui/ui_test_registry.h"
#include "ui/hex_line_format.h"

class TestHexLines : public QObject {
  Q_OBJECT
private slots:
  void lineAtSixteenHasEightDigitsTwoBlanksThenBytes() {
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(0x41 + i);
    const std::string line = HexLine(16, bytes, 16, 1);
    QCOMPARE(QString::fromStdString(line),
             QString("00000010   41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50  ABCDEFGHIJKLMNOP"));
  }

  void headerDigitsStandOverTheLastDigitOfTheirByte() {
    uint8_t bytes[16] = {};
    for (int group : {1, 2, 4}) {
      const std::string header = HexHeaderLine(group);
      const std::string line = HexLine(0, bytes, 16, group);
      QVERIFY(header.rfind("Offset ", 0) == 0);
      // Every position digit sits above the last digit of its group's value.
      for (size_t i = 10; i < header.size(); ++i) {
        if (header[i] == ' ') continue;
        QVERIFY2(i < line.size() && line[i] == '0', qPrintable(QString("group %1 column %2").arg(group).arg(i)));
        QVERIFY(i + 1 >= line.size() || line[i + 1] == ' ');
      }
    }
    QCOMPARE(QString::fromStdString(HexHeaderLine(1)).mid(10),
             QString("  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F"));
  }

  void groupsReadLittleEndianValues() {
    const uint8_t bytes[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                               0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    QCOMPARE(QString::fromStdString(HexLine(0x20, bytes, 16, 2)).left(51),
             QString("00000020   0201 0403 0605 0807  0A09 0C0B 0E0D 100F"));
    QCOMPARE(QString::fromStdString(HexLine(0x20, bytes, 16, 4)).left(47),
             QString("00000020   04030201 08070605  0C0B0A09 100F0E0D"));
    // Anything but 2 and 4 is single bytes.
    QCOMPARE(HexLine(0, bytes, 16, 3), HexLine(0, bytes, 16, 1));
  }

  void shortLastLineKeepsTheCharacterColumn() {
    const uint8_t bytes[5] = {'h', 'e', 'l', 'l', 0};
    for (int group : {1, 2, 4}) {
      const std::string full = HexLine(0, reinterpret_cast<const uint8_t*>("0123456789abcdef"), 16, group);
      const std::string line = HexLine(0x30, bytes, 5, group);
      QCOMPARE(line.size(), full.size() - 11);
      QVERIFY(line.substr(line.size() - 7) == "  hell.");
    }
    // The cut group shows the byte it has.
    QVERIFY(HexLine(0x30, bytes, 5, 4).find(" 6C6C6568       00") != std::string::npos);
    QVERIFY(HexLine(0, bytes, 0, 1).empty());
  }

  void offsetsBeyondFourGigabytesAreNotCut() {
    const uint8_t byte = 0xFF;
    QVERIFY(HexLine(0x123456780ull, &byte, 1, 1).rfind("123456780  ", 0) == 0);
  }
};

QM_REGISTER_UI_TEST(TestHexLines, "HexLines");

#include "hex_line_format_test.moc"
