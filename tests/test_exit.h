// How a test program ends: gtest's result, except that a run that passed with skipped
// tests exits with skipped_exit_code, which ctest reports as skipped (SKIP_RETURN_CODE),
// so that a skip is never taken for a pass. scripts/test lists each skip with its reason.
#pragma once

#include <gtest/gtest.h>

namespace qmx::testing {

inline constexpr int skipped_exit_code = 77;

inline int exit_code(int result)
{
    if (result != 0)
        return result;
    return ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? skipped_exit_code : 0;
}

} // namespace qmx::testing
