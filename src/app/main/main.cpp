// The desktop program: the splash first, then the main window, then the event loop.
#include "app/main_window.h"
#include "app/splash.h"
#include "app/theme.h"
#include "effects/register_effects.h"
#include "engine/catalogue.h"
#include "tools/texture_overlay.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

using quillora::Translate;

// Shows why the program cannot go on and ends the process at once. Worker threads may
// still be running, so nothing is unwound: no destructor may run under their feet.
[[noreturn]] void ExitWithStartupError(const QString& message) {
  // The message box runs events of its own; a second failure among them ends at once.
  static std::atomic<bool> exiting{false};
  if (exiting.exchange(true)) std::_Exit(EXIT_FAILURE);
  const QString text = Translate(QStringLiteral("Quillora startup error: ")) + message +
                       QStringLiteral("\r\n\r\n") +
                       Translate(QStringLiteral("The application will now exit."));
  std::fprintf(stderr, "%s\n", qPrintable(text));
  if (qApp) QMessageBox::critical(nullptr, QStringLiteral("Quillora"), text);
  std::_Exit(EXIT_FAILURE);
}

// Qt cannot carry an exception through its event loop; an event handler's exception
// ends here instead of terminating the process without a word.
class QuilloraApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ExitWithStartupError(QString::fromUtf8(e.what()));
    } catch (...) {
      ExitWithStartupError(QStringLiteral("unknown error"));
    }
  }
};

// Watches the splash: when the user clicks it away before its timer, the main window
// comes at once instead of after the rest of the 5.5 s.
class SplashWatcher : public QObject {
 public:
  SplashWatcher(QWidget* splash, QWidget* window) : QObject(splash), window_(window) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide && window_ && !window_->isVisible()) {
      window_->show();
      window_->raise();
      window_->activateWindow();
    }
    return false;
  }

 private:
  QPointer<QWidget> window_;  // the splash may outlive the window at exit
};

}  // namespace

int main(int argc, char** argv) {
  QuilloraApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillora"));
  QApplication::setApplicationVersion(QStringLiteral("4.20"));
  try {
    quillora::RegisterBuiltinEffects();
    quillora::InstallTextureOverlay();
    quillora::ui::ApplyApplicationStyle(app);

    QString fontError;
    const QString family = quillora::ui::RegisterInterfaceFont(&fontError);
    if (!fontError.isEmpty())
      QMessageBox::warning(nullptr, QStringLiteral("Quillora"),
                           Translate(QStringLiteral("Failed to register font: ")) + fontError);
    if (!family.isEmpty()) {
      QFont font(family);
      font.setPixelSize(13);
      QApplication::setFont(font);
    }

    quillora::ui::TForm2 splash;
    // Closing the main window ends the program even while the splash is up again.
    splash.setAttribute(Qt::WA_QuitOnClose, false);
    quillora::ui::TForm1 window;
    window.SetSplash(&splash);
    window.SetStartupArguments(QApplication::arguments().mid(1));

    auto showMain = [&window, &splash] {
      window.show();
      window.raise();
      window.activateWindow();
      splash.hide();
    };
    QObject::connect(&splash, &quillora::ui::TForm2::timeout, &window, showMain);
    splash.installEventFilter(new SplashWatcher(&splash, &window));
    splash.ShowCentredOn(nullptr);

    return app.exec();
  } catch (const std::exception& e) {
    ExitWithStartupError(QString::fromUtf8(e.what()));
  }
}
