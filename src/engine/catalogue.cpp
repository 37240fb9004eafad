#include "engine/catalogue.h"

#include <algorithm>

namespace quillora {

int TParameters::value(int i) const {
  switch (i) {
    case 1: return Value1;
    case 2: return Value2;
    case 3: return Value3;
    case 4: return Value4;
    case 5: return Value5;
  }
  return 0;
}

void TParameters::setValue(int i, int v) {
  switch (i) {
    case 1: Value1 = v; break;
    case 2: Value2 = v; break;
    case 3: Value3 = v; break;
    case 4: Value4 = v; break;
    case 5: Value5 = v; break;
  }
}

const QString& TParameters::name(int i) const {
  static const QString kEmpty;
  switch (i) {
    case 1: return Name1;
    case 2: return Name2;
    case 3: return Name3;
    case 4: return Name4;
    case 5: return Name5;
  }
  return kEmpty;
}

const std::vector<EffectInfo>& EffectCatalogue() {
  static const std::vector<EffectInfo> table = {
      {100, "Pencil Sketch 1", "PencilSketch1", "PencilSketch",
       {"edge threshold", "edge darkness", "brightness", "contrast", "color intensity"},
       {20, 50, 65, 5, 80}},
      {101, "Pencil Sketch 2", "PencilSketch2", "Pencil6",
       {"min stroke size", "max stroke size", "number of strokes", "color intensity", "quality"},
       {10, 40, 30, 0, 30}},
      {102, "Pencil Sketch 3", "PencilSketch3", "DynamicPencil",
       {"iterations", "stroke length", "blending", "contrast", "color intensity"},
       {20, 80, 30, 25, 0}},
      {200, "Black & White", "BlackAndWhite", "blackandwhiteInk",
       {"level of details", "lighten/darken", "simplification", "unused", "unused"},
       {50, 50, 0, 0, 0}},
      {201, "Stippling", "Stippling", "Stippling",
       {"darkening", "unused", "unused", "unused", "unused"},
       {50, 0, 0, 0, 0}},
      {202, "Felt-tip pen", "FeltTipPen", "MarkerRenderingEffect",
       {"stroke density", "stroke opacity", "stroke length", "stroke width", "edge intensity"},
       {65, 70, 30, 5, 40}},
      {203, "Comic print", nullptr, "ComicPrintHalftone",
       {"dot spacing", "min dot size", "max dot size", "color intensity", "contours"},
       {10, 0, 100, 50, 60}},
      {300, "Watercolor", "Watercolor", "CentralSpokeEffect",
       {"iterations", "brush complexity", "brush size", "opacity", "edge intensity"},
       {30, 40, 40, 100, 20}},
      {301, "Watercolor 2", "Watercolor2", "RegionGrowing",
       {"density", "region threshold", "brightness", "edge intensity", "saturation"},
       {90, 20, 60, 20, 55}},
      {302, "Oil Pastel", "OilPastel", "NewRandomStrokes_BestOfN",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"},
       {10, 70, 30, 30, 100}},
      {303, "Watercolor splashes", "WatercolorSplashes", "NewDirectionalStrokesgood",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"},
       {10, 70, 50, 50, 80}},
      {304, "Impasto brushstrokes", "ImpastoBrushstrokes", "SystematicPainting",
       {"min brush size", "max brush size", "iterations", "quality", "opacity"},
       {10, 50, 50, 50, 100}},
      {305, "Brushstrokes 2", "Brushstrokes2", "Ollivander",
       {"brush size", "iterations", "abstraction", "saturation", "opacity"},
       {50, 30, 25, 60, 70}},
      {306, "Smooth painting", "SmoothPainting", "TemplateMatching",
       {"max brush size", "iterations", "unused", "unused", "unused"},
       {35, 0, 0, 0, 0}},
      {307, "Stochastic Painting", "StochasticPainting", "StochasticPainting",
       {"min brush size", "max brush size", "iterations", "precision", "opacity"},
       {10, 50, 20, 50, 90}},
      {400, "Orton filter", "OrtonFilter", "OrtonFilter",
       {"glow radius", "exposure", "strength of effect", "vibrance", "darken/lighten"},
       {40, 25, 50, 50, 40}},
      {401, "Adjustments", "Adjustments", "Adjustments",
       {"luminosity", "contrast", "vibrance", "structure", "blur/sharpen"},
       {52, 52, 55, 15, 52}},
      {402, "Vintage / Sepia", "VintageSepia", "VintageSepia",
       {"color intensity", "strength of effect", "vignette", "grain", "blur"},
       {0, 70, 50, 50, 25}},
      {403, "Retro film", "RetroFilm", "RetroFilm",
       {"saturation", "warmth", "contrast", "grain", "vignette"},
       {30, 35, 60, 20, 25}},
  };
  return table;
}

const EffectInfo* FindEffect(int id) {
  for (const auto& e : EffectCatalogue())
    if (e.id == id) return &e;
  return nullptr;
}

bool IsCatalogueEffect(int id) { return FindEffect(id) != nullptr; }

const std::vector<EffectCategory>& EffectCategories() {
  static const std::vector<EffectCategory> categories = {
      {1, "      Sketch && Drawing", {100, 101, 102}},
      {2, "      Pen && Ink", {200, 201, 202, 203}},
      {3, "      Painting", {300, 301, 302, 303, 304, 305, 306, 307}},
      {4, "      Photo lab", {400, 401, 402, 403}},
  };
  return categories;
}

TParameters& ParamsFor(TParamTable& params, int id) {
  return params[size_t(std::clamp(id / 100, 0, 9))][size_t(std::clamp(id % 100, 0, 19))];
}

const TParameters& ParamsFor(const TParamTable& params, int id) {
  return params[size_t(std::clamp(id / 100, 0, 9))][size_t(std::clamp(id % 100, 0, 19))];
}

void InitializeParameters(TParamTable& params) {
  for (const auto& e : EffectCatalogue()) {
    TParameters& p = ParamsFor(params, e.id);
    p.Value1 = e.defaults[0];
    p.Value2 = e.defaults[1];
    p.Value3 = e.defaults[2];
    p.Value4 = e.defaults[3];
    p.Value5 = e.defaults[4];
    p.Name1 = QString::fromUtf8(e.paramNames[0]);
    p.Name2 = QString::fromUtf8(e.paramNames[1]);
    p.Name3 = QString::fromUtf8(e.paramNames[2]);
    p.Name4 = QString::fromUtf8(e.paramNames[3]);
    p.Name5 = QString::fromUtf8(e.paramNames[4]);
  }
}

QString EffectDisplayName(int id) {
  if (const EffectInfo* e = FindEffect(id)) return QString::fromUtf8(e->displayName);
  if (id == 900) return QStringLiteral("Brushstrokes Frame");
  return QStringLiteral("Unknown Effect");
}

QString GetEffectName(int id) { return Translate(EffectDisplayName(id)); }

int ScriptNameToEffect(const QString& name) {
  bool isNumber = false;
  const int number = name.toInt(&isNumber, 10);
  if (isNumber) return number;
  const QString key = name.trimmed().toUpper();
  for (const auto& e : EffectCatalogue()) {
    if (!e.scriptName) continue;
    if (key == QString::fromUtf8(e.scriptName).toUpper()) return e.id;
    if (key == QString::fromUtf8(e.displayName).toUpper()) return e.id;
  }
  return -1;
}

QString EffectToScriptName(int id) {
  const EffectInfo* e = FindEffect(id);
  if (e && e->scriptName) return QString::fromUtf8(e->displayName);
  return QStringLiteral("Effect %1").arg(id);
}

bool ReadsEraseBackground(int id) {
  switch (id) {
    case 202: case 300: case 301: case 302: case 303: case 304: case 305: case 307:
      return true;
  }
  return false;
}

bool NeedsBrushSetup(int id) { return id == 302 || id == 303 || id == 304 || id == 307; }

namespace {
TranslatorFn g_translator = nullptr;
}

void SetTranslator(TranslatorFn fn) { g_translator = fn; }

QString Translate(const QString& english) {
  return g_translator ? g_translator(english) : english;
}

}  // namespace quillora
