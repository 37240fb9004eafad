#include "gfx/codec.h"
#include "test_util.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result {
  int exitCode = -1;
  QString out, err;
};

Result RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(QUILLORA_CLI), args);
  EXPECT_TRUE(p.waitForFinished(300000));
  Result r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The chunk types of a PNG file in order.
QStringList PngChunks(const QByteArray& png) {
  QStringList types;
  qsizetype pos = 8;
  while (pos + 8 <= png.size()) {
    const auto* b = reinterpret_cast<const uchar*>(png.constData() + pos);
    const quint32 len = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
    types << QString::fromLatin1(png.mid(pos + 4, 4));
    pos += 12 + qsizetype(len);
  }
  return types;
}

}  // namespace

TEST(Cli, ListsEveryEffectWithItsDefaults) {
  const Result r = RunCli({"list"});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 1);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("100  PencilSketch1")));
  EXPECT_TRUE(lines[0].contains(QStringLiteral("Pencil Sketch 1")));
  EXPECT_TRUE(lines[0].contains(
      QStringLiteral("edge threshold=20, edge darkness=50, brightness=65, contrast=5, "
                     "color intensity=80")));
}

TEST(Cli, RendersTheSampleReproduciblyAt300Dpi) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.png"), b = dir.filePath("b.png");
  Result r = RunCli({"render", "PencilSketch1", "--sample", "-o", a});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  r = RunCli({"render", "pencil sketch 1", "--sample", "-o", b});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  const QByteArray bytes = ReadAll(a);
  EXPECT_EQ(bytes, ReadAll(b));
  const gfx::Image image = gfx::DecodeImageData(bytes);
  EXPECT_EQ(image.width(), 960);
  EXPECT_EQ(image.height(), 1440);
  const QStringList chunks = PngChunks(bytes);
  ASSERT_GE(chunks.size(), 3);
  EXPECT_EQ(chunks[1], QStringLiteral("pHYs"));
  EXPECT_EQ(chunks.count(QStringLiteral("pHYs")), 1);
  // A drawing in colour: neither blank nor grey.
  int coloured = 0;
  for (int y = 0; y < image.height(); y += 7)
    for (int x = 0; x < image.width(); x += 7) {
      const uint32_t p = testutil::PixelAt(image, x, y);
      if (std::abs(int((p >> 16) & 0xFF) - int(p & 0xFF)) > 12) ++coloured;
    }
  EXPECT_GT(coloured, 1000);
}

TEST(Cli, FailuresExplainThemselvesAndLeaveNoFile) {
  QTemporaryDir dir;
  const QString out = dir.filePath("out.png");
  QFile garbage(dir.filePath("garbage.jpg"));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write("not a picture at all");
  garbage.close();

  const struct {
    QStringList args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"render", "NoSuchEffect", "--sample", "-o", out}, 1, "unknown effect"},
      {{"render", "100", dir.filePath("missing.png"), "-o", out}, 1, "cannot read"},
      {{"render", "100", garbage.fileName(), "-o", out}, 1, "cannot read"},
      {{"render", "100", "--sample", "-o", dir.filePath("out.gif")}, 1, "Invalid extension"},
      {{"render", "100", "--sample", "-o", dir.filePath("no/such/folder/out.png")}, 1, "no/such"},
      {{}, 2, "Usage"},
      {{"render", "100", "--sample"}, 2, "-o"},
      {{"render", "100", "--sample", "-o", out, "-p", "1,2,3,4,5,6"}, 2, "five"},
      {{"render", "100", "--sample", "-o", out, "-p", "20,abc"}, 2, "abc"},
      {{"render", "100", "--sample", "-o", out, "-p", "101"}, 2, "0 to 100"},
      {{"render", "100", "--sample", "input.png", "-o", out}, 2, "one input"},
      {{"frobnicate"}, 2, "unknown command"},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(c.args.join(' ')) << ": " << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << qPrintable(r.err);
    EXPECT_FALSE(QFile::exists(out)) << qPrintable(c.args.join(' '));
  }
}

TEST(Cli, AFailedRunLeavesAnExistingFileIntact) {
  QTemporaryDir dir;
  const QString out = dir.filePath("keep.png");
  QFile f(out);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("precious");
  f.close();
  const Result r = RunCli({"render", "100", dir.filePath("missing.png"), "-o", out});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadAll(out), QByteArray("precious"));
}

TEST(Cli, MissingParameterValuesTakeTheDefaults) {
  QTemporaryDir dir;
  const QString a = dir.filePath("a.png"), b = dir.filePath("b.png");
  ASSERT_EQ(RunCli({"render", "100", "--sample", "-o", a, "-p", ",,65"}).exitCode, 0);
  ASSERT_EQ(RunCli({"render", "100", "--sample", "-o", b, "-p", "20,50,65,5,80"}).exitCode, 0);
  EXPECT_EQ(ReadAll(a), ReadAll(b));
}

TEST(Cli, WritesEveryBuiltInPicture) {
  QTemporaryDir dir;
  const Result r = RunCli({"assets", dir.path()});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  const struct {
    const char* file;
    int width, height;
  } expected[] = {{"DefaultImage.png", 960, 1440},
                  {"PencilTexture.png", 512, 166},
                  {"Brushes.png", 2048, 1536},
                  {"DefaultBrushes.png", 2048, 1536},
                  {"WatercolorBrushes.png", 2048, 768},
                  {"PastelBrushes.png", 2048, 512},
                  {"TemplateMatchingBrushes.png", 1250, 2000},
                  {"PaintBrushSim.png", 80, 80},
                  {"PaintBrushSim2.png", 54, 56},
                  {"PaintBrushSim3.png", 38, 39},
                  {"VCLwatercolortexture.png", 1024, 768},
                  {"OldFilmTexture.png", 2904, 2064},
                  {"Frame.png", 2244, 2424},
                  {"FrameList/1.png", 2225, 2196},
                  {"FrameList/7.png", 2024, 2416},
                  {"TextureList/Canvas.png", 1024, 1024},
                  {"TextureList/fabric.png", 1024, 1024}};
  for (const auto& e : expected) {
    const gfx::Image image = gfx::DecodeImageFile(dir.filePath(e.file));
    EXPECT_EQ(image.width(), e.width) << e.file;
    EXPECT_EQ(image.height(), e.height) << e.file;
  }
  EXPECT_EQ(RunCli({"assets"}).exitCode, 2);
}

namespace {

void WritePng(const QString& path, const gfx::Image& image) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(gfx::EncodeImage(image, gfx::FileFormat::Png));
}

// A small photo and a texture of distinct greys, so the runs stay quick and do not
// depend on the built-in textures.
struct TextureFixture {
  QTemporaryDir dir;
  QString input = dir.filePath("input.png"), texture = dir.filePath("grain.png");
  TextureFixture() {
    std::vector<uint32_t> photo, grain;
    for (int i = 0; i < 48 * 32; ++i)
      photo.push_back(0xFF000000u | uint32_t((i % 48) * 5) << 16 | uint32_t((i / 48) * 7) << 8 |
                      0x60u);
    for (int i = 0; i < 8 * 8; ++i)
      grain.push_back(0xFF000000u | uint32_t((i * 37) % 256) * 0x010101u);
    WritePng(input, testutil::MakeImage(48, 32, photo));
    WritePng(texture, testutil::MakeImage(8, 8, grain));
  }
};

}  // namespace

TEST(Cli, TextureFinishesTheRenderedPicture) {
  TextureFixture fx;
  const QString plain = fx.dir.filePath("plain.png"), textured = fx.dir.filePath("textured.png");
  Result r = RunCli({"render", "100", fx.input, "-o", plain});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  r = RunCli({"render", "100", fx.input, "-o", textured, "--texture", fx.texture,
              "--texture-strength", "80", "--texture-scale", "1.5"});
  ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
  const gfx::Image a = gfx::DecodeImageFile(plain), b = gfx::DecodeImageFile(textured);
  EXPECT_EQ(b.width(), 48);
  EXPECT_EQ(b.height(), 32);
  EXPECT_GT(testutil::MaxChannelDifference(a, b), 20);
}

TEST(Cli, BadTextureOptionsAreRefused) {
  TextureFixture fx;
  const QString out = fx.dir.filePath("out.png");
  const QString garbage = fx.dir.filePath("garbage.png");
  {
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("no picture");
  }
  const QStringList render = {"render", "100", fx.input, "-o", out};
  const struct {
    QStringList extra;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"--texture", "NoSuchTexture"}, 1, "NoSuchTexture"},
      {{"--texture", garbage}, 1, "garbage.png"},
      {{"--texture", fx.texture, "--texture-scale", "0"}, 2, "greater than 0"},
      {{"--texture", fx.texture, "--texture-scale", "-1"}, 2, "greater than 0"},
      {{"--texture", fx.texture, "--texture-scale", "big"}, 2, "big"},
      {{"--texture", fx.texture, "--texture-strength", "101"}, 2, "0 to 100"},
      {{"--texture-strength", "20"}, 2, "need --texture"},
      {{"--texture"}, 2, "--texture needs"},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(render + c.extra);
    EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(c.extra.join(' ')) << ": " << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << qPrintable(r.err);
    if (c.exitCode == 1) {
      EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << qPrintable(r.err);
    }
    EXPECT_FALSE(QFile::exists(out)) << qPrintable(c.extra.join(' '));
  }
}
