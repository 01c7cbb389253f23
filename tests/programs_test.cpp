#include "child.hpp"

#include <elf.h>
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

Expected praise(const std::string &name, const std::string &before = reset_and_prompt)
{
    return {.out = before + praise_of(name)};
}

Expected insult(const std::string &name)
{
    return {.out = reset_and_prompt + insult_of(name)};
}

Expected failure(const std::string &line)
{
    return {.out = reset_and_prompt, .err = "vantrel: " + line + "\n", .status = 1};
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

TEST(Vantrel, AnswersEachInputWithTheExactDialogue)
{
    const std::string long_word(3 << 20, 'x');
    const int directory = open_file("/", O_RDONLY);
    const int write_only = open_file("/dev/null", O_WRONLY);
    const int reset = reset_connection();
    // The terminal turns each line feed the program writes into CR LF, and echoes the typing.
    const std::string screen = "\x1b[2J\x1b[1;1HHi, what's your name?\r\n";
    check_rows({
        {"the name", {.input = {"Velmot\n"}}, praise("Velmot")},
        {"the name in lower case", {.input = {"velmot\n"}}, praise("velmot")},
        {"capitals", {.input = {"VELMOT\n"}}, insult("VELMOT")},
        {"the last letter a capital", {.input = {"VelmoT\n"}}, insult("VelmoT")},
        {"a longer word", {.input = {"Velmot!\n"}}, insult("Velmot!")},
        {"a shorter word", {.input = {"Velmo\n"}}, insult("Velmo")},
        {"leading whitespace", {.input = {" \t\v\f\r\n\n  velmot\n"}}, praise("velmot")},
        {"leading whitespace beyond a read",
         {.input = {std::string(100 << 10, ' ') + "velmot"}},
         praise("velmot")},
        {"a CR LF line end", {.input = {"Velmot\r\n"}}, praise("Velmot")},
        {"a tab after the word", {.input = {"velmot\tx\n"}}, praise("velmot")},
        {"a vertical tab after the word", {.input = {"velmot\vx"}}, praise("velmot")},
        {"a form feed after the word", {.input = {"velmot\fx"}}, praise("velmot")},
        {"a lone CR after the word", {.input = {"velmot\rx"}}, praise("velmot")},
        {"no final line feed", {.input = {"velmot"}}, praise("velmot")},
        {"empty input", {}, insult("")},
        {"whitespace only", {.input = {" \t\r\n\n"}}, insult("")},
        {"a second word and line", {.input = {"Velmot is\nhere\n"}}, praise("Velmot")},
        {"UTF-8 letters", {.input = {"V\xc3\xa9lmot\n"}}, insult("V\xc3\xa9lmot")},
        // 0xA0 is a space but for its top bit; a byte order mark is no whitespace either.
        {"a byte whose low bits are a space",
         {.input = {"V\xc3\xa0lmot\n"}},
         insult("V\xc3\xa0lmot")},
        {"a byte order mark", {.input = {"\xef\xbb\xbfvelmot\n"}}, insult("\xef\xbb\xbfvelmot")},
        {"an ESC byte", {.input = {"vel\x1bmot\n"}}, insult("vel\x1bmot")},
        {"a NUL byte after the name", {.input = {"Velmot\0\n"s}}, insult("Velmot\0"s)},
        {"a word of several MiB", {.input = {long_word}}, insult(long_word)},
        {"a UTF-8 locale and a dumb terminal, an em space after the word",
         {.input = {"velmot\u2003x\n"}, .wrapper = {"env", "TERM=dumb", "LC_ALL=C.UTF-8"}},
         insult("velmot\u2003x")},
        {"the rest of the line to come",
         {.input = {"Velmot and more\n"}, .input_left_open = true},
         praise("Velmot")},
        {"the line feed to come",
         {.input = {"Velmot "}, .input_left_open = true},
         praise("Velmot")},
        {"closed standard input", {.in = closed}, insult("")},
        {"a directory", {.in = directory}, failure("read error: Is a directory")},
        {"input open for writing only",
         {.in = write_only},
         failure("read error: Bad file descriptor")},
        {"a connection reset after part of the word",
         {.in = reset},
         failure("read error: Connection reset by peer")},
        // Non-blocking input is waited for, and the word goes on after a pause.
        {"the word split",
         {.input = {"vel", "mot\n"}, .nonblocking_input = true},
         praise("velmot")},
        {"whitespace, then the word",
         {.input = {" \n\t", "Velmot\n"}, .nonblocking_input = true},
         praise("Velmot")},
        {"a pause at the end of the word",
         {.input = {"vel", "mot", "\nBob\n"}, .nonblocking_input = true},
         praise("velmot")},
        {"the word split, no line feed",
         {.input = {"Vel", "mot"}, .nonblocking_input = true},
         praise("Velmot")},
        // The wait then sees the pipe hung up, and no input to read.
        {"the writer gone during a pause",
         {.input = {"Velmot"}, .nonblocking_input = true},
         praise("Velmot")},
        {"the last piece and the end together",
         {.input = {"vel", "mot"}, .input_ends_with_last = true, .nonblocking_input = true},
         praise("velmot")},
#ifndef ADDRESS_SANITIZER // whose type checks probe memory through a pipe of their own
        // Without descriptors to open, poll(2) fails: the wait after the first piece of the word
        // cannot be made, and vantrel must stop instead of trying again.
        {"no wait possible",
         {.input = {"vel"},
          .nonblocking_input = true,
          .once_waiting =
              [](pid_t pid) {
                  const rlimit none{0, 0};
                  check(prlimit(pid, RLIMIT_NOFILE, &none, nullptr) == 0, "prlimit");
              }},
         failure("read error: Invalid argument")},
#endif
        // Interrupted at the prompt, vantrel ends by the signal, as programs do.
        {"SIGINT at the prompt",
         {.input_left_open = true, .once_waiting = [](pid_t pid) { kill(pid, SIGINT); }},
         {.out = reset_and_prompt, .signal = SIGINT}},
        {"SIGTERM at the prompt",
         {.input_left_open = true, .once_waiting = [](pid_t pid) { kill(pid, SIGTERM); }},
         {.out = reset_and_prompt, .signal = SIGTERM}},
        // At a terminal, which is left in the mode it was found in.
        {"a terminal",
         {.input = {"velmot\n"}, .terminal = true},
         praise("velmot", screen + "velmot\r\n")},
        {"typing ahead of the prompt",
         {.terminal = true, .typed_ahead = "velmot\n"},
         praise("velmot", "velmot\r\n" + screen)},
    });
    for (const int fd : {directory, write_only, reset})
        close(fd);
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
    // An emulator that cannot cap its guest's memory fails to run any program so capped, and one
    // that takes the cap without applying it lets the word be answered, as no cap would.
    const Result hello = run({.program = HELLO, .wrapper = cap}, {});
    if (hello.status != 0)
        GTEST_SKIP() << "the emulator cannot run a program in capped memory: " << hello.err;
    const std::string word(64 << 20, 'x');
    const Result result = run({.input = {word}, .wrapper = cap}, failure("memory exhausted"));
    if (result.status == 0 && result.out == insult(word).out)
        GTEST_SKIP() << "the cap did not hold: the word of 64 MiB was answered";
    expect(result, failure("memory exhausted"));
    check_rows({{"a short name", {.input = {"velmot\n"}, .wrapper = cap}, praise("velmot")}});
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
    const Expected too_long = failure("name too long");
    const Result result = run({.in = word}, too_long);
    // Memory may run out first, as where a process has 2 GiB to map (32-bit MIPS) or an emulator
    // gives it less: the last steps of the string's growth need 1.5 GiB and 2 GiB. The program
    // must then have read at least a quarter of the longest word.
    const off_t taken = lseek(word, 0, SEEK_CUR);
    const bool memory_first = result.err == "vantrel: memory exhausted\n" && taken >= 1 << 28;
    SCOPED_TRACE(std::to_string(taken) + " bytes of the word read" +
                 (memory_first ? ", then memory ran out" : ""));
    expect(result, memory_first ? failure("memory exhausted") : too_long);
    close(word);
}

} // namespace
