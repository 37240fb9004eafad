#include "app/theme.h"
#include "app/splash.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quillora::ui;

namespace {

TEST(Theme, IconsAreDrawnInTheRequestedColour) {
  EXPECT_TRUE(Icon(QStringLiteral("no-such-icon")).isNull());
  const QIcon icon = Icon(QStringLiteral("square"), QColor(255, 0, 0));
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 48}) {
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(size, size));
    int stroke = 0, other = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const QRgb c = image.pixel(x, y);
        if (qAlpha(c) < 60) continue;  // edge pixels keep their colour, unpremultiplied
        (qRed(c) > 200 && qGreen(c) < 40 && qBlue(c) < 40 ? stroke : other)++;
      }
    }
    EXPECT_GT(stroke, size) << size;
    EXPECT_EQ(other, 0) << size;
    // The centre of the outlined square is empty.
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 0);
  }
}

TEST(Theme, InterfaceFontFromTheProgramsFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString error;
  EXPECT_TRUE(RegisterInterfaceFontFrom(dir.path(), &error).isEmpty());
  EXPECT_TRUE(error.isEmpty());  // no file is not a failure

  // A broken .ttf is reported when nothing else is there ...
  QFile broken(dir.filePath(QStringLiteral("Inter-Regular.ttf")));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("not a font");
  broken.close();
  EXPECT_TRUE(RegisterInterfaceFontFrom(dir.path(), &error).isEmpty());
  EXPECT_FALSE(error.isEmpty());

  // ... and the .otf beside it still gives the family.
  const QString otf = QStringLiteral("/usr/share/fonts/opentype/inter/Inter-Regular.otf");
  if (!QFile::exists(otf)) GTEST_SKIP() << "fonts-inter is not installed";
  ASSERT_TRUE(QFile::copy(otf, dir.filePath(QStringLiteral("Inter-Regular.otf"))));
  error.clear();
  EXPECT_EQ(RegisterInterfaceFontFrom(dir.path(), &error), QStringLiteral("Inter"));
  EXPECT_TRUE(error.isEmpty());
}

TEST(Splash, HidesOnClickAndOnFocusLossOnlyOnceTheMainWindowExists) {
  TForm2 splash;
  QSignalSpy timeout(&splash, &TForm2::timeout);
  splash.ShowCentredOn(nullptr);
  ASSERT_TRUE(splash.isVisible());
  QEvent deactivate(QEvent::ActivationChange);
  QApplication::sendEvent(&splash, &deactivate);
  EXPECT_TRUE(splash.isVisible());  // start-up: focus changes are not a dismissal

  splash.SetMainWindowReady(true);
  QApplication::sendEvent(&splash, &deactivate);
  EXPECT_FALSE(splash.isVisible());

  splash.ShowCentredOn(nullptr);
  QTest::mouseClick(&splash, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(timeout.count(), 0);
}

}  // namespace
