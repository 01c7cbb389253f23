// Runs a built program as a child process and talks to it over pipes.
#ifndef TESTS_CHILD_HPP
#define TESTS_CHILD_HPP

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>
#include <vector>

// What the child gets as its standard input or output: a pipe to the test, nothing, or else a
// descriptor of the test's own, such as an open file, a socket or a terminal.
constexpr int piped = -2;
constexpr int closed = -1;

// How long a child may go without doing anything the test can see (taking input, writing,
// ending) before the test gives up on it: far longer than any step takes, even emulated.
constexpr std::chrono::seconds patience{3};

struct Streams {
    int in = piped;
    int out = piped;
    // The test ignores SIGPIPE and SIGXFSZ; the child gets their default actions unless set.
    bool signals_ignored = false;
};

struct Child {
    pid_t pid;
    int in;  // write end of the child's standard input, -1 unless piped or once closed
    int out; // read end of its standard output, -1 unless piped
    int err; // the test's end of its standard error
};

struct Result {
    std::string out;
    std::string err;
    int err_writes; // how many writes standard error, a socket keeping each apart, received
    int status;     // the exit status, or 128 plus the signal that ended the child
};

// What a child must have written and ended with; an error line comes in one write.
struct Expected {
    std::string out;
    std::string err;
    int status;
};

// Throws std::system_error with errno's reason and what failed, unless ok. Defined here, so that
// clang-tidy's analyzer sees that no call goes on past a failure.
inline void check(bool ok, const char *what)
{
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

// Opens path with O_CLOEXEC added to flags, or throws as check does.
int open_file(const char *path, int flags);

// The words that start program with args. A built program, named by its path, is started through
// the emulator that runs the target's code here when the tests were built for another CPU
// (EMULATOR, the emulator's words as a list of string literals).
std::vector<std::string> command_line(const char *program,
                                      const std::vector<std::string> &args = {});

// The words that start program with `limit` given to it (by prlimit or env) before them.
inline std::vector<std::string> limited(const char *program, const std::string &limit)
{
    std::vector<std::string> words = command_line(program);
    words.insert(words.begin(), limit);
    return words;
}

// Starts the command line of program and args, looked up in PATH unless it holds a slash.
Child spawn(const char *program, const std::vector<std::string> &args = {}, Streams streams = {});

// The child's state as /proc/PID/stat gives it: R running, S sleeping, Z ended, and so on.
char state(pid_t pid);

// Fails the test with what the child did not do in time and what it is doing instead, such as
// waiting in a read, and kills it.
void give_up(pid_t pid, const std::string &not_done, std::chrono::seconds waited = patience);

// Writes input to the child, closes its standard input when close_input is set, and reads its
// output until it holds `until` bytes, or else to the end, and then reaps the child. A child that
// for `quiet` neither takes input over a pipe, writes nor ends is given up on.
Result collect(Child &child, std::string_view input = {}, bool close_input = true,
               std::size_t until = std::string::npos, std::chrono::seconds quiet = patience);

inline Result run(const char *program, std::string_view input,
                  const std::vector<std::string> &args = {}, Streams streams = {})
{
    Child child = spawn(program, args, streams);
    return collect(child, input);
}

// Checks each of the output, standard error and status that result holds against expected.
void expect(const Result &result, const Expected &expected);

#endif
