// The host thread is a single-threaded apartment, as in a script host or a form.
#include "test_exit.h"

#include <objbase.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = RUN_ALL_TESTS();
    CoUninitialize();
    return qmx::testing::exit_code(result);
}
