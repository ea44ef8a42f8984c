// Test entry: the engine (Qt, offscreen) runs for every test executable, since the
// program's modules talk to the panel and the port through it.
#include <gtest/gtest.h>

#include "platform/panel/panel.h"

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!StartEngine(argc, argv))
        return 1;
    int result = RUN_ALL_TESTS();
    StopEngine();
    return result;
}
