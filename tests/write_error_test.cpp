#include "child.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(BothPrograms, ReportOutputThatCannotBeWritten)
{
    const int full = open_file("/dev/full", O_WRONLY);
    const int directory = open_file("/", O_RDONLY);
    const char *const no_space = "vantrel: write error: No space left on device\n";
    const struct {
        const char *program;
        const char *message;
        Streams streams;
    } cases[] = {
        {HELLO, "hello: write error: No space left on device\n", {piped, full}},
        {HELLO, "hello: write error: Bad file descriptor\n", {piped, closed}},
        // The prompt cannot be written, so vantrel must not wait for a name: standard input
        // stays open and empty.
        {VANTREL, no_space, {piped, full}},
        {VANTREL, "vantrel: write error: Bad file descriptor\n", {piped, closed}},
        // Nor read input that fails, and report that failure instead.
        {VANTREL, no_space, {directory, full}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Child child = spawn(c.program, {}, c.streams);
        const Result result = collect(child, "", false);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.err_writes, 1);
        EXPECT_EQ(result.status, 1);
    }
    close(full);
    close(directory);
}

} // namespace
