#include "effects/register_effects.h"

#include "effects/painting/brushstrokes_2.h"
#include "effects/painting/impasto.h"
#include "effects/painting/oil_pastel.h"
#include "effects/painting/smooth_painting.h"
#include "effects/painting/stochastic_painting.h"
#include "effects/painting/watercolor.h"
#include "effects/painting/watercolor_splashes.h"
#include "effects/photolab/adjustments.h"
#include "effects/photolab/orton_filter.h"
#include "effects/photolab/retro_film.h"
#include "effects/photolab/vintage_sepia.h"
#include "effects/sketch/black_and_white_ink.h"
#include "effects/sketch/comic_print.h"
#include "effects/sketch/felt_tip_pen.h"
#include "effects/sketch/pencil_sketch.h"
#include "effects/sketch/pencil_sketch_2.h"
#include "effects/sketch/pencil_sketch_3.h"
#include "effects/sketch/stippling.h"
#include "engine/effect_registry.h"

namespace quillora {

void RegisterBuiltinEffects() {
  RegisterEffect(100, &PencilSketch);
  RegisterEffect(101, &Pencil6);
  RegisterEffect(102, &DynamicPencil);
  RegisterEffect(200, &blackandwhiteInk);
  RegisterEffect(201, &Stippling);
  RegisterEffect(202, &MarkerRenderingEffect);
  RegisterEffect(203, &ComicPrintHalftone);
  RegisterEffect(300, &CentralSpokeEffect);
  RegisterEffect(302, &NewRandomStrokes_BestOfN);
  RegisterEffect(303, &NewDirectionalStrokesgood);
  RegisterEffect(304, &SystematicPainting);
  RegisterEffect(305, &Ollivander);
  RegisterEffect(306, &TemplateMatching);
  RegisterEffect(307, &StochasticPainting);
  RegisterEffect(400, &OrtonFilter);
  RegisterEffect(401, &Adjustments);
  RegisterEffect(402, &VintageSepia);
  RegisterEffect(403, &RetroFilm);
}

}  // namespace quillora
