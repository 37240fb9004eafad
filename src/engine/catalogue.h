// The effect catalogue: identifiers, names, parameter sets and their defaults.
//
// An effect identifier is category * 100 + index in the category's list: 100-102,
// 200-203, 300-307, 400-403. Every part of the program that names an effect (lists,
// parameter panel, runner, parameter files, batch runs, scripts) goes through this
// table.
#pragma once

#include <QString>
#include <array>
#include <vector>

namespace quillora {

struct TParameters {
  int Value1 = 0, Value2 = 0, Value3 = 0, Value4 = 0, Value5 = 0;
  QString Name1, Name2, Name3, Name4, Name5;

  int value(int i) const;      // i = 1..5
  void setValue(int i, int v);  // i = 1..5
  const QString& name(int i) const;
};

// Params: 10 categories by 20 indices; the entry of an effect is at
// [id / 100][id % 100]. Unused entries stay empty.
using TParamTable = std::array<std::array<TParameters, 20>, 10>;

struct EffectInfo {
  int id;
  const char* displayName;  // untranslated
  const char* scriptName;   // nullptr when the effect has no script name
  const char* routine;      // the algorithm's name
  std::array<const char*, 5> paramNames;
  std::array<int, 5> defaults;
};

// The nineteen effects in identifier order.
const std::vector<EffectInfo>& EffectCatalogue();
// nullptr for an identifier outside the catalogue.
const EffectInfo* FindEffect(int id);
bool IsCatalogueEffect(int id);

struct EffectCategory {
  int number;         // 1..4
  const char* title;  // the group title, beginning with six spaces; "&&" shows as "&"
  std::vector<int> effects;
};
const std::vector<EffectCategory>& EffectCategories();

// Writes the names and defaults into every used entry of `params`, overwriting the
// current values.
void InitializeParameters(TParamTable& params);
TParameters& ParamsFor(TParamTable& params, int id);
const TParameters& ParamsFor(const TParamTable& params, int id);

// The display name translated into the interface language; 900 gives
// "Brushstrokes Frame"; anything else outside the catalogue "Unknown Effect".
QString GetEffectName(int id);
// The untranslated display name (same rules as GetEffectName).
QString EffectDisplayName(int id);

// Script names. A whole decimal integer is that identifier, unchecked. Otherwise the
// trimmed, upper-cased text is compared with each entry's script name, then display
// name; -1 when none matches. Effect 203 has no entry and is reachable by number only.
int ScriptNameToEffect(const QString& name);
// The entry's display name, or "Effect " + the identifier without an entry.
QString EffectToScriptName(int id);

// Whether the effect reads the "Erase background" switch.
bool ReadsEraseBackground(int id);
// Whether the runner performs a brush set-up before starting the effect.
bool NeedsBrushSetup(int id);

// Every interface text passes through Translate. Until the interface installs a
// language, texts are returned unchanged. SetTranslator is called on the interface
// thread before any worker starts.
using TranslatorFn = QString (*)(const QString&);
void SetTranslator(TranslatorFn fn);
QString Translate(const QString& english);

}  // namespace quillora
