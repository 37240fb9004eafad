// Picture frames drawn as lit mouldings.
//
// The frame tool lays a frame picture around the photograph like a nine-patch: the
// corners keep their size, the sides stretch along their length, and the window
// (found by walking from the centre to the first pixel of alpha 251 or more) stretches
// over the mat and the photograph. So a frame picture is an opaque border of one
// thickness per side around a transparent middle; whatever lies in the middle other
// than full transparency (here the soft shadow the moulding throws onto the picture)
// is stretched with it.
//
// A moulding is described across its width, from the outer edge (across = 0) to the
// sight edge at the window (across = border): its height and its finish (wood, gilt,
// paint, mat board). The renderer finds for every pixel the side it belongs to, where
// it lies along and across that side, lights the surface from the upper left and
// joins the sides with mitres (or, for rough boards, butt joints).
#pragma once

#include <QImage>
#include <cstdint>

namespace assetgen::surface {

struct Vec3 {
  float x, y, z;
};

enum class Side { Top, Bottom, Left, Right };

// Where a point of the frame picture lies on its moulding.
struct Place {
  Side side;
  // From the start of the side's outer edge (the left end of the top and bottom, the
  // top end of the left and right sides), and from the outer edge inwards; pixels.
  float along;
  float across;
  // The length of the side's outer edge.
  float length;
  // Picture coordinates, for finishes that do not follow the sides (a mat is cut
  // from one board).
  float x, y;
};

struct Finish {
  Vec3 albedo;  // 0..1 per channel
  // The highlight: its strength and how tight it is (Blinn exponent).
  float specular = 0.0f;
  float shininess = 20.0f;
  // 1 for metal leaf and metal: the colour tints the highlights and the surface mirrors
  // a bright room above it; 0 for wood, paint and paper.
  float metal = 0.0f;
};

class Moulding {
 public:
  virtual ~Moulding() = default;
  // Height above the wall in pixels.
  virtual float Height(const Place& p) const = 0;
  virtual Finish Surface(const Place& p) const = 0;
  // How dark the seam between two pieces is at this distance from the outer edge (0
  // where there is no seam, as on a mat cut from one board).
  virtual float Seam(float /*across*/) const { return 1.0f; }
  // Rough boards meet square: the top and bottom boards run the full width.
  virtual bool ButtJoints() const { return false; }
};

// The soft shadow the moulding throws onto the picture, as black of this alpha at the
// sight edge fading to nothing over the given reach (pixels). Light from the upper
// left throws the top and left sides' shadows further.
struct InnerShadow {
  float alpha = 0.3f;
  float reachTopLeft = 0.0f;
  float reachBottomRight = 0.0f;
};

// The border thickness that leaves `transparent` of a width x height picture fully
// transparent once the shadow reaches (given as multiples of the border) are taken off.
float BorderFor(int width, int height, float transparent, float shadowTopLeft,
                float shadowBottomRight);

QImage RenderFrame(int width, int height, float border, const Moulding& moulding,
                   const InnerShadow& shadow);

}  // namespace assetgen::surface
