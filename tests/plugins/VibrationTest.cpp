// A vibration is the vibrate system sound; the page hears nothing back.
#include <gtest/gtest.h>

#include "VibrationPlugin.h"
#include "plat/audiotoolbox/AudioServices.h"
#include "support/PluginTest.h"

using plat::Array;

class Vibration : public harbor::testing::PluginTest {};

TEST_F(Vibration, VibratePlaysTheVibrateSoundAndAnswersNothing) {
  harbor::registerVibrationPlugin();
  plat::SystemSoundRecorder::reset();
  ASSERT_TRUE(createPlugin("HBRVibration", "Vibration"));
  exec("Vibration", "vibrate", Array{});
  exec("Vibration", "vibrate", Array{1000, Array{100, 200}});
  auto played = plat::SystemSoundRecorder::played();
  ASSERT_EQ(played.size(), 2u);
  EXPECT_EQ(played[0].soundID, plat::kSystemSoundID_Vibrate);
  EXPECT_EQ(played[1].soundID, plat::kSystemSoundID_Vibrate);
  advance(1);
  EXPECT_TRUE(takeCallbacks().empty());
  plat::SystemSoundRecorder::reset();
}
