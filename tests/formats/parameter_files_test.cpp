#include "formats/parameter_files.h"
#include "gfx/image.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quillora;

namespace {
TParamTable Defaults() {
  TParamTable t{};
  InitializeParameters(t);
  return t;
}
}  // namespace

TEST(ParameterFiles, SavedFileHasTheExactLayout) {
  const QByteArray text = FormatParameters(Defaults());
  ASSERT_TRUE(text.startsWith("\xEF\xBB\xBF# Quillora Parameters File\r\n# Format: [Effect_Category_Index]\r\n\r\n[Effect_0_0]\r\n"));
  const QList<QByteArray> lines = text.mid(3).split('\n');
  // 2403 lines, each ended by CRLF: the split leaves one empty piece after the last.
  EXPECT_EQ(lines.size(), 2404);
  EXPECT_TRUE(lines.last().isEmpty());
  for (qsizetype i = 0; i + 1 < lines.size(); ++i) ASSERT_TRUE(lines[i].endsWith('\r')) << i;
  EXPECT_TRUE(text.contains("[Effect_3_2]\r\nName1=min brush size\r\nName2=max brush size\r\n"
                            "Name3=iterations\r\nName4=quality\r\nName5=opacity\r\nValue1=10\r\n"
                            "Value2=70\r\nValue3=30\r\nValue4=30\r\nValue5=100\r\n\r\n"));
  EXPECT_TRUE(text.contains("[Effect_2_0]\r\nName1=level of details\r\nName2=lighten/darken\r\n"
                            "Name3=simplification\r\nName4=unused\r\n"));
  EXPECT_TRUE(text.endsWith("[Effect_9_19]\r\nName1=\r\nName2=\r\nName3=\r\nName4=\r\nName5=\r\n"
                            "Value1=0\r\nValue2=0\r\nValue3=0\r\nValue4=0\r\nValue5=0\r\n\r\n"));
}

TEST(ParameterFiles, RoundTripRestoresEveryEntry) {
  TParamTable changed = Defaults();
  ParamsFor(changed, 100).Value1 = 99;
  ParamsFor(changed, 403).Value5 = -7;
  ParamsFor(changed, 306).Name3 = QStringLiteral("ünused é");
  TParamTable loaded{};
  ParseParameters(FormatParameters(changed), loaded);
  for (int c = 0; c < 10; ++c)
    for (int i = 0; i < 20; ++i)
      for (int k = 1; k <= 5; ++k) {
        ASSERT_EQ(loaded[c][i].value(k), changed[c][i].value(k));
        ASSERT_EQ(loaded[c][i].name(k), changed[c][i].name(k));
      }
}

TEST(ParameterFiles, LooseReading) {
  const struct {
    const char* text;
    int id, key, expected;
  } cases[] = {
      // Only the named key of the named entry changes.
      {"[Effect_4_1]\nValue2=75\n", 401, 2, 75},
      {"[Effect_4_1]\nValue2=75\n", 401, 1, 52},
      {"[Effect_4_1]\nValue2=75\n", 100, 2, 50},
      // Blanks, comments, spaces around keys and values, LF or CRLF.
      {"  # note\r\n\r\n   [Effect_1_0]  \r\n  Value1 =  33  \r\n", 100, 1, 33},
      // Letters store 0; out-of-range numbers are kept as they are.
      {"[Effect_1_0]\nValue3=abc\n", 100, 3, 0},
      {"[Effect_1_0]\nValue3=250\n", 100, 3, 250},
      // Keys are case-sensitive.
      {"[Effect_1_0]\nvalue1=77\n", 100, 1, 20},
      // A section outside the table silences the keys until the next valid one.
      {"[Effect_12_0]\nValue1=5\n[Effect_1_0]\nValue2=6\n", 100, 1, 20},
      {"[Effect_12_0]\nValue1=5\n[Effect_1_0]\nValue2=6\n", 100, 2, 6},
      // Keys before any section, or a line with "=" first, are ignored.
      {"Value1=5\n[Effect_1_0]\n=9\nValue1\n", 100, 1, 20},
      // Malformed effect sections never send their keys to the previous block.
      {"[Effect_1_0]\n[Effect_x_1]\nValue1=8\n", 100, 1, 20},
      {"[Effect_1_0]\n[Other]\nValue1=8\n", 100, 1, 20},
  };
  for (const auto& c : cases) {
    TParamTable t = Defaults();
    ParseParameters(QByteArray(c.text), t);
    EXPECT_EQ(ParamsFor(t, c.id).value(c.key), c.expected) << c.text;
  }
}

TEST(ParameterFiles, FilesOnDisk) {
  QTemporaryDir dir;
  const QString path = dir.filePath("settings.qlp");
  TParamTable t = Defaults();
  EXPECT_FALSE(LoadParameters(path, t));  // a missing file changes nothing
  ParamsFor(t, 202).Value4 = 12;
  SaveParameters(path, t);
  TParamTable loaded = Defaults();
  ASSERT_TRUE(LoadParameters(path, loaded));
  EXPECT_EQ(ParamsFor(loaded, 202).Value4, 12);
  EXPECT_THROW(SaveParameters(dir.filePath("no/such/folder/x.qlp"), t), gfx::Error);
}
