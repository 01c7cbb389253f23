#include "child.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Hello, WritesTheOneLineWithoutReadingWhateverItsArguments)
{
    const std::vector<std::string> argument_lists[] = {{}, {"--help"}, {"-n", "x", ""}};
    for (const auto &args : argument_lists) {
        SCOPED_TRACE(testing::PrintToString(args));
        // Standard input stays open and empty: a read of it would never return.
        Child child = spawn(HELLO, args);
        expect(collect(child, "", false), {"Hello World!\n", "", 0});
    }
}

} // namespace
