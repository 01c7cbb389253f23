#include "child.hpp"

#include <cstdlib>
#include <elf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>

using namespace std::string_literals;

// Clang tells of AddressSanitizer by __has_feature, GCC by __SANITIZE_ADDRESS__.
#ifdef __has_feature
#if __has_feature(address_sanitizer)
#define ADDRESS_SANITIZER
#endif
#endif
#ifdef __SANITIZE_ADDRESS__
#define ADDRESS_SANITIZER
#endif

namespace {

const std::string reset_and_prompt = "\x1b[2J\x1b[1;1HHi, what's your name?\n";

Expected praise(const std::string &name)
{
    return {reset_and_prompt + "That's a great name, " + name +
                ", you should be proud of yourself.",
            "", 0};
}

Expected insult(const std::string &name)
{
    return {reset_and_prompt + "That's a stupid fucking name, " + name +
                ", you should be ashamed of yourself.",
            "", 0};
}

Expected failure(const std::string &line)
{
    return {reset_and_prompt, "vantrel: " + line + "\n", 1};
}

// A socket over which "Velm" came, and then a reset: its peer closed with input left unread.
int reset_connection()
{
    int ends[2];
    check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "socketpair");
    check(write(ends[0], "Velm", 4) == 4 && write(ends[1], "x", 1) == 1, "write");
    close(ends[0]);
    return ends[1];
}

struct Case {
    const char *what;
    std::string input;
    Expected expected;
    int from = piped;
    bool input_left_open = false; // the answer must come without the end of input
};

TEST(Vantrel, AnswersEachInputWithTheExactDialogue)
{
    const std::string long_word(3 << 20, 'x');
    const Case cases[] = {
        {"the name", "Velmot\n", praise("Velmot")},
        {"the name in lower case", "velmot\n", praise("velmot")},
        {"capitals", "VELMOT\n", insult("VELMOT")},
        {"the last letter a capital", "VelmoT\n", insult("VelmoT")},
        {"a longer word", "Velmot!\n", insult("Velmot!")},
        {"a shorter word", "Velmo\n", insult("Velmo")},
        {"leading whitespace", " \t\v\f\r\n\n  velmot\n", praise("velmot")},
        {"leading whitespace beyond a read", std::string(100 << 10, ' ') + "velmot",
         praise("velmot")},
        {"a CR LF line end", "Velmot\r\n", praise("Velmot")},
        {"no final line feed", "velmot", praise("velmot")},
        {"empty input", "", insult("")},
        {"whitespace only", " \t\r\n\n", insult("")},
        {"a second word and line", "Velmot is\nhere\n", praise("Velmot")},
        {"a tab after the word", "velmot\tx\n", praise("velmot")},
        {"UTF-8 letters", "V\xc3\xa9lmot\n", insult("V\xc3\xa9lmot")},
        {"a NUL byte after the name", "Velmot\0\n"s, insult("Velmot\0"s)},
        {"a word of several MiB", long_word, insult(long_word)},
        {"closed standard input", "", insult(""), closed},
        {"the rest of the line to come", "Velmot and more\n", praise("Velmot"), piped, true},
        {"the line feed to come", "Velmot ", praise("Velmot"), piped, true},
        {"a directory", "", failure("read error: Is a directory"), open_file("/", O_RDONLY)},
        {"a connection reset after part of the word", "",
         failure("read error: Connection reset by peer"), reset_connection()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Child child = spawn(VANTREL, {}, {c.from});
        // The prompt is out before the program waits for input.
        EXPECT_EQ(collect(child, "", false, reset_and_prompt.size()).out, reset_and_prompt);
        expect(collect(child, c.input, !c.input_left_open), c.expected);
        if (c.from >= 0)
            close(c.from);
    }
}

// Runs vantrel on a non-blocking pipe, written a piece at a time, each once the last is taken,
// and closed once the last is. With no_descriptors set, the child may open no descriptors once
// it first waits (emulated, the emulator can open none either: it is the program's process).
Result run_in_pieces(const std::vector<std::string> &pieces, bool no_descriptors = false)
{
    int input[2];
    check(pipe2(input, O_CLOEXEC | O_NONBLOCK) == 0, "pipe2");
    Child child = spawn(VANTREL, {}, {input[0]});
    close(input[0]);
    // Waits until the child has taken all that the pipe holds and no longer runs: it then waits
    // for more input, or has ended. False once the child is given up on.
    const auto idle = [&child, &input] {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (int unread = 0;; usleep(1000)) {
            check(ioctl(input[1], FIONREAD, &unread) == 0, "ioctl");
            if (unread == 0 && state(child.pid) != 'R')
                return true;
            if (std::chrono::steady_clock::now() > deadline) {
                give_up(child.pid, "taking its input and waiting for more (" +
                                       std::to_string(unread) + " bytes unread)");
                return false;
            }
        }
    };
    // Once the prompt is out, the program runs, past the loading of an emulator's libraries.
    collect(child, "", false, reset_and_prompt.size());
    if (no_descriptors && idle()) {
        const rlimit none{0, 0};
        check(prlimit(child.pid, RLIMIT_NOFILE, &none, nullptr) == 0, "prlimit");
    }
    for (const std::string &piece : pieces) {
        if (!idle())
            break;
        EXPECT_EQ(write(input[1], piece.data(), piece.size()), piece.size());
    }
    idle();
    close(input[1]);
    return collect(child);
}

TEST(Vantrel, WaitsForNonBlockingInputAndGoesOnWithTheWord)
{
    const struct {
        const char *what;
        std::vector<std::string> pieces;
        Expected expected;
    } cases[] = {
        {"the word split", {"vel", "mot\n"}, praise("velmot")},
        {"whitespace, then the word", {" \n\t", "Velmot\n"}, praise("Velmot")},
        {"a pause at the end of the word", {"vel", "mot", "\nBob\n"}, praise("velmot")},
        {"the word split, no line feed", {"Vel", "mot"}, praise("Velmot")},
        // The wait then sees the pipe hung up, and no input to read.
        {"the writer gone during a pause", {"Velmot"}, praise("Velmot")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expect(run_in_pieces(c.pieces), c.expected);
    }
}

TEST(Vantrel, ReportsAWaitForInputThatFails)
{
#ifdef ADDRESS_SANITIZER
    // The sanitize preset adds UndefinedBehaviorSanitizer, whose type checks probe memory
    // through a pipe of their own.
    GTEST_SKIP() << "UndefinedBehaviorSanitizer needs descriptors of its own";
#endif
    // Without descriptors to open, poll(2) fails: the wait after the first piece of the word
    // cannot be made, and vantrel must stop instead of trying again.
    expect(run_in_pieces({"vel"}, true), failure("read error: Invalid argument"));
}

TEST(Vantrel, StopsWhenMemoryRunsOutReadingTheName)
{
#ifdef ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer cannot run in a capped address space";
#endif
    // A word of 64 MiB, all the memory the program may map. Under emulation that is the emulator's
    // reserved address space: a limit on the emulator's own would stop the emulator.
#ifdef EMULATOR
    const std::vector<std::string> cap = {"env", "QEMU_RESERVED_VA=67108864"};
#else
    const std::vector<std::string> cap = {"prlimit", "--as=67108864"};
#endif
    // An emulator that cannot cap its guest's memory fails to run any program so capped.
    Child hello = spawn(HELLO, {}, {}, cap);
    if (collect(hello).status != 0)
        GTEST_SKIP() << "the emulator cannot run a program in capped memory: " << hello.result.err;
    Child child = spawn(VANTREL, {}, {}, cap);
    expect(collect(child, std::string(64 << 20, 'x')), failure("memory exhausted"));
}

TEST(Vantrel, RefusesAWordLongerThanTheStringCanHold)
{
    std::ifstream program(VANTREL, std::ios::binary);
    Elf32_Ehdr header{};
    ASSERT_TRUE(program.read(reinterpret_cast<char *>(&header), sizeof header));
    if (header.e_ident[EI_CLASS] != ELFCLASS32)
        GTEST_SKIP() << "only a 32-bit program has strings shorter than the memory for them";
    // A file of 1.1 GiB of NUL bytes, which are not whitespace: one word longer than the
    // 1 GiB - 1 bytes that a string can hold, with no memory of its own.
    const int word = memfd_create("word", MFD_CLOEXEC);
    ASSERT_GE(word, 0);
    ASSERT_EQ(ftruncate(word, off_t{1} << 30 | off_t{100} << 20), 0);
    Child child = spawn(VANTREL, {}, {word});
    // Reading a file, the program shows nothing for seconds. A 32-bit MIPS process has 2 GiB to
    // map, too little for the string to grow from 512 MiB to 1 GiB: memory runs out first.
    expect(collect(child, "", true, std::string::npos, std::chrono::seconds(30)),
           failure(header.e_machine == EM_MIPS ? "memory exhausted" : "name too long"));
    close(word);
}

TEST(Vantrel, LeavesTheRestOfAFileToTheNextRun)
{
    const int names = memfd_create("names", MFD_CLOEXEC);
    ASSERT_GE(names, 0);
    ASSERT_EQ(pwrite(names, "velmot\n\nBob and more\n", 21, 0), 21);
    // Two runs on the one open file: each takes its word, and the offset stands just past it.
    const struct {
        Expected expected;
        off_t offset;
    } runs[] = {{praise("velmot"), 6}, {insult("Bob"), 11}};
    for (const auto &r : runs) {
        Child child = spawn(VANTREL, {}, {names});
        expect(collect(child), r.expected);
        EXPECT_EQ(lseek(names, 0, SEEK_CUR), r.offset);
    }
    close(names);
}

TEST(Vantrel, ClearsTheTerminalAndPromptsBeforeReading)
{
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0, "posix_openpt");
    const int device = open_file(ptsname(terminal), O_RDWR | O_NOCTTY);
    Child child = spawn(VANTREL, {}, {device, device});
    close(device);
    child.out = terminal;
    // The terminal turns each line feed the program writes into CR LF, and echoes the typing.
    const std::string screen = "\x1b[2J\x1b[1;1HHi, what's your name?\r\n";
    EXPECT_EQ(collect(child, "", false, screen.size()).out, screen);
    ASSERT_EQ(write(terminal, "velmot\n", 7), 7);
    expect(collect(child),
           {screen + "velmot\r\nThat's a great name, velmot, you should be proud of yourself.", "",
            0});
}

TEST(BothPrograms, IgnoreTheirArguments)
{
    const std::vector<std::string> argument_lists[] = {
        {"--help"}, {"-n", "x", ""}, {"Velmot", "-"}};
    for (const auto &args : argument_lists) {
        SCOPED_TRACE(testing::PrintToString(args));
        Child hello = spawn(HELLO, args);
        expect(collect(hello), {"Hello World!\n", "", 0});
        Child vantrel = spawn(VANTREL, args);
        expect(collect(vantrel, "velmot\n"), praise("velmot"));
    }
}

TEST(BothPrograms, WriteTheirOutputOrSayWhyNot)
{
    const int full = open_file("/dev/full", O_WRONLY);
    const int directory = open_file("/", O_RDONLY);
    int gone[2]; // a pipe whose reader is gone
    check(pipe2(gone, O_CLOEXEC) == 0 && close(gone[0]) == 0, "pipe2");
    const int file = memfd_create("output", MFD_CLOEXEC);
    check(file >= 0, "memfd_create");
    const std::string hello = "hello: write error: ";
    const std::string vantrel = "vantrel: write error: ";
    const std::string too_large = vantrel + "File too large\n";
    const std::string &prompt = reset_and_prompt;
    const struct {
        const char *program;
        Streams streams;
        int file_size;     // the limit on the size of a file the program writes, 0 for none
        std::string input; // left open
        Expected expected; // its output the bytes that went out to the file, if any
    } cases[] = {
        // hello reads nothing: standard input stays open and empty, as in every row.
        {HELLO, {}, 0, "", {"Hello World!\n", "", 0}},
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
        Child child = spawn(c.program, {}, c.streams, limit);
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
