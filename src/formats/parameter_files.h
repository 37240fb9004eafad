// Parameter files (.qlp): the whole parameter table as INI-like text, so a user can
// keep the settings of every effect and bring them back at once.
//
// Written as UTF-8 with a byte-order mark and CRLF line ends: two comment lines, an
// empty line, then a block for each of the 200 table entries in category and index
// order ("[Effect_3_2]", Name1..Name5, Value1..Value5, an empty line), 2403 lines in all.
// Read loosely: blank and "#" lines are skipped, lines are trimmed, keys and values are
// trimmed around the first "=", keys are case-sensitive, malformed lines are skipped
// one by one and the rest still applies.
#pragma once

#include "engine/catalogue.h"

#include <QByteArray>
#include <QString>

namespace quillora {

QByteArray FormatParameters(const TParamTable& params);
// Applies the text to `params`: only the entries and keys the text names change.
void ParseParameters(const QByteArray& text, TParamTable& params);

// Writes the file through a temporary file renamed over it, so a failed save leaves
// an existing file intact. Throws gfx::Error with the reason.
void SaveParameters(const QString& fileName, const TParamTable& params);
// Returns false, changing nothing, when the file does not exist. Throws gfx::Error
// when it exists but cannot be read.
bool LoadParameters(const QString& fileName, TParamTable& params);

}  // namespace quillora
