#include "child.hpp"

#include <gtest/gtest.h>

namespace {

TEST(BothPrograms, ReportOutputThatCannotBeWritten)
{
    const char *const full = "vantrel: write error: No space left on device\n";
    const struct {
        const char *program;
        std::string input;
        const char *message;
        Output output;
        Input from;
    } cases[] = {
        {HELLO, "", "hello: write error: No space left on device\n", Output::dev_full, Input::pipe},
        {HELLO, "", "hello: write error: Bad file descriptor\n", Output::closed, Input::pipe},
        {VANTREL, "velmot\n", full, Output::dev_full, Input::pipe},
        {VANTREL, "velmot\n", "vantrel: write error: Bad file descriptor\n", Output::closed,
         Input::pipe},
        // The prompt's write fails already; a long name is still read whole, one message given.
        {VANTREL, std::string(1 << 20, 'x'), full, Output::dev_full, Input::pipe},
        // A read that fails after the write must not lend the message its reason.
        {VANTREL, "", full, Output::dev_full, Input::closed},
        {VANTREL, "", full, Output::dev_full, Input::directory},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const Result result = run(c.program, c.input, {}, c.output, c.from);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.status, 1);
    }
}

} // namespace
