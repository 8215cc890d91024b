#include <gtest/gtest.h>

#include "plat/uikit/UIGestureRecognizer.h"

using namespace plat;

TEST(GestureRecognizerTest, ALongPressIsRecognisedOnlyWhenLongAndStillEnough) {
  auto view = std::make_shared<UIView>();
  auto target = std::make_shared<Object>();
  std::vector<UIGestureRecognizerState> sent;
  auto recognizer = std::make_shared<UILongPressGestureRecognizer>();
  recognizer->initWithTarget(target, [&](UIGestureRecognizer& sender) {
    EXPECT_EQ(&sender, recognizer.get());
    sent.push_back(sender.state());
  });
  EXPECT_EQ(recognizer->minimumPressDuration(), 0.5);
  EXPECT_EQ(recognizer->allowableMovement(), 10);
  EXPECT_FALSE(recognizer->simulatePress(1)) << "not on a view";

  view->addGestureRecognizer(recognizer);
  view->addGestureRecognizer(recognizer);
  ASSERT_EQ(view->gestureRecognizers().size(), 1u);
  EXPECT_EQ(recognizer->view(), view);

  recognizer->setMinimumPressDuration(static_cast<double>(0.45f));
  struct Case {
    double seconds, movement;
    bool recognised;
  } cases[] = {{0.44, 0, false}, {0.45f, 0, true}, {2, 10, true}, {2, 10.5, false}};
  for (const Case& c : cases) {
    sent.clear();
    EXPECT_EQ(recognizer->simulatePress(c.seconds, c.movement), c.recognised) << c.seconds << " " << c.movement;
    EXPECT_EQ(sent, c.recognised ? (std::vector<UIGestureRecognizerState>{UIGestureRecognizerState::Began,
                                                                          UIGestureRecognizerState::Ended})
                                 : std::vector<UIGestureRecognizerState>{});
    EXPECT_EQ(recognizer->state(), UIGestureRecognizerState::Possible);
  }

  // The target is not kept: once it is gone, nothing is sent.
  sent.clear();
  target.reset();
  EXPECT_TRUE(recognizer->simulatePress(1));
  EXPECT_TRUE(sent.empty());

  // Moving to another view takes it off the first.
  auto other = std::make_shared<UIView>();
  other->addGestureRecognizer(recognizer);
  EXPECT_TRUE(view->gestureRecognizers().empty());
  other->removeGestureRecognizer(recognizer);
  EXPECT_EQ(recognizer->view(), nullptr);
}
