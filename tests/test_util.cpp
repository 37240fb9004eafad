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
  const QImage ref(path);
  ASSERT_FALSE(ref.isNull()) << "missing reference " << qPrintable(path)
                             << " (QUILLORA_UPDATE_GOLDEN=1 writes it)";
  const gfx::Image expected = gfx::Image::FromQImage(ref);
  ASSERT_EQ(expected.width(), actual.width());
  ASSERT_EQ(expected.height(), actual.height());
  QImage diff(actual.width(), actual.height(), QImage::Format_ARGB32);
  int bad = 0;
  for (int y = 0; y < actual.height(); ++y)
    for (int x = 0; x < actual.width(); ++x) {
      const uint32_t p = actual.row(y)[x], q = expected.row(y)[x];
      int worst = 0;
      if ((p >> 24) != 0 || (q >> 24) != 0)
        for (int s = 0; s < 32; s += 8)
          worst = std::max(worst, std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
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
