// Runs a built program as a child process, talks to it and checks what it did.
#ifndef TESTS_CHILD_HPP
#define TESTS_CHILD_HPP

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
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

struct Result {
    std::string out;
    std::string err;
    int err_writes; // how many writes standard error, a socket keeping each apart, received
    int status;     // the exit status, or 128 plus the signal that ended the child
};

struct Child {
    pid_t pid;
    int in;        // write end of the child's standard input, -1 unless piped or once closed
    int out;       // read end of its standard output, -1 unless piped
    int err;       // the test's end of its standard error
    Result result; // what it has written so far, and how it ended once it has
};

// What a child must write and end with; a line on standard error must come in one write.
struct Expected {
    std::string out;
    std::string err;
    int status;
};

// Throws std::system_error with errno's reason and what failed, unless ok.
inline void check(bool ok, const char *what)
{
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

inline int open_file(const char *path, int flags)
{
    const int fd = open(path, flags | O_CLOEXEC);
    check(fd >= 0, path);
    return fd;
}

inline void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The test's own descriptors 0 to 2 are kept open: a descriptor that a test opened there would be
// replaced by the child's file actions before the child got it.
[[maybe_unused]] inline const bool standard_descriptors_taken = [] {
    int fd = 0;
    while ((fd = open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0 && fd <= 2) {
    }
    if (fd > 2)
        close(fd);
    return true;
}();

// Starts program with args, after the words of `wrapper` that limit it (prlimit or env and
// their options) if any. A built program, named by its path, is started through the emulator
// that runs the target's code here when the tests were built for another CPU (EMULATOR, its
// words as a list of string literals).
inline Child spawn(const char *program, const std::vector<std::string> &args = {},
                   Streams streams = {}, std::vector<std::string> wrapper = {})
{
    std::vector<std::string> words = std::move(wrapper);
#ifdef EMULATOR
    if (std::string_view(program).find('/') != std::string_view::npos)
        words.insert(words.end(), {EMULATOR});
#endif
    words.emplace_back(program);
    words.insert(words.end(), args.begin(), args.end());

    // The test process outlives children that leave their input unread, and writes no file
    // beyond a limit.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // The child's end of a pipe is the read end for its input, the write end for its output.
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    check((streams.in != piped || pipe2(in, O_CLOEXEC) == 0) &&
              (streams.out != piped || pipe2(out, O_CLOEXEC) == 0),
          "pipe2");
    // Standard error is a socket that keeps each write a message of its own.
    int err[2];
    check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err) == 0, "socketpair");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int from[] = {streams.in == piped ? in[0] : streams.in,
                        streams.out == piped ? out[1] : streams.out, err[1]};
    for (int fd = 0; fd <= 2; ++fd) {
        if (from[fd] == closed)
            posix_spawn_file_actions_addclose(&actions, fd);
        else
            posix_spawn_file_actions_adddup2(&actions, from[fd], fd);
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!streams.signals_ignored) {
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGXFSZ);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> argv(words.size() + 1);
    std::transform(words.begin(), words.end(), argv.begin(),
                   [](auto &word) { return word.data(); });
    Child child{-1, in[1], out[0], err[0], {"", "", 0, -1}};
    const int error =
        posix_spawnp(&child.pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close_fd(in[0]);
    close_fd(out[1]);
    close_fd(err[1]);
    if (error != 0)
        throw std::system_error(error, std::generic_category(), program);
    return child;
}

// The first line of the child's file in /proc, such as "stat" or "wchan".
inline std::string proc_line(pid_t pid, const char *file)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The child's state as /proc/PID/stat gives it after its name: R running, S sleeping, Z ended...
inline char state(pid_t pid)
{
    const std::string fields = proc_line(pid, "stat");
    const std::size_t name_end = fields.rfind(") ");
    return name_end == std::string::npos ? '?' : fields.at(name_end + 2);
}

// Fails the test with what the child did not do in time and what it is doing instead, such as
// waiting in a read, and kills it.
inline void give_up(pid_t pid, const std::string &not_done, std::chrono::seconds waited = patience)
{
    const std::string waiting_in = proc_line(pid, "wchan");
    ADD_FAILURE() << proc_line(pid, "comm") << " (pid " << pid << ") went " << waited.count()
                  << " s without " << not_done << ", still running: state " << state(pid)
                  << (waiting_in.empty() || waiting_in == "0" ? "" : ", waiting in " + waiting_in);
    kill(pid, SIGKILL);
}

// Appends what one read of at most `most` bytes of fd gives to text; false at the end of file. A
// pseudo-terminal whose other side is closed reports EIO, which counts as the end too.
inline bool read_into(int fd, std::string &text, std::size_t most)
{
    char buffer[65536];
    const ssize_t n = read(fd, buffer, std::min(most, sizeof buffer));
    if (n < 0 && errno == EIO)
        return false;
    check(n >= 0, "read");
    text.append(buffer, static_cast<std::size_t>(n));
    return n > 0;
}

// Writes what fd, which does not block, takes of input, and drops that from input; all of it
// once the reader is gone.
inline void write_some(int fd, std::string_view &input)
{
    const ssize_t n = write(fd, input.data(), input.size());
    check(n >= 0 || errno == EAGAIN || errno == EPIPE, "write");
    input.remove_prefix(n >= 0 ? static_cast<std::size_t>(n) : errno == EPIPE ? input.size() : 0);
}

// Writes input to the child, closes its standard input when close_input is set, and reads its
// output until it holds `until` bytes in all, or else to the end, and then reaps the child. A
// child that for `quiet` neither takes input over a pipe, writes nor ends is given up on.
inline const Result &collect(Child &child, std::string_view input = {}, bool close_input = true,
                             std::size_t until = std::string::npos,
                             std::chrono::seconds quiet = patience)
{
    Result &result = child.result;
    check(child.in < 0 || fcntl(child.in, F_SETFL, O_NONBLOCK) == 0, "fcntl");
    while ((child.out >= 0 || child.err >= 0) && result.out.size() < until) {
        if (input.empty() && close_input)
            close_fd(child.in);
        pollfd watch[3] = {{input.empty() ? -1 : child.in, POLLOUT, 0},
                           {child.out, POLLIN, 0},
                           {child.err, POLLIN, 0}};
        if (poll(watch, 3, static_cast<int>(std::chrono::milliseconds(quiet).count())) <= 0) {
            give_up(child.pid, "taking input, writing or ending", quiet);
            break;
        }
        if (watch[0].revents != 0)
            write_some(child.in, input);
        if (watch[1].revents != 0 && !read_into(child.out, result.out, until - result.out.size()))
            close_fd(child.out);
        if (watch[2].revents != 0 && read_into(child.err, result.err, std::string::npos))
            ++result.err_writes;
        else if (watch[2].revents != 0)
            close_fd(child.err);
    }
    if (result.out.size() == until)
        return result; // the child goes on
    int status = 0;
    check(waitpid(child.pid, &status, 0) == child.pid, "waitpid");
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    close_fd(child.in);
    close_fd(child.out);
    close_fd(child.err);
    return result;
}

// Checks each of the output, standard error and status that result holds against expected.
inline void expect(const Result &result, const Expected &expected)
{
    EXPECT_TRUE(result.out == expected.out)
        << "output: " << testing::PrintToString(result.out.substr(0, 200));
    EXPECT_EQ(result.err, expected.err);
    EXPECT_EQ(result.err_writes, expected.err.empty() ? 0 : 1);
    EXPECT_EQ(result.status, expected.status);
}

#endif
