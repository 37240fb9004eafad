#include "test_util.h"

#include "engine/ui_dispatcher.h"
#include "gfx/pixel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdlib>

namespace testutil {

gfx::Image MakeImage(int width, int height, const std::vector<uint32_t>& argb) {
  return gfx::Image::FromPixels(argb.data(), width, height, qsizetype(width) * 4,
                                gfx::AlphaType::Unpremultiplied);
}

gfx::Image SolidImage(int width, int height, uint32_t argb) {
  return MakeImage(width, height, std::vector<uint32_t>(size_t(width) * height, argb));
}

uint32_t PremultipliedAt(const gfx::Image& image, int x, int y) { return image.row(y)[x]; }

uint32_t PixelAt(const gfx::Image& image, int x, int y) {
  return gfx::Unpremultiply(PremultipliedAt(image, x, y));
}

int MaxChannelDifference(const gfx::Image& a, const gfx::Image& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const uint32_t p = a.row(y)[x], q = b.row(y)[x];
      for (int s = 0; s < 32; s += 8)
        worst = std::max(worst, std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
    }
  return worst;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return quillora::UiDispatcher::RunUntil(done, 1, timeoutMs);
}

QString TestDataPath(const QString& name) {
  return QStringLiteral(QUILLORA_TEST_DATA) + QLatin1Char('/') + name;
}

QString PhotoPath(const QString& name) {
  return QStringLiteral(QUILLORA_PHOTOS) + QLatin1Char('/') + name;
}

}  // namespace testutil

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace testutil {

void ExpectMatchesGolden(const gfx::Image& actual, const QString& name, int tolerance) {
  const QString path = TestDataPath(QStringLiteral("golden/%1.png").arg(name));
  if (qEnvironmentVariableIntValue("QUILLORA_UPDATE_GOLDEN") == 1) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(actual.qimage().save(path)) << qPrintable(path);
    return;
  }
  // PNG holds unpremultiplied colour, so both sides are compared in that form, each
  // converted by the same routine; premultiplied words would not survive the trip.
  const QImage ref = QImage(path).convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(ref.isNull()) << "missing reference " << qPrintable(path)
                             << " (QUILLORA_UPDATE_GOLDEN=1 writes it)";
  const QImage got = actual.qimage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(ref.width(), got.width());
  ASSERT_EQ(ref.height(), got.height());
  QImage diff(got.width(), got.height(), QImage::Format_ARGB32);
  int bad = 0;
  for (int y = 0; y < got.height(); ++y)
    for (int x = 0; x < got.width(); ++x) {
      const uint32_t p = got.pixel(x, y), q = ref.pixel(x, y);
      int worst = 0;
      if ((p >> 24) != 0 || (q >> 24) != 0)
        for (int sh = 0; sh < 32; sh += 8)
          worst = std::max(worst, std::abs(int((p >> sh) & 0xFF) - int((q >> sh) & 0xFF)));
      if (worst > tolerance) ++bad;
      diff.setPixel(x, y, worst > tolerance ? qRgb(255, 0, 0) : qRgb(worst * 8, worst * 8, worst * 8));
    }
  if (bad > 0) {
    actual.qimage().save(name + QStringLiteral(".actual.png"));
    diff.save(name + QStringLiteral(".diff.png"));
  }
  EXPECT_EQ(bad, 0) << bad << " pixels of " << qPrintable(name) << " differ by more than "
                    << tolerance << "; see " << qPrintable(name) << ".actual.png and .diff.png";
}

}  // namespace testutil
