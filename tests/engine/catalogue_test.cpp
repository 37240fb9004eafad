#include "engine/catalogue.h"
#include "engine/numeric.h"
#include "engine/random.h"

#include <gtest/gtest.h>

using namespace quillora;

TEST(Catalogue, NineteenEffectsInFourCategories) {
  std::vector<int> ids;
  for (const auto& e : EffectCatalogue()) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<int>{100, 101, 102, 200, 201, 202, 203, 300, 301, 302, 303, 304,
                                   305, 306, 307, 400, 401, 402, 403}));
  std::vector<int> fromCategories;
  for (const auto& c : EffectCategories()) {
    EXPECT_TRUE(QString::fromUtf8(c.title).startsWith(QStringLiteral("      ")));
    for (int id : c.effects) {
      EXPECT_EQ(id / 100, c.number);
      fromCategories.push_back(id);
    }
  }
  EXPECT_EQ(fromCategories, ids);
}

TEST(Catalogue, ParameterNamesAndDefaults) {
  TParamTable params{};
  InitializeParameters(params);
  struct Row {
    int id;
    const char* names[5];
    int values[5];
  };
  const Row rows[] = {
      {100, {"edge threshold", "edge darkness", "brightness", "contrast", "color intensity"},
       {20, 50, 65, 5, 80}},
      {200, {"level of details", "lighten/darken", "simplification", "unused", "unused"},
       {50, 50, 0, 0, 0}},
      {203, {"dot spacing", "min dot size", "max dot size", "color intensity", "contours"},
       {10, 0, 100, 50, 60}},
      {306, {"max brush size", "iterations", "unused", "unused", "unused"}, {35, 0, 0, 0, 0}},
      {400, {"glow radius", "exposure", "strength of effect", "vibrance", "darken/lighten"},
       {40, 25, 50, 50, 40}},
      {401, {"luminosity", "contrast", "vibrance", "structure", "blur/sharpen"},
       {52, 52, 55, 15, 52}},
      {403, {"saturation", "warmth", "contrast", "grain", "vignette"}, {30, 35, 60, 20, 25}},
  };
  for (const Row& r : rows) {
    const TParameters& p = ParamsFor(params, r.id);
    for (int i = 1; i <= 5; ++i) {
      EXPECT_EQ(p.name(i), QString::fromUtf8(r.names[i - 1])) << r.id << " " << i;
      EXPECT_EQ(p.value(i), r.values[i - 1]) << r.id << " " << i;
    }
  }
  // Entries outside the catalogue stay empty.
  EXPECT_TRUE(params[0][0].Name1.isEmpty());
  EXPECT_TRUE(params[1][3].Name1.isEmpty());
  EXPECT_TRUE(params[5][0].Name1.isEmpty());
}

TEST(Catalogue, ResetRestoresEveryEffect) {
  TParamTable params{};
  InitializeParameters(params);
  ParamsFor(params, 100).Value1 = 99;
  ParamsFor(params, 403).Value5 = 1;
  InitializeParameters(params);
  EXPECT_EQ(ParamsFor(params, 100).Value1, 20);
  EXPECT_EQ(ParamsFor(params, 403).Value5, 25);
}

TEST(Catalogue, EffectNames) {
  EXPECT_EQ(GetEffectName(300), QStringLiteral("Watercolor"));
  EXPECT_EQ(GetEffectName(203), QStringLiteral("Comic print"));
  EXPECT_EQ(GetEffectName(900), QStringLiteral("Brushstrokes Frame"));
  EXPECT_EQ(GetEffectName(999), QStringLiteral("Unknown Effect"));
  EXPECT_EQ(GetEffectName(-1), QStringLiteral("Unknown Effect"));
}

TEST(Catalogue, ScriptNames) {
  const struct {
    const char* text;
    int id;
  } cases[] = {
      {"Watercolor 2", 301},  {"watercolor2", 301},     {"  WATERCOLOR 2 ", 301},
      {"wAtErCoLoR2", 301},   {"Comic print", -1},      {"203", 203},
      {"42", 42},             {"Black & White", 200},   {"blackandwhite", 200},
      {"Stochastic painting", 307}, {"Retro film", 403}, {"", -1},
      {"Pencil Sketch", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ScriptNameToEffect(QString::fromUtf8(c.text)), c.id) << c.text;
  EXPECT_EQ(EffectToScriptName(301), QStringLiteral("Watercolor 2"));
  EXPECT_EQ(EffectToScriptName(203), QStringLiteral("Effect 203"));
  EXPECT_EQ(EffectToScriptName(555), QStringLiteral("Effect 555"));
}

TEST(Catalogue, EraseBackgroundReaders) {
  std::vector<int> readers;
  for (const auto& e : EffectCatalogue())
    if (ReadsEraseBackground(e.id)) readers.push_back(e.id);
  EXPECT_EQ(readers, (std::vector<int>{202, 300, 301, 302, 303, 304, 305, 307}));
}

TEST(Numeric, RoundRatioIsExactWithTiesToEven) {
  EXPECT_EQ(RoundRatio(50 * 255, 100), 128);  // 127.5
  EXPECT_EQ(RoundRatio(65 * 255, 100), 166);  // 165.75
  EXPECT_EQ(RoundRatio(10 * 255, 100), 26);   // 25.5 -> even
  EXPECT_EQ(RoundRatio(30 * 255, 100), 76);   // 76.5 -> even
  EXPECT_EQ(RoundRatio(-5, 2), -2);           // -2.5 -> even
  EXPECT_EQ(RoundRatio(-7, 2), -4);           // -3.5 -> even
  EXPECT_EQ(RoundRatio(7, -2), -4);
  EXPECT_EQ(RoundRatio(0, 3), 0);
}

TEST(Random, FollowsTheLinearCongruentialSequence) {
  SetRandomSeed(1969);
  uint32_t state = 1969;
  for (int i = 0; i < 1000; ++i) {
    const int32_t n = 1 + i % 300;
    state = state * 134775813u + 1u;
    const int32_t expected = int32_t((uint64_t(state) * uint32_t(n)) >> 32);
    ASSERT_EQ(Random(n), expected) << i;
  }
  state = state * 134775813u + 1u;
  EXPECT_DOUBLE_EQ(RandomFloat(), double(state) / 4294967296.0);
  // Seeding again reproduces the sequence.
  SetRandomSeed(7);
  const int a = Random(1000), b = Random(1000);
  SetRandomSeed(7);
  EXPECT_EQ(Random(1000), a);
  EXPECT_EQ(Random(1000), b);
}
