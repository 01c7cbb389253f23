#include "child.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Hello, WritesTheOneLineWhateverItsArguments)
{
    const std::vector<std::string> argument_lists[] = {{}, {"--help"}, {"-n", "x", ""}};
    for (const auto &args : argument_lists) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Result result = run(HELLO, "", args);
        EXPECT_EQ(result.out, "Hello World!\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

TEST(Hello, EndsWithoutWaitingForInput)
{
    Child child = spawn(HELLO);
    // Standard input stays open and empty: a read of it would never return.
    const Result result = collect(child, "", false);
    EXPECT_EQ(result.out, "Hello World!\n");
    EXPECT_EQ(result.status, 0);
}

} // namespace
