// Shared by the tests of code that ends the program through fatal_error.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

// The statement ends the program with exit status 1 and one line matching
// regex. The program's one line goes to standard output; the child copies it
// to standard error, where the death test reads it.
#define EXPECT_FATAL(stmt, regex)               \
    EXPECT_EXIT(                                \
        {                                       \
            dup2(STDERR_FILENO, STDOUT_FILENO); \
            stmt;                               \
        },                                      \
        testing::ExitedWithCode(1), regex)
