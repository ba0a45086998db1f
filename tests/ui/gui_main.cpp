// The GUI tests' entry: one application object for the whole run, on Qt's offscreen platform
// unless another one is asked for.
#include "platform/application.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    platform::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
