#include "child.hpp"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;

// Clang tells of AddressSanitizer by __has_feature, GCC by __SANITIZE_ADDRESS__.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ADDRESS_SANITIZER
#endif
#elif defined(__SANITIZE_ADDRESS__)
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
    Input from = Input::pipe;
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
        {"closed standard input", "", insult(""), Input::closed},
        {"a directory as standard input", "", insult(""), Input::directory},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = run(VANTREL, c.input, {}, Output::pipe, c.from);
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

TEST(Vantrel, StopsWhenMemoryRunsOutReadingTheName)
{
#ifdef ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer cannot run in a capped address space";
#endif
    // A word twice as long as all the memory the program may map.
    const Result result = run("prlimit", std::string(64 << 20, 'x'), {"--as=33554432", VANTREL});
    EXPECT_TRUE(result.out == reset_and_prompt)
        << "output: " << testing::PrintToString(result.out.substr(0, 200));
    EXPECT_EQ(result.err, "vantrel: memory exhausted\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Vantrel, PromptsBeforeReadingAndReadsOneLineOnly)
{
    Child child = spawn(VANTREL);
    EXPECT_EQ(read_some(child.out, reset_and_prompt.size()), reset_and_prompt);
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
        execl(VANTREL, VANTREL, static_cast<char *>(nullptr));
        _exit(127);
    }
    // The terminal turns each line feed the program writes into CR LF, and echoes the typing.
    const std::string screen = "\x1b[2J\x1b[1;1HHi, what's your name?\r\n";
    EXPECT_EQ(read_some(terminal, screen.size()), screen);
    ASSERT_EQ(write(terminal, "velmot\n", 7), 7);
    EXPECT_EQ(read_some(terminal, std::string::npos), "velmot\r\n" + praise("velmot"));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(terminal);
}

} // namespace
