// The standard-library mutex and the routines before main() and during exit.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "OS.h"
#include "SafeStdLib.h"
#include "StaticInitHost.h"
#include "TestSupport.h"

namespace {

TEST(StaticInit, RoutinesWorkBeforeMain) {
  EXPECT_EQ(gStaticInitRecord.maxCharsInK, 100000u);
  EXPECT_EQ(gStaticInitRecord.snprintfResult, 11);
  EXPECT_STREQ(gStaticInitRecord.text, "before main");
}

TEST(StaticInit, LockTakenBeforeMainIsStillHeld) {
  OSMutex& m = *OS::GetStdLibMutex();
  EXPECT_TRUE(pthread_equal(OSMutexProtocol::HolderOf(m), pthread_self()));
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 1u);
}

TEST(StaticInit, RoutinesWorkWhileTheProcessExits) {
  const ChildResult child = RunInChild([]() OS_NO_THREAD_SAFETY_ANALYSIS {
    // Give back the level taken before main(), so that exit finds the
    // mutex free, as it usually is.
    OS::GetStdLibMutex()->Unlock();
    CHILD_CHECK(OSMutexProtocol::LevelsOf(*OS::GetStdLibMutex()) == 0);
    gUseAtExit = true;
    exit(0);
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out, "exit 7|capped at exit|destructor 100000|");
}

}  // namespace
