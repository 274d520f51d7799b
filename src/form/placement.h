// Where a form that works in the background (a check that lasts) stands:
// beside the forms open below it, on their screen, covering none of them.
// Geometry only; each window runtime measures its windows and moves its own.
#pragma once

namespace kav::form {

struct Box {
  int left = 0, top = 0, width = 0, height = 0;
  int right() const { return left + width; }    // exclusive
  int bottom() const { return top + height; }  // exclusive
};

struct Spot {
  int x = 0, y = 0;
  bool operator==(const Spot&) const = default;
};

// The top-left corner for a window of `width` x `height` beside `taken`
// (the windows below it) within `area` (their screen's work area): right
// of them, else below, else left, else above, where it fits whole. Where it
// fits nowhere whole, it still stands beside them on the side with the most
// room, reaching past the screen's edge, so that the operator's buttons and
// alerts stay uncovered; only when no side has kMinVisible pixels of room
// does it take the screen's corner farthest from them.
Spot place_beside(const Box& taken, const Box& area, int width, int height);

inline constexpr int kPlacementGap = 8;
inline constexpr int kMinVisible = 120;

}  // namespace kav::form
