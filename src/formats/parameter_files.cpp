#include "formats/parameter_files.h"

#include "formats/image_save.h"
#include "gfx/image.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>

namespace quillora {

QByteArray FormatParameters(const TParamTable& params) {
  QStringList lines;
  lines << QStringLiteral("# Quillora Parameters File") << QStringLiteral("# Format: [Effect_Category_Index]")
        << QString();
  for (int c = 0; c < 10; ++c)
    for (int i = 0; i < 20; ++i) {
      const TParameters& p = params[size_t(c)][size_t(i)];
      lines << QStringLiteral("[Effect_%1_%2]").arg(c).arg(i);
      for (int k = 1; k <= 5; ++k) lines << QStringLiteral("Name%1=%2").arg(k).arg(p.name(k));
      for (int k = 1; k <= 5; ++k) lines << QStringLiteral("Value%1=%2").arg(k).arg(p.value(k));
      lines << QString();
    }
  QByteArray out("\xEF\xBB\xBF");
  for (const QString& line : lines) out += line.toUtf8() + "\r\n";
  return out;
}

void ParseParameters(const QByteArray& text, TParamTable& params) {
  QByteArray bytes = text;
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  const QString all = QString::fromUtf8(bytes);
  int category = -1, index = -1;
  for (const QString& raw : all.split(QLatin1Char('\n'))) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      // A section that is not a well-formed effect section is ignored as a whole, so
      // its keys can never land in the block before it.
      category = index = -1;
      const QString name = line.mid(1, line.size() - 2);
      if (!name.startsWith(QLatin1String("Effect_"))) continue;
      const QStringList parts = name.split(QLatin1Char('_'));
      if (parts.size() != 3) continue;
      bool okC = false, okI = false;
      const int c = parts[1].toInt(&okC, 10), i = parts[2].toInt(&okI, 10);
      if (okC && okI && c >= 0 && c <= 9 && i >= 0 && i <= 19) {
        category = c;
        index = i;
      }
      continue;
    }
    if (category < 0) continue;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    TParameters& p = params[size_t(category)][size_t(index)];
    for (int k = 1; k <= 5; ++k) {
      if (key == QStringLiteral("Name%1").arg(k)) {
        switch (k) {
          case 1: p.Name1 = value; break;
          case 2: p.Name2 = value; break;
          case 3: p.Name3 = value; break;
          case 4: p.Name4 = value; break;
          case 5: p.Name5 = value; break;
        }
      } else if (key == QStringLiteral("Value%1").arg(k)) {
        bool ok = false;
        const int v = value.toInt(&ok, 10);
        p.setValue(k, ok ? v : 0);
      }
    }
  }
}

void SaveParameters(const QString& fileName, const TParamTable& params) {
  WriteFileAtomically(fileName, FormatParameters(params));
}

bool LoadParameters(const QString& fileName, TParamTable& params) {
  if (!QFileInfo::exists(fileName)) return false;
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw gfx::Error(QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()).toStdString());
  ParseParameters(file.readAll(), params);
  return true;
}

}  // namespace quillora
