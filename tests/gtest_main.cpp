#include "test_exit.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return qmx::testing::exit_code(RUN_ALL_TESTS());
}
