// Runs a built program as a child process, talks to it as a user would and checks what it did.
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
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

// What the child gets as its standard input or output: a pipe to the test, nothing, or else a
// descriptor of the test's own, such as an open file, a socket or a pipe.
constexpr int piped = -2;
constexpr int closed = -1;

// What the programs write: vantrel's screen reset and prompt, its two answers to a word, and
// hello's line.
inline const std::string reset_and_prompt = "\x1b[2J\x1b[1;1HHi, what's your name?\n";
inline std::string praise_of(const std::string &word)
{
    return "That's a great name, " + word + ", you should be proud of yourself.";
}
inline std::string insult_of(const std::string &word)
{
    return "That's a stupid fucking name, " + word + ", you should be ashamed of yourself.";
}
inline const std::string greeting = "Hello World!\n";

// How long a child may go without any progress the test can see (taking input, from a pipe or a
// file, writing or ending) before the test gives up on it: far longer than any step takes, even
// emulated on a busy machine.
constexpr std::chrono::seconds patience{3};

// What carries piped input, or output, between the test and the child.
enum class Channel { pipe, socket, fifo };

// One run of a program: what it is given, and what the test does while it runs.
struct Run {
    const char *program = VANTREL;
    std::vector<std::string> input;    // pieces, each sent once the child took the last and waits
    bool input_left_open = false;      // the answer must come without the end of input
    bool input_ends_with_last = false; // the last piece and the end of input come together
    int in = piped;
    int out = piped;
    Channel input_channel = Channel::pipe;
    Channel output_channel = Channel::pipe; // a pipe or a socket
    bool nonblocking_input = false;         // piped input or the terminal, in non-blocking mode
    bool terminal = false;                  // standard input and output one pseudo-terminal
    bool raw = false;                       // the terminal in raw mode: no echo, no line editing
    std::string typed_ahead;                // typed at the terminal before the program starts
    bool signals_ignored = false; // SIGPIPE and SIGXFSZ ignored, rather than at their defaults
    std::vector<std::string> args;
    std::vector<std::string> wrapper; // words that start the program, such as prlimit's or env's
    void (*once_waiting)(pid_t) = nullptr; // done to the child once it first waits for input
};

// What a child must write and how it must end; a line on standard error must come in one write.
struct Expected {
    std::string out; // what the test reads: output to a regular file is read from the file
    std::string err;
    int status = 0;
    int signal = 0; // the signal that ends the child, which then has no exit status
};

struct Result : Expected {
    int err_writes = 0; // how many writes standard error, a socket keeping each apart, received
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

// The first line of the child's file in /proc, such as "stat", "wchan" or "fdinfo/0".
inline std::string proc_line(pid_t pid, const std::string &file)
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

// Appends what one read of fd gives to text; false at the end of file. A pseudo-terminal whose
// other side is closed reports EIO, which counts as the end too.
inline bool read_into(int fd, std::string &text)
{
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EIO)
        return false;
    check(n >= 0, "read");
    text.append(buffer, static_cast<std::size_t>(n));
    return n > 0;
}

// What a child leaves behind on a descriptor it shares: the file status flags and, of a
// terminal, its modes.
inline std::string settings(int fd)
{
    std::string flags = std::to_string(fcntl(fd, F_GETFL));
    termios mode{};
    if (tcgetattr(fd, &mode) == 0) {
        for (const tcflag_t modes : {mode.c_iflag, mode.c_oflag, mode.c_cflag, mode.c_lflag})
            flags += ' ' + std::to_string(modes);
    }
    return flags;
}

// One run of a program as a child process. Once the child has written the expected output's
// first line, the test checks that line; then, each time the child waits, having taken all it
// was sent, the next step: what is done once it waits, a piece of input, the end of input.
class Session {
  public:
    Session(const Run &run, const Expected &expected) : run_(run)
    {
        const int nonblocking = run.nonblocking_input ? O_NONBLOCK : 0;
        check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err_) == 0, "socketpair");
        if (!run.terminal && run.in == piped)
            open_channel(in_, run.input_channel, nonblocking);
        if (!run.terminal && run.out == piped)
            open_channel(out_, run.output_channel, 0);
        int fds[3] = {run.in == piped ? in_[0] : run.in, run.out == piped ? out_[1] : run.out,
                      err_[1]};
        // The test keeps the terminal's device open, to see what the child has yet to read and
        // the settings it leaves, until the child has ended.
        if (run.terminal) {
            terminal_[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            check(terminal_[0] >= 0 && grantpt(terminal_[0]) == 0 && unlockpt(terminal_[0]) == 0,
                  "posix_openpt");
            fds[0] = fds[1] = terminal_[1] =
                open_file(ptsname(terminal_[0]), O_RDWR | O_NOCTTY | nonblocking);
            termios mode{};
            cfmakeraw(&mode);
            check(!run.raw || tcsetattr(terminal_[1], TCSANOW, &mode) == 0, "tcsetattr");
            in_[1] = dup(terminal_[0]);
            out_[0] = dup(terminal_[0]);
            type_ahead();
        }
        shared_[0] = fds[0];
        shared_[1] = run.out == piped ? -1 : fds[1];
        for (int i = 0; i < 2; ++i)
            before_[i] = shared_[i] < 0 ? "" : settings(shared_[i]);
        pid_ = spawn(fds);
        check(run.terminal || in_[1] < 0 || fcntl(in_[1], F_SETFL, O_NONBLOCK) == 0, "fcntl");
        for (int *fd : {&out_[1], &err_[1]})
            close_fd(*fd);
        // The first line is checked where the test reads the output.
        if (run.out == piped || run.terminal)
            prompt_ = expected.out.substr(0, expected.out.find('\n') + 1);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session()
    {
        for (int *fd : {&in_[0], &in_[1], &out_[0], &err_[0], &terminal_[0], &terminal_[1]})
            close_fd(*fd);
    }

    // Talks to the child until it ends, or until it makes no progress the test can see for
    // `patience`.
    Result finish()
    {
        auto progress = observe();
        auto last_progress = std::chrono::steady_clock::now();
        while (!reaped()) {
            step();
            exchange();
            auto seen = observe();
            if (seen != progress) {
                progress = std::move(seen);
                last_progress = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - last_progress > patience) {
                give_up();
            }
        }
        left_as_found();
        read_output_file();
        return result_;
    }

  private:
    // A pipe, a pair of sockets or a FIFO: the child's end first, then the test's.
    static void open_channel(int (&ends)[2], Channel channel, int flags)
    {
        if (channel == Channel::pipe)
            return check(pipe2(ends, O_CLOEXEC | flags) == 0, "pipe2");
        if (channel == Channel::socket)
            return check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0, ends) == 0,
                         "socketpair");
        std::string folder = "/tmp/fifo-XXXXXX";
        check(mkdtemp(folder.data()) != nullptr, "mkdtemp");
        const std::string path = folder + "/fifo";
        check(mkfifo(path.c_str(), 0600) == 0, "mkfifo");
        ends[0] = open_file(path.c_str(), O_RDONLY | O_NONBLOCK);
        ends[1] = open_file(path.c_str(), O_WRONLY);
        check(fcntl(ends[0], F_SETFL, flags) == 0 && unlink(path.c_str()) == 0 &&
                  rmdir(folder.c_str()) == 0,
              "fifo");
    }

    // Checks that the descriptors the child shares with the test have the settings they had,
    // once, when the child has ended.
    void left_as_found()
    {
        for (int i = 0; i < 2 && !checked_settings_; ++i) {
            EXPECT_TRUE(shared_[i] < 0 || settings(shared_[i]) == before_[i])
                << "the child changed the settings of its descriptor " << i;
        }
        checked_settings_ = true;
    }

    // The bytes the child has read, from any descriptor.
    [[nodiscard]] long long bytes_read() const
    {
        std::ifstream io("/proc/" + std::to_string(pid_) + "/io");
        std::string field;
        long long bytes = 0;
        io >> field >> bytes; // rchar: ...
        return bytes;
    }

    // Types the text to be typed ahead, and waits until the terminal holds it all for reading.
    // The terminal takes typing in its own time: by then it has also echoed it, ahead of
    // anything the program writes. Text typed ahead at a canonical terminal is whole lines.
    void type_ahead()
    {
        check(write(in_[1], run_.typed_ahead.data(), run_.typed_ahead.size()) >= 0, "write");
        const auto start = std::chrono::steady_clock::now();
        for (int held = 0; static_cast<std::size_t>(held) < run_.typed_ahead.size();) {
            if (std::chrono::steady_clock::now() - start > patience)
                throw std::runtime_error("the terminal took no typing in " +
                                         std::to_string(patience.count()) + " s");
            pollfd terminal{terminal_[1], POLLIN, 0};
            check(poll(&terminal, 1, 10) >= 0 && ioctl(terminal_[1], FIONREAD, &held) == 0,
                  "terminal");
        }
    }

    // Starts the program on the descriptors 0 to 2 given, as a user's shell would. A built
    // program, named by its path, is started through the emulator that runs the target's code
    // here when the tests were built for another CPU (EMULATOR: its words as string literals).
    [[nodiscard]] pid_t spawn(const int (&fds)[3]) const
    {
        std::vector<std::string> words = run_.wrapper;
#ifdef EMULATOR
        if (std::string_view(run_.program).find('/') != std::string_view::npos)
            words.insert(words.end(), {EMULATOR});
#endif
        words.emplace_back(run_.program);
        words.insert(words.end(), run_.args.begin(), run_.args.end());
        std::vector<char *> argv(words.size() + 1);
        std::transform(words.begin(), words.end(), argv.begin(),
                       [](auto &word) { return word.data(); });
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd) {
            if (fds[fd] == closed)
                posix_spawn_file_actions_addclose(&actions, fd);
            else
                posix_spawn_file_actions_adddup2(&actions, fds[fd], fd);
        }
        // The test ignores SIGPIPE and SIGXFSZ, to outlive children that leave their input
        // unread and to write past a limit; the child gets their default actions unless set.
        std::signal(SIGPIPE, SIG_IGN);
        std::signal(SIGXFSZ, SIG_IGN);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        if (!run_.signals_ignored) {
            sigaddset(&defaults, SIGPIPE);
            sigaddset(&defaults, SIGXFSZ);
        }
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        const int error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
            throw std::system_error(error, std::generic_category(), run_.program);
        return pid;
    }

    // The next step, once the first line is out and the child waits with nothing left unread.
    void step()
    {
        // Once the child has ended, the terminal is left to close as the child closed it.
        if (terminal_[1] >= 0 && state(pid_) == 'Z') {
            left_as_found();
            close_fd(terminal_[1]);
        }
        const int reading = run_.terminal ? terminal_[1] : in_[0];
        unread_ = 0;
        check(reading < 0 || ioctl(reading, FIONREAD, &unread_) == 0, "ioctl");
        // The terminal takes what is typed in its own time: the child has taken all it was sent
        // once it has read as many bytes. The child's state, read from /proc, is asked last.
        if (in_[1] < 0 || !pending_.empty() || unread_ != 0 ||
            (out_[0] >= 0 && result_.out.size() < prompt_.size()) ||
            (run_.terminal && waited_ && bytes_read() < read_at_wait_ + typed_) ||
            state(pid_) == 'R')
            return;
        if (!waited_) {
            EXPECT_EQ(result_.out.substr(0, prompt_.size()), prompt_) << "before any input";
            waited_ = true;
            read_at_wait_ = bytes_read();
            if (run_.once_waiting != nullptr)
                return run_.once_waiting(pid_);
        }
        if (next_ < run_.input.size()) {
            pending_ = run_.input[next_++];
            typed_ += static_cast<long long>(pending_.size());
        } else if (run_.terminal && !run_.raw && !run_.input_left_open) {
            pending_ = end_of_file; // at the start of a line, the end of input
        } else if (!run_.input_left_open) {
            close_fd(in_[1]);
        }
    }

    // Writes what the child takes of the pending input, and reads what it writes.
    void exchange()
    {
        pollfd watch[3] = {{pending_.empty() ? -1 : in_[1], POLLOUT, 0},
                           {out_[0], POLLIN, 0},
                           {err_[0], POLLIN, 0}};
        check(poll(watch, 3, 10) >= 0, "poll");
        if (watch[0].revents != 0) {
            const ssize_t n = write(in_[1], pending_.data(), pending_.size());
            check(n >= 0 || errno == EAGAIN || errno == EPIPE, "write");
            pending_.remove_prefix(n >= 0 ? static_cast<std::size_t>(n) : pending_.size());
            if (pending_.empty() && next_ == run_.input.size() && run_.input_ends_with_last)
                close_fd(in_[1]);
        }
        if (watch[1].revents != 0 && !read_into(out_[0], result_.out))
            close_fd(out_[0]);
        if (watch[2].revents != 0 && read_into(err_[0], result_.err))
            ++result_.err_writes;
        else if (watch[2].revents != 0)
            close_fd(err_[0]);
    }

    // What the test sees of the child's progress: output, input taken from a pipe or a file
    // (its offset), streams closed, and memory filled, as a long word is copied to grow.
    [[nodiscard]] std::string observe() const
    {
        return std::to_string(result_.out.size() + result_.err.size()) + ' ' +
               std::to_string(pending_.size()) + ' ' + std::to_string(unread_) + ' ' +
               std::to_string(out_[0] + err_[0]) + ' ' + proc_line(pid_, "fdinfo/0") + ' ' +
               proc_line(pid_, "statm");
    }

    // Whether the child has ended, once it has closed its output, and how.
    bool reaped()
    {
        int status = 0;
        if (out_[0] >= 0 || err_[0] >= 0 || waitpid(pid_, &status, wait_options_) == 0)
            return false;
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return true;
    }

    // Fails the test with what the child is doing, such as waiting in a read, and kills it.
    void give_up()
    {
        const std::string waiting_in = proc_line(pid_, "wchan");
        ADD_FAILURE() << proc_line(pid_, "comm") << " (pid " << pid_ << ") made no progress for "
                      << patience.count() << " s: state " << state(pid_)
                      << (waiting_in.empty() || waiting_in == "0" ? "" : ", in " + waiting_in)
                      << ", output so far: " << testing::PrintToString(result_.out);
        kill(pid_, SIGKILL);
        left_as_found();
        for (int *fd : {&out_[0], &err_[0], &terminal_[1]})
            close_fd(*fd);
        wait_options_ = 0;
    }

    // Output to a regular file is read back from it, and the file emptied for the next run.
    void read_output_file()
    {
        struct stat file = {};
        if (run_.out < 0 || fstat(run_.out, &file) != 0 || !S_ISREG(file.st_mode))
            return;
        result_.out.resize(static_cast<std::size_t>(file.st_size));
        check(pread(run_.out, result_.out.data(), result_.out.size(), 0) == file.st_size &&
                  ftruncate(run_.out, 0) == 0 && lseek(run_.out, 0, SEEK_SET) == 0,
              "output file");
    }

    const Run &run_;
    int in_[2] = {-1, -1};  // the child's standard input, if a pipe or a terminal: its end, ours
    int out_[2] = {-1, -1}; // its standard output likewise
    int err_[2] = {-1, -1}; // its standard error, a socket that keeps each write apart
    int terminal_[2] = {-1, -1}; // a terminal's master, and the device the child gets
    int shared_[2] = {-1, -1};   // what the child shares with the test and must leave as found
    std::string before_[2];
    bool checked_settings_ = false;
    static constexpr std::string_view end_of_file = "\x04"; // a canonical terminal's VEOF
    pid_t pid_ = -1;
    std::string prompt_;   // the expected first line, where the test reads the output
    std::size_t next_ = 0; // the next piece of input
    std::string_view pending_;
    int unread_ = 0; // what the child has yet to take of what was sent
    bool waited_ = false;
    long long read_at_wait_ = 0; // bytes the child had read when it first waited
    long long typed_ = 0;        // bytes typed at the terminal since
    int wait_options_ = WNOHANG; // for waitpid(2), which waits once the child is killed
    Result result_;
};

inline Result run(const Run &run, const Expected &expected)
{
    return Session(run, expected).finish();
}

// Whether what came is what was expected; if not, both, escaped, from a little before the
// first byte that differs.
inline testing::AssertionResult same(const char * /*came*/, const char * /*expected*/,
                                     const std::string &came, const std::string &expected)
{
    if (came == expected)
        return testing::AssertionSuccess();
    const auto first = static_cast<std::size_t>(
        std::mismatch(came.begin(), came.end(), expected.begin(), expected.end()).first -
        came.begin());
    const std::size_t from = first < 40 ? 0 : first - 40;
    const auto shown = [from](const std::string &text) {
        return testing::PrintToString(text.substr(std::min(from, text.size()), 200)) + " (" +
               std::to_string(text.size()) + " bytes)";
    };
    return testing::AssertionFailure()
           << "what came differs at byte " << first << ", shown from byte " << from
           << "\n  expected: " << shown(expected) << "\n  came:     " << shown(came);
}

// Whether a signal ignored stays ignored through a wrapper's exec of the program, as an emulator
// of the whole system may forget: a shell started so under a file size limit shows it.
inline bool ignored_signals_kept()
{
    static const bool kept = run({.program = "sh",
                                  .signals_ignored = true,
                                  .args = {"-c", "kill -s XFSZ $$ && echo kept"},
                                  .wrapper = {"prlimit", "--fsize=5"}},
                                 {})
                                 .out == "kept\n";
    return kept;
}

// Checks each of the output, standard error and ending that result holds against expected.
inline void expect(const Result &result, const Expected &expected)
{
    EXPECT_PRED_FORMAT2(same, result.out, expected.out) << "in standard output";
    EXPECT_PRED_FORMAT2(same, result.err, expected.err) << "in standard error";
    EXPECT_EQ(result.err_writes, expected.err.empty() ? 0 : 1);
    EXPECT_EQ(result.status, expected.signal != 0 ? -1 : expected.status);
    EXPECT_EQ(result.signal, expected.signal);
}

struct Row {
    std::string what;
    Run run;
    Expected expected;
};

// Runs each row and checks it, and stops at the first that fails.
inline void check_rows(const std::vector<Row> &rows)
{
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        expect(run(row.run, row.expected), row.expected);
        if (testing::Test::HasFailure())
            return;
    }
}

#endif
