#include "child.hpp"

#include <gtest/gtest.h>

namespace {

TEST(BothPrograms, ReportOutputThatCannotBeWritten)
{
    const struct {
        const char *program;
        std::string input;
        Output output;
        const char *message;
    } cases[] = {
        {HELLO, "", Output::dev_full, "hello: write error: No space left on device\n"},
        {HELLO, "", Output::closed, "hello: write error: Bad file descriptor\n"},
        {VANTREL, "velmot\n", Output::dev_full, "vantrel: write error: No space left on device\n"},
        {VANTREL, "velmot\n", Output::closed, "vantrel: write error: Bad file descriptor\n"},
        // The prompt's write fails already; a long name is still read whole, one message given.
        {VANTREL, std::string(1 << 20, 'x'), Output::dev_full,
         "vantrel: write error: No space left on device\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const Result result = run(c.program, c.input, {}, c.output);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.status, 1);
    }
}

} // namespace
