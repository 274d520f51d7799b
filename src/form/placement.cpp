#include "form/placement.h"

#include <algorithm>
#include <iterator>

namespace kav::form {

namespace {
bool inside(const Box& area, int x, int y, int width, int height) {
  return x >= area.left && y >= area.top && x + width <= area.right() && y + height <= area.bottom();
}
int clamp_into(int at, int size, int low, int high) { return std::max(low, std::min(at, high - size)); }
}  // namespace

Spot place_beside(const Box& taken, const Box& area, int width, int height) {
  constexpr int gap = kPlacementGap;
  const Spot right{taken.right() + gap, taken.top};
  const Spot below{taken.left, taken.bottom() + gap};
  const Spot left{taken.left - gap - width, taken.top};
  const Spot above{taken.left, taken.top - gap - height};
  for (const Spot& at : {right, below, left, above}) {
    if (inside(area, at.x, at.y, width, height)) return at;
  }
  // Partly past the screen's edge, on the side with the most room, kept on
  // the screen along that side.
  const int rooms[] = {area.right() - right.x, area.bottom() - below.y, taken.left - gap - area.left,
                       taken.top - gap - area.top};
  const int best = static_cast<int>(std::max_element(std::begin(rooms), std::end(rooms)) - std::begin(rooms));
  if (rooms[best] >= kMinVisible) {
    switch (best) {
      case 0: return {right.x, clamp_into(right.y, height, area.top, area.bottom())};
      case 1: return {clamp_into(below.x, width, area.left, area.right()), below.y};
      case 2: return {left.x, clamp_into(left.y, height, area.top, area.bottom())};
      default: return {clamp_into(above.x, width, area.left, area.right()), above.y};
    }
  }
  const int cx = taken.left + taken.width / 2, cy = taken.top + taken.height / 2;
  return {cx < area.left + area.width / 2 ? area.right() - width : area.left,
          cy < area.top + area.height / 2 ? area.bottom() - height : area.top};
}

}  // namespace kav::form
