// Assertions about automation errors.
#pragma once

#include "core/automation/error.h"

#include <gtest/gtest.h>

// Runs the statement and checks that it throws the automation error of that number.
#define EXPECT_AUTOMATION_ERROR(statement, number)                                                   \
    do {                                                                                             \
        try {                                                                                        \
            statement;                                                                               \
            ADD_FAILURE() << "expected automation error " << (number) << " from: " #statement;       \
        } catch (const ::qmx::AutomationError& error_) {                                             \
            EXPECT_EQ(error_.code(), (number)) << #statement << ": " << error_.what();               \
        }                                                                                            \
    } while (0)
