#include "child.hpp"

#include <sys/mman.h>

namespace {

TEST(BothPrograms, WriteTheirOutputOrSayWhyNot)
{
    const int full = open_file("/dev/full", O_WRONLY);
    const int directory = open_file("/", O_RDONLY);
    int gone[2]; // a pipe whose reader is gone
    check(pipe2(gone, O_CLOEXEC) == 0 && close(gone[0]) == 0, "pipe2");
    const int file = memfd_create("output", MFD_CLOEXEC);
    check(file >= 0, "memfd_create");
    const std::string prompt = "\x1b[2J\x1b[1;1HHi, what's your name?\n";
    const std::string hello = "hello: write error: ";
    const std::string vantrel = "vantrel: write error: ";
    const std::string too_large = vantrel + "File too large\n";
    const Expected greeting = {"Hello World!\n", "", 0};
    const struct {
        const char *program;
        Streams streams;
        int file_size;     // the limit on the size of a file the program writes, 0 for none
        std::string input; // left open
        Expected expected; // its output the bytes that went out to the file, if any
        std::vector<std::string> args = {};
    } cases[] = {
        // hello reads nothing: standard input stays open and empty, as in every row.
        {HELLO, {}, 0, "", greeting},
        {HELLO, {}, 0, "", greeting, {"--help"}},
        {HELLO, {}, 0, "", greeting, {"-n", "x", ""}},
        {HELLO, {piped, full}, 0, "", {"", hello + "No space left on device\n", 1}},
        {HELLO, {piped, closed}, 0, "", {"", hello + "Bad file descriptor\n", 1}},
        // A program whose reader is gone is ended by SIGPIPE, as others are, unless ignored.
        {HELLO, {piped, gone[1]}, 0, "", {"", "", 128 + SIGPIPE}},
        {HELLO, {piped, gone[1], true}, 0, "", {"", hello + "Broken pipe\n", 1}},
        // Part of a write goes out to the file before its size limit.
        {HELLO, {piped, file, true}, 5, "", {"Hello", hello + "File too large\n", 1}},
        // The prompt cannot be written, so vantrel must not wait for a name.
        {VANTREL, {piped, full}, 0, "", {"", vantrel + "No space left on device\n", 1}},
        {VANTREL, {piped, closed}, 0, "", {"", vantrel + "Bad file descriptor\n", 1}},
        {VANTREL, {piped, gone[1]}, 0, "", {"", "", 128 + SIGPIPE}},
        {VANTREL, {piped, gone[1], true}, 0, "", {"", vantrel + "Broken pipe\n", 1}},
        {VANTREL, {piped, file, true}, 20, "", {prompt.substr(0, 20), too_large, 1}},
        // Nor read input that fails, and report that failure instead.
        {VANTREL, {directory, full}, 0, "", {"", vantrel + "No space left on device\n", 1}},
        // The answer cannot be written: none of it, or only its start.
        {VANTREL, {piped, file, true}, 32, "velmot\n", {prompt, too_large, 1}},
        {VANTREL, {piped, file, true}, 46, "velmot\n", {prompt + "That's a great", too_large, 1}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.program << ", row " << &c - cases);
        std::vector<std::string> limit;
        if (c.file_size != 0)
            limit = {"prlimit", "--fsize=" + std::to_string(c.file_size)};
        Child child = spawn(c.program, c.args, c.streams, limit);
        Result result = collect(child, c.input, false);
        if (c.file_size != 0) {
            result.out.resize(64);
            const ssize_t size = pread(file, result.out.data(), result.out.size(), 0);
            check(size >= 0 && ftruncate(file, 0) == 0 && lseek(file, 0, SEEK_SET) == 0, "file");
            result.out.resize(static_cast<std::size_t>(size));
        }
        expect(result, c.expected);
    }
    for (const int fd : {full, directory, gone[1], file})
        close(fd);
}

} // namespace
