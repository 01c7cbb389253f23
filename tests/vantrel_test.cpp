#include "child.hpp"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string praise(const std::string &name)
{
    return "That's a great name, " + name + ", you should be proud of yourself.";
}

std::string insult(const std::string &name)
{
    return "That's a stupid fucking name, " + name + ", you should be ashamed of yourself.";
}

struct Case {
    const char *what;
    std::string input;
    std::string verdict;
    int from = piped;
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
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = run(VANTREL, c.input, {}, {c.from});
        EXPECT_TRUE(result.out == reset_and_prompt + c.verdict)
            << "output: " << testing::PrintToString(result.out.substr(0, 200));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

TEST(Vantrel, IgnoresItsArguments)
{
    const Result result = run(VANTREL, "velmot\n", {"--help", "Velmot", "-"});
    EXPECT_EQ(result.out, reset_and_prompt + praise("velmot"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

// The words that start vantrel with `limit` given to the program (prlimit or env) before them.
std::vector<std::string> limited(const std::string &limit)
{
    std::vector<std::string> words = command_line(VANTREL);
    words.insert(words.begin(), limit);
    return words;
}

TEST(Vantrel, StopsWhenMemoryRunsOutReadingTheName)
{
#ifdef ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer cannot run in a capped address space";
#endif
    // A word as long as all the memory the program may map. Under emulation that is the
    // emulator's reserved address space: a limit on the emulator's own would stop the emulator.
    const std::string cap = std::to_string(64 << 20);
#ifdef EMULATOR
    const Result result =
        run("env", std::string(64 << 20, 'x'), limited("QEMU_RESERVED_VA=" + cap));
#else
    const Result result = run("prlimit", std::string(64 << 20, 'x'), limited("--as=" + cap));
#endif
    EXPECT_TRUE(result.out == reset_and_prompt)
        << "output: " << testing::PrintToString(result.out.substr(0, 200));
    EXPECT_EQ(result.err, "vantrel: memory exhausted\n");
    EXPECT_EQ(result.err_writes, 1);
    EXPECT_EQ(result.status, 1);
}

TEST(Vantrel, RefusesAWordLongerThanTheStringCanHold)
{
    if (sizeof(std::size_t) > 4)
        GTEST_SKIP() << "only where size_t has 32 bits is a string shorter than the memory for it";
    // A file of NUL bytes, which are not whitespace: one word, a byte longer than the string's
    // greatest length, with no memory of its own.
    const int word = memfd_create("word", MFD_CLOEXEC);
    ASSERT_GE(word, 0);
    ASSERT_EQ(ftruncate(word, static_cast<off_t>(std::string().max_size()) + 1), 0);
    Child child = spawn(VANTREL, {}, {word});
    // Reading a file, the program shows the test nothing for as long as the reading takes.
    const Result result = collect(child, "", true, std::chrono::seconds(30));
    close(word);
    EXPECT_EQ(result.out, reset_and_prompt);
    EXPECT_EQ(result.err, "vantrel: name too long\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Vantrel, ReportsAnAnswerThatCannotBeWritten)
{
    // Standard output, a file, takes the 32 bytes of the screen reset and prompt, then no more.
    std::signal(SIGXFSZ, SIG_IGN);
    const int file = memfd_create("output", MFD_CLOEXEC);
    ASSERT_GE(file, 0);
    const Result result = run("prlimit", "velmot\n", limited("--fsize=32"), {piped, file});
    std::signal(SIGXFSZ, SIG_DFL);
    std::string written(64, '\0');
    written.resize(static_cast<std::size_t>(pread(file, written.data(), written.size(), 0)));
    close(file);
    EXPECT_EQ(written, reset_and_prompt);
    EXPECT_EQ(result.err, "vantrel: write error: File too large\n");
    EXPECT_EQ(result.err_writes, 1);
    EXPECT_EQ(result.status, 1);
}

// A connection on the loopback address over which `sent` came, then a reset by the peer.
int reset_connection(std::string_view sent)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(listener >= 0, "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto *const name = reinterpret_cast<sockaddr *>(&address);
    check(bind(listener, name, size) == 0 && listen(listener, 1) == 0 &&
              getsockname(listener, name, &size) == 0,
          "listen");
    const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(connection >= 0 && connect(connection, name, size) == 0, "connect");
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    check(peer >= 0, "accept4");
    check(write(peer, sent.data(), sent.size()) == static_cast<ssize_t>(sent.size()), "write");
    const linger reset{1, 0};
    check(setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) == 0, "setsockopt");
    close(peer);
    close(listener);
    return connection;
}

TEST(Vantrel, ReportsInputThatCannotBeRead)
{
    const struct {
        int from;
        const char *message;
    } cases[] = {
        {open_file("/", O_RDONLY), "vantrel: read error: Is a directory\n"},
        {reset_connection("Velm"), "vantrel: read error: Connection reset by peer\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const Result result = run(VANTREL, "", {}, {c.from});
        close(c.from);
        EXPECT_EQ(result.out, reset_and_prompt);
        EXPECT_EQ(result.err, c.message);
        EXPECT_EQ(result.err_writes, 1);
        EXPECT_EQ(result.status, 1);
    }
}

// Waits until the child has taken all that the pipe holds and no longer runs: it then waits
// for more input, or has ended. False once the child is given up on.
bool wait_until_idle(pid_t pid, int pipe)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        int unread = 0;
        check(ioctl(pipe, FIONREAD, &unread) == 0, "ioctl");
        if (unread == 0 && state(pid) != 'R')
            return true;
        if (std::chrono::steady_clock::now() > deadline) {
            give_up(pid, "taking its input and waiting for more (" + std::to_string(unread) +
                             " bytes unread)");
            return false;
        }
        usleep(1000);
    }
}

// Runs vantrel on a non-blocking pipe, written a piece at a time, each once the last is taken.
Result run_in_pieces(const std::vector<std::string> &pieces)
{
    int input[2];
    check(pipe2(input, O_CLOEXEC | O_NONBLOCK) == 0, "pipe2");
    Child child = spawn(VANTREL, {}, {input[0]});
    close(input[0]);
    for (const std::string &piece : pieces) {
        if (!wait_until_idle(child.pid, input[1]))
            break;
        EXPECT_EQ(write(input[1], piece.data(), piece.size()), piece.size());
    }
    close(input[1]);
    return collect(child);
}

TEST(Vantrel, WaitsForNonBlockingInputAndGoesOnWithTheWord)
{
    const struct {
        const char *what;
        std::vector<std::string> pieces;
        std::string verdict;
    } cases[] = {
        {"the word split", {"vel", "mot\n"}, praise("velmot")},
        {"whitespace, then the word", {" \n\t", "Velmot\n"}, praise("Velmot")},
        {"a pause at the end of the word", {"vel", "mot", "\nBob\n"}, praise("velmot")},
        {"the word split, no line feed", {"Vel", "mot"}, praise("Velmot")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = run_in_pieces(c.pieces);
        EXPECT_EQ(result.out, reset_and_prompt + c.verdict);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
    }
}

TEST(Vantrel, ReportsAWaitForInputThatFails)
{
#ifdef ADDRESS_SANITIZER
    // The sanitize preset adds UndefinedBehaviorSanitizer, whose type checks probe memory
    // through a pipe of their own.
    GTEST_SKIP() << "UndefinedBehaviorSanitizer needs descriptors of its own";
#endif
    // Once vantrel waits for input, it may open no descriptors, which fails poll(2): the wait
    // after the first piece of the word cannot be made.
    int input[2];
    check(pipe2(input, O_CLOEXEC | O_NONBLOCK) == 0, "pipe2");
    Child child = spawn(VANTREL, {}, {input[0]});
    close(input[0]);
    if (wait_until_idle(child.pid, input[1])) {
        const rlimit none{0, 0};
        check(prlimit(child.pid, RLIMIT_NOFILE, &none, nullptr) == 0, "prlimit");
        EXPECT_EQ(write(input[1], "vel", 3), 3);
    }
    // The input stays open: vantrel must stop instead of trying again.
    const Result result = collect(child, "", false);
    close(input[1]);
    EXPECT_EQ(result.out, reset_and_prompt);
    EXPECT_EQ(result.err, "vantrel: read error: Invalid argument\n");
    EXPECT_EQ(result.err_writes, 1);
    EXPECT_EQ(result.status, 1);
}

TEST(Vantrel, LeavesTheRestOfAFileToTheNextRun)
{
    const int names = memfd_create("names", MFD_CLOEXEC);
    ASSERT_GE(names, 0);
    const std::string text = "velmot\n\nBob and more\n";
    ASSERT_EQ(write(names, text.data(), text.size()), text.size());
    ASSERT_EQ(lseek(names, 0, SEEK_SET), 0);
    // Two runs on the one open file: each takes its word, and the offset stands just past it.
    const struct {
        std::string verdict;
        off_t offset;
    } runs[] = {{praise("velmot"), 6}, {insult("Bob"), 11}};
    for (const auto &r : runs) {
        const Result result = run(VANTREL, "", {}, {names});
        EXPECT_EQ(result.out, reset_and_prompt + r.verdict);
        EXPECT_EQ(lseek(names, 0, SEEK_CUR), r.offset);
    }
    close(names);
}

TEST(Vantrel, PromptsBeforeReadingAndReadsOneLineOnly)
{
    Child child = spawn(VANTREL);
    EXPECT_EQ(read_some(child.pid, child.out, reset_and_prompt.size()), reset_and_prompt);
    // The input stays open: the answer must come from the first line alone.
    const Result result = collect(child, "Velmot and more\n", false);
    EXPECT_EQ(result.out, praise("Velmot"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST(Vantrel, ClearsTheTerminalAndPromptsBeforeReading)
{
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        exec(VANTREL);
        _exit(127);
    }
    // The terminal turns each line feed the program writes into CR LF, and echoes the typing.
    const std::string screen = "\x1b[2J\x1b[1;1HHi, what's your name?\r\n";
    EXPECT_EQ(read_some(pid, terminal, screen.size()), screen);
    ASSERT_EQ(write(terminal, "velmot\n", 7), 7);
    EXPECT_EQ(read_some(pid, terminal, std::string::npos), "velmot\r\n" + praise("velmot"));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(terminal);
}

} // namespace
