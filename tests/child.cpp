#include "child.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

// The test's own descriptors 0 to 2 are kept open: a descriptor that a test opened there would be
// replaced by the child's file actions before the child got it.
[[maybe_unused]] const bool standard_descriptors_taken = [] {
    int fd = 0;
    while ((fd = open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0 && fd <= 2) {
    }
    if (fd > 2)
        close(fd);
    return true;
}();

void close_fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The first line of the child's file in /proc, such as "stat" or "wchan".
std::string proc_line(pid_t pid, const char *file)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Appends what one read of at most `most` bytes of fd gives to text; false at the end of file. A
// pseudo-terminal whose other side is closed reports EIO, which counts as the end too.
bool read_into(int fd, std::string &text, std::size_t most)
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
void write_some(int fd, std::string_view &input)
{
    const ssize_t n = write(fd, input.data(), input.size());
    if (n < 0 && errno == EPIPE)
        input = {};
    else if (n >= 0)
        input.remove_prefix(static_cast<std::size_t>(n));
    else
        check(errno == EAGAIN, "write");
}

} // namespace

int open_file(const char *path, int flags)
{
    const int fd = open(path, flags | O_CLOEXEC);
    check(fd >= 0, path);
    return fd;
}

char state(pid_t pid)
{
    // The state follows the program's name, which stands in parentheses.
    const std::string fields = proc_line(pid, "stat");
    const std::size_t name_end = fields.rfind(") ");
    return name_end == std::string::npos ? '?' : fields.at(name_end + 2);
}

void give_up(pid_t pid, const std::string &not_done, std::chrono::seconds waited)
{
    const std::string waiting_in = proc_line(pid, "wchan");
    ADD_FAILURE() << proc_line(pid, "comm") << " (pid " << pid << ") went " << waited.count()
                  << " s without " << not_done << ", still running: state " << state(pid)
                  << (waiting_in.empty() || waiting_in == "0" ? "" : ", waiting in " + waiting_in);
    kill(pid, SIGKILL);
}

std::vector<std::string> command_line(const char *program, const std::vector<std::string> &args)
{
    std::vector<std::string> words;
#ifdef EMULATOR
    if (std::string_view(program).find('/') != std::string_view::npos)
        words = {EMULATOR};
#endif
    words.emplace_back(program);
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

Child spawn(const char *program, const std::vector<std::string> &args, Streams streams)
{
    // The test process outlives children that leave their input unread, and writes no file
    // beyond a limit.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    // Standard error is a socket that keeps each write a message of its own.
    int err[2];
    check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err) == 0, "socketpair");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The child's end of a pipe is the read end for its input, the write end for its output.
    const auto redirect = [&actions](int stream, int(&ends)[2], int fd) {
        if (stream == piped) {
            check(pipe2(ends, O_CLOEXEC) == 0, "pipe2");
            posix_spawn_file_actions_adddup2(&actions, ends[fd], fd);
        } else if (stream == closed) {
            posix_spawn_file_actions_addclose(&actions, fd);
        } else {
            posix_spawn_file_actions_adddup2(&actions, stream, fd);
        }
    };
    redirect(streams.in, in, 0);
    redirect(streams.out, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

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

    std::vector<std::string> words = command_line(program, args);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    Child child{-1, in[1], out[0], err[0]};
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

Result collect(Child &child, std::string_view input, bool close_input, std::size_t until,
               std::chrono::seconds quiet)
{
    Result result{"", "", 0, -1};
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
        if (watch[2].revents != 0) {
            if (read_into(child.err, result.err, std::string::npos))
                ++result.err_writes;
            else
                close_fd(child.err);
        }
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

void expect(const Result &result, const Expected &expected)
{
    EXPECT_TRUE(result.out == expected.out)
        << "output: " << testing::PrintToString(result.out.substr(0, 200));
    EXPECT_EQ(result.err, expected.err);
    EXPECT_EQ(result.err_writes, expected.err.empty() ? 0 : 1);
    EXPECT_EQ(result.status, expected.status);
}
