// quillora-cli: the effect engine from a terminal, without any display.
#include "brushes/image_repository.h"
#include "cli/cli_host.h"
#include "effects/register_effects.h"
#include "engine/catalogue.h"
#include "engine/effect_registry.h"
#include "engine/runner.h"
#include "formats/image_save.h"
#include "gfx/codec.h"
#include "tools/texture_overlay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace quillora;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage:\n"
    "  quillora-cli list\n"
    "  quillora-cli render EFFECT INPUT -o OUTPUT [-p P1,P2,P3,P4,P5]\n"
    "               [--texture NAME|FILE [--texture-strength S] [--texture-scale K]]\n"
    "  quillora-cli assets DIR\n"
    "\n"
    "  EFFECT  an effect identifier (100), script name (PencilSketch1) or display\n"
    "          name (\"Pencil Sketch 1\"); 'quillora-cli list' shows them all\n"
    "  INPUT   an image file, or --sample for the built-in sample picture\n"
    "  OUTPUT  a .png, .jpg, .jpeg or .webp file\n"
    "  -p      up to five slider values from 0 to 100, separated by commas;\n"
    "          missing or empty values take the effect's defaults\n"
    "  --texture  finishes the picture with a surface texture, as \"Add texture\"\n"
    "          does: a built-in texture (Canvas, Paper, Impasto, watercolor,\n"
    "          cardboard, fabric) or an image file\n"
    "  --texture-strength  0 to 100, default 50\n"
    "  --texture-scale     greater than 0, default 1 (2 doubles the texture's size)\n"
    "  assets  writes every built-in picture into DIR as COMPONENT.png (the items\n"
    "          of an image list as LIST/ITEM.png)\n";

int Usage(const QString& problem = QString()) {
  if (!problem.isEmpty()) std::fprintf(stderr, "quillora-cli: %s\n", qPrintable(problem));
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

int Fail(const QString& message) {
  std::fprintf(stderr, "quillora-cli: %s\n", qPrintable(message));
  return kExitFailure;
}

int List() {
  for (int id : RegisteredEffects()) {
    const EffectInfo* e = FindEffect(id);
    QStringList params;
    for (int i = 0; i < 5; ++i)
      params << QStringLiteral("%1=%2").arg(QString::fromUtf8(e->paramNames[size_t(i)]))
                    .arg(e->defaults[size_t(i)]);
    const QString line = QStringLiteral("%1  %2  %3  %4")
                             .arg(id)
                             .arg(QString::fromUtf8(e->scriptName ? e->scriptName : "-"), -20)
                             .arg(QString::fromUtf8(e->displayName), -22)
                             .arg(params.join(QStringLiteral(", ")));
    std::printf("%s\n", qPrintable(line));
  }
  return 0;
}

// The script-name rules, and beyond them every display name of the catalogue, so that
// an effect without a script name can be named on the command line as it is shown.
int ResolveEffect(const QString& text) {
  int id = ScriptNameToEffect(text);
  if (id == -1) {
    const QString key = text.trimmed().toUpper();
    for (const auto& e : EffectCatalogue())
      if (key == QString::fromUtf8(e.displayName).toUpper()) id = e.id;
  }
  return IsCatalogueEffect(id) && EffectProcFor(id) ? id : -1;
}

// Every built-in picture as a PNG, so anyone can look at them.
int Assets(const QStringList& args) {
  if (args.size() != 1) return Usage(QStringLiteral("assets needs one folder"));
  const QDir dir(args.first());
  if (!QDir().mkpath(dir.absolutePath()))
    return Fail(QStringLiteral("cannot create the folder %1").arg(args.first()));
  TForm3& holder = TForm3::Instance();
  auto write = [&](const QString& relative, const gfx::Image& image) {
    if (image.isEmpty()) throw gfx::Error(QStringLiteral("the picture %1 is missing").arg(relative).toStdString());
    const QString path = dir.filePath(relative + QStringLiteral(".png"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    SaveImageFile(image, path);
    std::printf("%s  %d x %d\n", qPrintable(QDir::toNativeSeparators(path)), image.width(),
                image.height());
  };
  try {
    for (const QString& name : TForm3::PictureNames()) write(name, holder.Picture(name));
    for (const QString& list : TForm3::ImageListNames())
      for (const NamedImage& item : holder.ImageList(list))
        write(list + QLatin1Char('/') + item.name, item.image);
  } catch (const std::exception& e) {
    return Fail(QString::fromUtf8(e.what()));
  }
  return 0;
}

int Render(const QStringList& args) {
  QString effectArg, input, output, paramArg, textureArg, strengthArg, scaleArg;
  bool haveParams = false, sample = false, haveTexture = false;
  QStringList positional;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("-o") || a == QLatin1String("--output")) {
      if (++i >= args.size()) return Usage(QStringLiteral("-o needs a file name"));
      output = args[i];
    } else if (a == QLatin1String("-p") || a == QLatin1String("--params")) {
      if (++i >= args.size()) return Usage(QStringLiteral("-p needs values"));
      paramArg = args[i];
      haveParams = true;
    } else if (a == QLatin1String("--sample")) {
      sample = true;
    } else if (a == QLatin1String("--texture")) {
      if (++i >= args.size()) return Usage(QStringLiteral("--texture needs a name or a file"));
      textureArg = args[i];
      haveTexture = true;
    } else if (a == QLatin1String("--texture-strength")) {
      if (++i >= args.size()) return Usage(QStringLiteral("--texture-strength needs a value"));
      strengthArg = args[i];
    } else if (a == QLatin1String("--texture-scale")) {
      if (++i >= args.size()) return Usage(QStringLiteral("--texture-scale needs a value"));
      scaleArg = args[i];
    } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      return Usage(QStringLiteral("unknown option %1").arg(a));
    } else {
      positional << a;
    }
  }
  if (positional.isEmpty()) return Usage(QStringLiteral("render needs an effect"));
  effectArg = positional.takeFirst();
  if (sample == !positional.isEmpty() || positional.size() > 1)
    return Usage(QStringLiteral("render needs one input: an image file or --sample"));
  if (!sample) input = positional.first();
  if (output.isEmpty()) return Usage(QStringLiteral("render needs -o OUTPUT"));

  const int id = ResolveEffect(effectArg);
  if (id == -1) return Fail(QStringLiteral("unknown effect: %1").arg(effectArg));
  const EffectInfo* info = FindEffect(id);
  int P[5];
  for (int i = 0; i < 5; ++i) P[i] = info->defaults[size_t(i)];
  if (haveParams) {
    const QStringList values = paramArg.split(QLatin1Char(','));
    if (values.size() > 5) return Usage(QStringLiteral("-p takes at most five values"));
    for (int i = 0; i < values.size(); ++i) {
      const QString v = values[i].trimmed();
      if (v.isEmpty()) continue;
      bool ok = false;
      const int n = v.toInt(&ok);
      if (!ok || n < 0 || n > 100)
        return Usage(QStringLiteral("parameter %1 must be a whole number from 0 to 100, not '%2'")
                         .arg(i + 1)
                         .arg(v));
      P[i] = n;
    }
  }

  StoredTextureSettings texture;
  texture.strength = 50.0f;
  texture.scale = 1.0f;
  if (!haveTexture && (!strengthArg.isEmpty() || !scaleArg.isEmpty()))
    return Usage(QStringLiteral("--texture-strength and --texture-scale need --texture"));
  if (!strengthArg.isEmpty()) {
    bool ok = false;
    const double v = strengthArg.trimmed().toDouble(&ok);
    if (!ok || !(v >= 0.0 && v <= 100.0))
      return Usage(QStringLiteral("--texture-strength must be a number from 0 to 100, not '%1'")
                       .arg(strengthArg));
    texture.strength = float(v);
  }
  if (!scaleArg.isEmpty()) {
    bool ok = false;
    const float v = float(scaleArg.trimmed().toDouble(&ok));
    // The texture coordinates are divided by the scale.
    if (!ok || !(v > 0.0f) || !std::isfinite(v))
      return Usage(QStringLiteral("--texture-scale must be a number greater than 0, not '%1'")
                       .arg(scaleArg));
    texture.scale = v;
  }

  // A name the save path would refuse is refused before the render, not after it.
  const QString ext = QFileInfo(output).suffix().toLower();
  if (ext != QLatin1String("png") && ext != QLatin1String("jpg") &&
      ext != QLatin1String("jpeg") && ext != QLatin1String("webp"))
    return Fail(QStringLiteral("cannot write %1: Invalid extension").arg(output));

  gfx::Image source;
  try {
    source = sample ? TForm3::Instance().DefaultImage() : gfx::DecodeImageFile(input);
  } catch (const std::exception& e) {
    return Fail(QStringLiteral("cannot read %1: %2").arg(input, QString::fromUtf8(e.what())));
  }
  if (source.isEmpty())
    return Fail(sample ? QStringLiteral("the built-in sample picture is missing")
                       : QStringLiteral("cannot read %1").arg(input));

  if (haveTexture) {
    try {
      texture.bitmap = ResolveTexture(textureArg);
    } catch (const std::exception& e) {
      return Fail(QString::fromUtf8(e.what()));
    }
    texture.addTexture = true;
  }

  CliHost host(isatty(fileno(stderr)) != 0);
  host.Load(source);
  host.SetTexture(texture);
  {
    EffectRunner runner(host);
    runner.ProcessEffect(id, P[0], P[1], P[2], P[3], P[4], false);
    UiDispatcher::RunUntil([&] { return runner.ActiveWorkers() == 0; });
    QCoreApplication::processEvents();
  }
  host.FinishProgress();
  if (!host.Rendered())
    return Fail(host.LastMessage().isEmpty()
                    ? QStringLiteral("%1 failed on %2").arg(GetEffectName(id), input)
                    : host.LastMessage());

  try {
    SaveImageFile(host.ResultImage(), output);
  } catch (const std::exception& e) {
    return Fail(QString::fromUtf8(e.what()));
  }
  return 0;
}

// Qt's notes about the environment (no runtime folder on a server, and the like) are
// not the user's business on a terminal; everything else still goes to stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  if (text.startsWith(QLatin1String("QStandardPaths:"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(text));
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietMessages);
  // The command line never needs a display; fonts and painting work offscreen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  RegisterBuiltinEffects();
  InstallTextureOverlay();

  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  if (args.isEmpty()) return Usage();
  const QString command = args.takeFirst();
  if (command == QLatin1String("list") && args.isEmpty()) return List();
  if (command == QLatin1String("render")) return Render(args);
  if (command == QLatin1String("assets")) return Assets(args);
  if (command == QLatin1String("-h") || command == QLatin1String("--help") ||
      command == QLatin1String("help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Usage(QStringLiteral("unknown command %1").arg(command));
}
