#include "child.hpp"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

TEST(BothPrograms, ReportOutputThatCannotBeWritten)
{
    const int full = open_file("/dev/full", O_WRONLY);
    const int directory = open_file("/", O_RDONLY);
    int gone[2]; // a pipe whose reader is gone
    check(pipe2(gone, O_CLOEXEC) == 0 && close(gone[0]) == 0, "pipe2");
    const int file = memfd_create("output", MFD_CLOEXEC);
    check(file >= 0, "memfd_create");
    const std::string prompt = "\x1b[2J\x1b[1;1HHi, what's your name?\n";
    const char *const no_space = "vantrel: write error: No space left on device\n";
    const char *const too_large = "vantrel: write error: File too large\n";
    const struct {
        const char *program;
        Streams streams;
        std::string input; // left open
        Expected expected; // its output the bytes that went out to the file, if any
        int file_size = 0; // the limit on the size of files the program writes, if any
    } cases[] = {
        {HELLO, {piped, full}, "", {"", "hello: write error: No space left on device\n", 1}},
        {HELLO, {piped, closed}, "", {"", "hello: write error: Bad file descriptor\n", 1}},
        // As other programs are, one whose reader is gone is ended by SIGPIPE, unless ignored.
        {HELLO, {piped, gone[1]}, "", {"", "", 128 + SIGPIPE}},
        {HELLO, {piped, gone[1], true}, "", {"", "hello: write error: Broken pipe\n", 1}},
        // Part of a write goes out to the file before the limit.
        {HELLO, {piped, file, true}, "", {"Hello", "hello: write error: File too large\n", 1}, 5},
        // The prompt cannot be written, so vantrel must not wait for a name: standard input
        // stays open and empty.
        {VANTREL, {piped, full}, "", {"", no_space, 1}},
        {VANTREL, {piped, closed}, "", {"", "vantrel: write error: Bad file descriptor\n", 1}},
        {VANTREL, {piped, gone[1]}, "", {"", "", 128 + SIGPIPE}},
        {VANTREL, {piped, gone[1], true}, "", {"", "vantrel: write error: Broken pipe\n", 1}},
        {VANTREL, {piped, file, true}, "", {prompt.substr(0, 20), too_large, 1}, 20},
        // Nor read input that fails, and report that failure instead.
        {VANTREL, {directory, full}, "", {"", no_space, 1}},
        // The answer cannot be written: none of it, or only its start.
        {VANTREL, {piped, file, true}, "velmot\n", {prompt, too_large, 1}, 32},
        {VANTREL, {piped, file, true}, "velmot\n", {prompt + "That's a great", too_large, 1}, 46},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.err + " with " + std::to_string(c.file_size) + " bytes at most");
        Child child =
            c.file_size == 0
                ? spawn(c.program, {}, c.streams)
                : spawn("prlimit", limited(c.program, "--fsize=" + std::to_string(c.file_size)),
                        c.streams);
        Result result = collect(child, c.input, false);
        if (c.file_size != 0) {
            result.out.resize(64);
            const ssize_t size = pread(file, result.out.data(), result.out.size(), 0);
            check(size >= 0 && ftruncate(file, 0) == 0 && lseek(file, 0, SEEK_SET) == 0, "file");
            result.out.resize(static_cast<std::size_t>(size));
        }
        expect(result, c.expected);
    }
    close(full);
    close(directory);
    close(gone[1]);
    close(file);
}

} // namespace
