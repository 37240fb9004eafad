#include "engine/effect_registry.h"

#include "engine/catalogue.h"

#include <map>
#include <mutex>

namespace quillora {

namespace {
// Written at start-up, read by workers afterwards; the mutex keeps a registration
// that races with a lookup (tests register on the fly) well-defined.
std::mutex g_mutex;
std::map<int, TEffectProc>& Table() {
  static std::map<int, TEffectProc> table;
  return table;
}
std::atomic<TextureOverlayProc> g_textureOverlay{nullptr};
}  // namespace

void RegisterEffect(int id, TEffectProc proc) {
  if (!IsCatalogueEffect(id)) return;
  std::lock_guard lock(g_mutex);
  Table()[id] = proc;
}

TEffectProc EffectProcFor(int id) {
  std::lock_guard lock(g_mutex);
  auto it = Table().find(id);
  return it == Table().end() ? nullptr : it->second;
}

std::vector<int> RegisteredEffects() {
  std::lock_guard lock(g_mutex);
  std::vector<int> ids;
  for (const auto& [id, proc] : Table())
    if (proc) ids.push_back(id);
  return ids;
}

void SetTextureOverlayProc(TextureOverlayProc proc) { g_textureOverlay.store(proc); }
TextureOverlayProc GetTextureOverlayProc() { return g_textureOverlay.load(); }

}  // namespace quillora
