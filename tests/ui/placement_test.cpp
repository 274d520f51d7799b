// Where a check that lasts shows its window: beside the monitor, never over
// its buttons and alerts, even on a screen too small to hold both whole.
#include <gtest/gtest.h>

#include "form/placement.h"

namespace kav::form {
namespace {

bool overlaps(const Box& a, const Box& b) {
  return a.left < b.right() && b.left < a.right() && a.top < b.bottom() && b.top < a.bottom();
}

TEST(PlaceBeside, BesideTheMonitorWhereItFitsElsePastTheScreensEdgeButNeverOverIt) {
  const Box screen{0, 0, 1920, 1080};
  const Box monitor{100, 100, 540, 460};
  // Room on the right: there, level with the monitor.
  EXPECT_EQ(place_beside(monitor, screen, 540, 330), (Spot{648, 100}));
  // A monitor at the right edge: below it, then left of it.
  EXPECT_EQ(place_beside({1370, 100, 540, 460}, screen, 540, 330), (Spot{1370, 568}));
  EXPECT_EQ(place_beside({1370, 600, 540, 460}, screen, 540, 330), (Spot{822, 600}));

  // 1024 x 768 with the monitor in the middle (as Qt and Wine place it): no
  // side holds the window whole; it stands on the right, reaching past the
  // edge, covering nothing of the monitor.
  const Box small{0, 0, 1024, 768};
  const Box centred{243, 155, 538, 465};
  const Spot at = place_beside(centred, small, 540, 330);
  EXPECT_EQ(at.x, centred.right() + kPlacementGap);
  EXPECT_FALSE(overlaps({at.x, at.y, 540, 330}, centred));
  EXPECT_LE(at.y + 330, small.bottom());  // on the screen from top to bottom

  // A monitor that fills the screen leaves no side: the corner farthest from it.
  EXPECT_EQ(place_beside({0, 0, 1000, 760}, small, 540, 330), (Spot{484, 438}));
}

}  // namespace
}  // namespace kav::form
