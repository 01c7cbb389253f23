// Runs a built program as a child process, talks to it as a user would and tells what it did.
#ifndef TESTS_CHILD_HPP
#define TESTS_CHILD_HPP

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

// What the programs write: vantrel's screen reset and prompt, its answers, hello's line.
inline const std::string reset_and_prompt = "\x1b[2J\x1b[1;1HHi, what's your name?\n";
inline std::string praise_of(const std::string &word) {
    return "That's a great name, " + word + ", you should be proud of yourself.";
}
inline std::string insult_of(const std::string &word) {
    return "That's a stupid fucking name, " + word + ", you should be ashamed of yourself.";
}
inline const std::string greeting = "Hello World!\n";

// How long a child may make no progress the test can see (taking input, writing, ending) before
// the test gives up on it: far longer than any step takes, even emulated on a busy machine.
constexpr std::chrono::seconds patience{3};

// Where standard input comes from, and where standard output goes: In::terminal is both.
enum class In { pipe, socket, fifo, file, terminal, null, closed, write_only, directory, reset };
enum class Out { pipe, socket, file, append, full, limited, gone, gone_socket, closed, full_pipe };

// One run of a program: what it is given, and what the test does while it runs.
struct Case {
    bool hello = false;
    std::string input;
    std::vector<std::size_t> pieces; // its lengths, each sent once the child waits; or whole
    bool typed_ahead = false;        // the first piece typed at the terminal before the start
    bool ends_with_last = false;     // the end of input comes with the last piece
    bool left_open = false;          // the input never ends
    In in = In::pipe;
    bool nonblocking = false;
    bool raw = false;             // the terminal in raw mode: no echo, no line editing
    std::string skipped;          // a file's bytes before the offset where the input starts
    off_t zeros = 0;              // NUL bytes after the input in a file, a hole
    Out out = Out::pipe;          // with In::terminal, the terminal
    std::string held;             // what the output file holds already
    std::size_t limit = 0;        // the output file's size limit, with Out::limited
    bool signals_ignored = false; // SIGPIPE and SIGXFSZ, rather than at their defaults
    std::vector<std::string> env, args;
    std::vector<std::string> wrapper;      // words that start the program, such as prlimit's
    void (*once_waiting)(pid_t) = nullptr; // done to the child once it first waits for input
};

// The lengths the input comes in.
inline std::vector<std::size_t> pieces(const Case &c) {
    return c.pieces.empty() && !c.input.empty() ? std::vector{c.input.size()} : c.pieces;
}

// What a child must write and how it must end; a line on standard error must come in one write.
struct Expected {
    std::string out; // output to a regular file is read from the file
    std::string err;
    int status = 0;
    int signal = 0;    // the signal that ends the child, which then has no exit status
    off_t offset = -1; // where the offset of a file of input stands afterwards
};

struct Result : Expected {
    int err_writes = 0; // how many writes standard error, a socket keeping each apart, received
};

// Throws std::system_error with errno's reason and what failed, unless ok.
inline void check(bool ok, const char *what) {
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

inline void close_fd(int &fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The test's own descriptors 0 to 2 are kept open: a descriptor that a test opened there would be
// replaced by the child's file actions before the child got it. The test ignores SIGPIPE and
// SIGXFSZ, to outlive children that leave their input unread and to write past a limit; each
// child gets their default actions unless its case ignores them.
[[maybe_unused]] inline const bool test_process_prepared = [] {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    int fd = 0;
    while ((fd = open("/dev/null", O_RDWR | O_CLOEXEC)) >= 0 && fd <= 2) {
    }
    if (fd > 2)
        close(fd);
    return true;
}();

// The first line of the child's file in /proc, such as "stat", "wchan" or "fdinfo/0".
inline std::string proc_line(pid_t pid, const std::string &file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The child's state as /proc/PID/stat gives it after its name: R running, S sleeping, Z ended...
inline char state(pid_t pid) {
    const std::string fields = proc_line(pid, "stat");
    const std::size_t name_end = fields.rfind(") ");
    return name_end == std::string::npos ? '?' : fields.at(name_end + 2);
}

// Appends what one read of fd gives to text; false at the end of file. A pseudo-terminal whose
// other side is closed reports EIO, which counts as the end too.
inline bool read_into(int fd, std::string &text) {
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EIO)
        return false;
    check(n >= 0, "read");
    text.append(buffer, static_cast<std::size_t>(n));
    return n > 0;
}

// What a child leaves on a descriptor it shares: the file status flags and a terminal's modes.
inline std::string settings(int fd) {
    std::string flags = std::to_string(fcntl(fd, F_GETFL));
    termios mode{};
    if (tcgetattr(fd, &mode) == 0) {
        for (const tcflag_t modes : {mode.c_iflag, mode.c_oflag, mode.c_cflag, mode.c_lflag})
            flags += ' ' + std::to_string(modes);
    }
    return flags;
}

// One run of a case as a child process. Once the child has written the expected output's first
// line, the test checks that line; then, each time the child waits, having taken all it was
// sent, the next step: what is done once it waits, a piece of input, the end of input.
class Session {
  public:
    Session(const Case &c, const Expected &expected) : c_(c), pieces_(pieces(c)) {
        check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, err_) == 0, "socketpair");
        const int fds[3] = {child_input(), child_output(), err_[1]};
        for (int i = 0; i < 2; ++i) {
            shared_[i] = i == 1 && fds[1] == out_[1] ? -1 : fds[i];
            before_[i] = shared_[i] < 0 ? "" : settings(shared_[i]);
        }
        pid_ = spawn(fds);
        check(c.in == In::terminal || in_[1] < 0 || fcntl(in_[1], F_SETFL, O_NONBLOCK) == 0,
              "fcntl");
        for (int *fd : {&out_[1], &err_[1]})
            close_fd(*fd);
        if (out_[0] >= 0) // the first line is checked where the test reads the output
            prompt_ = expected.out.substr(0, expected.out.find('\n') + 1);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session() {
        for (int *fd : {&in_[0], &in_[1], &out_[0], &err_[0], &terminal_[0], &terminal_[1]})
            close_fd(*fd);
        for (int &fd : owned_)
            close_fd(fd);
    }

    // Talks to the child until it ends, or until it makes no progress for `patience`.
    Result finish() {
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
        if (in_file_ >= 0)
            result_.offset = lseek(in_file_, 0, SEEK_CUR);
        struct stat file = {};
        if (out_file_ >= 0 && fstat(out_file_, &file) == 0) {
            result_.out.resize(static_cast<std::size_t>(file.st_size));
            check(pread(out_file_, result_.out.data(), result_.out.size(), 0) == file.st_size,
                  "output file");
        }
        return result_;
    }

  private:
    int own(int fd) {
        check(fd >= 0, "descriptor");
        return owned_.emplace_back(fd);
    }

    // A file holding the bytes, and as many NUL bytes after them.
    int file_holding(const std::string &bytes, off_t zeros) {
        const int file = own(memfd_create("case", MFD_CLOEXEC));
        check(write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                  ftruncate(file, static_cast<off_t>(bytes.size()) + zeros) == 0,
              "file");
        return file;
    }

    // A pipe, a pair of sockets or a FIFO: the child's end first, then the test's.
    static void open_channel(int (&ends)[2], bool socket, bool fifo, int flags) {
        if (socket)
            return check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0, ends) == 0,
                         "socketpair");
        if (!fifo)
            return check(pipe2(ends, O_CLOEXEC | flags) == 0, "pipe2");
        std::string folder = "/tmp/fifo-XXXXXX";
        check(mkdtemp(folder.data()) != nullptr, "mkdtemp");
        const std::string path = folder + "/fifo";
        check(mkfifo(path.c_str(), 0600) == 0, "mkfifo");
        ends[0] = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ends[1] = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        check(ends[0] >= 0 && ends[1] >= 0 && fcntl(ends[0], F_SETFL, flags) == 0 &&
                  unlink(path.c_str()) == 0 && rmdir(folder.c_str()) == 0,
              "fifo");
    }

    // The child's standard input as the case has it, or -1 for none.
    int child_input() {
        const int flags = c_.nonblocking ? O_NONBLOCK : 0;
        const char *device = c_.in == In::directory ? "/" : "/dev/null";
        int ends[2] = {-1, -1};
        switch (c_.in) {
        case In::pipe:
        case In::socket:
        case In::fifo:
            open_channel(in_, c_.in == In::socket, c_.in == In::fifo, flags);
            return in_[0];
        case In::file:
            in_file_ = file_holding(c_.skipped + c_.input, c_.zeros);
            check(lseek(in_file_, static_cast<off_t>(c_.skipped.size()), SEEK_SET) >= 0, "lseek");
            return in_file_;
        case In::terminal:
            return open_terminal(flags);
        case In::null:
        case In::directory:
        case In::write_only:
            return own(open(device, (c_.in == In::write_only ? O_WRONLY : O_RDONLY) | O_CLOEXEC));
        case In::reset: // a socket over which the input came, its peer then closed unread
            check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0 &&
                      write(ends[0], c_.input.data(), c_.input.size()) >= 0 &&
                      write(ends[1], "x", 1) == 1,
                  "socket");
            close(ends[0]);
            return own(ends[1]);
        case In::closed:
            break;
        }
        return -1;
    }

    // The child's standard output as the case has it, or -1 for none.
    int child_output() {
        int ends[2] = {-1, -1};
        if (c_.in == In::terminal)
            return terminal_[1];
        switch (c_.out) {
        case Out::pipe:
        case Out::socket:
            open_channel(out_, c_.out == Out::socket, false, 0);
            return out_[1];
        case Out::file:
        case Out::append:
        case Out::limited:
            out_file_ = file_holding(c_.held, 0);
            check(c_.out != Out::append || (lseek(out_file_, 0, SEEK_SET) == 0 &&
                                            fcntl(out_file_, F_SETFL, O_APPEND) == 0),
                  "output file");
            return out_file_;
        case Out::full:
            return own(open("/dev/full", O_WRONLY | O_CLOEXEC));
        case Out::gone:
        case Out::full_pipe:
        case Out::gone_socket:
            check(c_.out == Out::gone_socket
                      ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0
                      : pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0,
                  "pipe");
            while (c_.out == Out::full_pipe && write(ends[1], "x", 1) == 1) {
            }
            check(c_.out == Out::full_pipe || fcntl(ends[1], F_SETFL, 0) == 0, "fcntl");
            if (c_.out == Out::full_pipe)
                own(ends[0]); // a reader that reads nothing
            else
                close(ends[0]); // the reader gone
            return own(ends[1]);
        case Out::closed:
            break;
        }
        return -1;
    }

    // A pseudo-terminal whose device the child gets. The test keeps the device open, to see what
    // the child has yet to read and the settings it leaves, until the child has ended.
    int open_terminal(int flags) {
        terminal_[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        check(terminal_[0] >= 0 && grantpt(terminal_[0]) == 0 && unlockpt(terminal_[0]) == 0,
              "posix_openpt");
        terminal_[1] = open(ptsname(terminal_[0]), O_RDWR | O_NOCTTY | O_CLOEXEC | flags);
        termios mode{};
        cfmakeraw(&mode);
        check(terminal_[1] >= 0 && (!c_.raw || tcsetattr(terminal_[1], TCSANOW, &mode) == 0),
              "terminal");
        in_[1] = dup(terminal_[0]);
        out_[0] = dup(terminal_[0]);
        if (c_.typed_ahead)
            type_ahead(pieces_.at(next_++));
        return terminal_[1];
    }

    // Types text ahead, and waits until the terminal holds it all for reading. The terminal takes
    // typing in its own time: by then it has also echoed it, ahead of anything the program writes.
    void type_ahead(std::size_t size) {
        check(write(in_[1], c_.input.data(), size) == static_cast<ssize_t>(size), "write");
        sent_ = size;
        const auto start = std::chrono::steady_clock::now();
        for (int held = 0; static_cast<std::size_t>(held) < size;) {
            if (std::chrono::steady_clock::now() - start > patience)
                throw std::runtime_error("the terminal took no typing in " +
                                         std::to_string(patience.count()) + " s");
            pollfd terminal{terminal_[1], POLLIN, 0};
            check(poll(&terminal, 1, 10) >= 0 && ioctl(terminal_[1], FIONREAD, &held) == 0,
                  "terminal");
        }
    }

    // Starts the program on the descriptors 0 to 2 given (-1: closed), as a user's shell would:
    // through the case's wrappers, and through the emulator that runs the target's code here when
    // the tests were built for another CPU (EMULATOR: its words as string literals).
    [[nodiscard]] pid_t spawn(const int (&fds)[3]) const {
        std::vector<std::string> words = c_.wrapper;
        if (c_.out == Out::limited)
            words.insert(words.end(), {"prlimit", "--fsize=" + std::to_string(c_.limit)});
        if (!c_.env.empty())
            words.emplace_back("env");
        words.insert(words.end(), c_.env.begin(), c_.env.end());
#ifdef EMULATOR
        words.insert(words.end(), {EMULATOR});
#endif
        words.emplace_back(c_.hello ? HELLO : VANTREL);
        words.insert(words.end(), c_.args.begin(), c_.args.end());
        std::vector<char *> argv(words.size() + 1);
        std::transform(words.begin(), words.end(), argv.begin(),
                       [](auto &word) { return word.data(); });
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd) {
            if (fds[fd] < 0)
                posix_spawn_file_actions_addclose(&actions, fd);
            else
                posix_spawn_file_actions_adddup2(&actions, fds[fd], fd);
        }
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        if (!c_.signals_ignored) {
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
            throw std::system_error(error, std::generic_category(), argv[0]);
        return pid;
    }

    // The next step, once the first line is out and the child waits with nothing left unread.
    void step() {
        // Once the child has ended, the terminal is left to close as the child closed it.
        if (terminal_[1] >= 0 && state(pid_) == 'Z') {
            left_as_found();
            close_fd(terminal_[1]);
        }
        const int reading = c_.in == In::terminal ? terminal_[1] : in_[0];
        unread_ = 0;
        check(reading < 0 || ioctl(reading, FIONREAD, &unread_) == 0, "ioctl");
        // The terminal takes what is typed in its own time: the child has taken all it was sent
        // once it has read as many bytes. The child's state, read from /proc, is asked last.
        if (in_[1] < 0 || !pending_.empty() || unread_ != 0 ||
            (out_[0] >= 0 && result_.out.size() < prompt_.size()) ||
            (c_.in == In::terminal && waited_ && bytes_read() < read_at_wait_ + typed_) ||
            state(pid_) == 'R')
            return;
        if (!waited_) {
            EXPECT_EQ(result_.out.substr(0, prompt_.size()), prompt_) << "before any input";
            waited_ = true;
            read_at_wait_ = bytes_read();
            if (c_.once_waiting != nullptr)
                return c_.once_waiting(pid_);
        }
        if (next_ < pieces_.size()) {
            pending_ = std::string_view(c_.input).substr(sent_, pieces_[next_++]);
            sent_ += pending_.size();
            typed_ += static_cast<long long>(pending_.size());
        } else if (c_.in == In::terminal && !c_.raw && !c_.left_open) {
            pending_ = "\x04"; // a canonical terminal's VEOF, at the start of a line
        } else if (!c_.left_open) {
            close_fd(in_[1]);
        }
    }

    // Writes what the child takes of the pending input, and reads what it writes.
    void exchange() {
        pollfd watch[3] = {{pending_.empty() ? -1 : in_[1], POLLOUT, 0},
                           {out_[0], POLLIN, 0},
                           {err_[0], POLLIN, 0}};
        check(poll(watch, 3, 10) >= 0, "poll");
        if (watch[0].revents != 0) {
            const ssize_t n = write(in_[1], pending_.data(), pending_.size());
            check(n >= 0 || errno == EAGAIN || errno == EPIPE, "write");
            pending_.remove_prefix(n >= 0 ? static_cast<std::size_t>(n) : pending_.size());
            if (pending_.empty() && next_ == pieces_.size() && c_.ends_with_last)
                close_fd(in_[1]);
        }
        if (watch[1].revents != 0 && !read_into(out_[0], result_.out))
            close_fd(out_[0]);
        if (watch[2].revents != 0 && read_into(err_[0], result_.err))
            ++result_.err_writes;
        else if (watch[2].revents != 0)
            close_fd(err_[0]);
    }

    // The bytes the child has read, from any descriptor.
    [[nodiscard]] long long bytes_read() const {
        std::ifstream io("/proc/" + std::to_string(pid_) + "/io");
        std::string field;
        long long bytes = 0;
        io >> field >> bytes; // rchar: ...
        return bytes;
    }

    // What the test sees of the child's progress: output, input taken from a pipe or a file
    // (its offset), streams closed, and memory filled, as a long word is copied to grow.
    [[nodiscard]] std::string observe() const {
        return std::to_string(result_.out.size() + result_.err.size()) + ' ' +
               std::to_string(pending_.size()) + ' ' + std::to_string(unread_) + ' ' +
               std::to_string(out_[0] + err_[0]) + ' ' + proc_line(pid_, "fdinfo/0") + ' ' +
               proc_line(pid_, "statm");
    }

    // Whether the child has ended, once it has closed its output, and how.
    bool reaped() {
        int status = 0;
        if (out_[0] >= 0 || err_[0] >= 0 || waitpid(pid_, &status, wait_options_) == 0)
            return false;
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return true;
    }

    // Fails the test with what the child is doing, such as waiting in a read, and kills it.
    void give_up() {
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

    // Checks, once the child has ended, that the descriptors it shares with the test have the
    // settings they had.
    void left_as_found() {
        for (int i = 0; i < 2 && !checked_settings_; ++i) {
            EXPECT_TRUE(shared_[i] < 0 || settings(shared_[i]) == before_[i])
                << "the child changed the settings of its descriptor " << i;
        }
        checked_settings_ = true;
    }

    const Case &c_;
    std::vector<std::size_t> pieces_;
    int in_[2] = {-1, -1};  // the child's standard input, if a pipe or a terminal: its end, ours
    int out_[2] = {-1, -1}; // its standard output likewise
    int err_[2] = {-1, -1}; // its standard error, a socket that keeps each write apart
    int terminal_[2] = {-1, -1}; // a terminal's master, and the device the child gets
    int in_file_ = -1;           // a file of input, whose offset is read at the end
    int out_file_ = -1;          // a file of output, read back at the end
    std::vector<int> owned_;     // descriptors closed with the session
    int shared_[2] = {-1, -1};   // what the child shares with the test and must leave as found
    std::string before_[2];
    bool checked_settings_ = false;
    pid_t pid_ = -1;
    std::string prompt_;   // the expected first line, where the test reads the output
    std::size_t next_ = 0; // the next piece of input
    std::size_t sent_ = 0; // bytes of input sent before it
    std::string_view pending_;
    int unread_ = 0; // what the child has yet to take of what was sent
    bool waited_ = false;
    long long read_at_wait_ = 0; // bytes the child had read when it first waited
    long long typed_ = 0;        // bytes typed at the terminal since
    int wait_options_ = WNOHANG; // for waitpid(2), which waits once the child is killed
    Result result_;
};

inline Result run(const Case &c, const Expected &expected) { return Session(c, expected).finish(); }

// Whether what came is what was expected; if not, both, escaped, from a little before the
// first byte that differs.
inline testing::AssertionResult same(const char * /*came*/, const char * /*expected*/,
                                     const std::string &came, const std::string &expected) {
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

// Checks the output, standard error, ending and input file's offset against expected.
inline void expect(const Result &result, const Expected &expected) {
    EXPECT_PRED_FORMAT2(same, result.out, expected.out) << "in standard output";
    EXPECT_PRED_FORMAT2(same, result.err, expected.err) << "in standard error";
    EXPECT_EQ(result.err_writes, expected.err.empty() ? 0 : 1);
    EXPECT_EQ(std::pair(result.status, result.signal),
              std::pair(expected.signal != 0 ? -1 : expected.status, expected.signal))
        << "the exit status and the signal that ended the child";
    EXPECT_EQ(result.offset, expected.offset) << "the offset of the input file";
}

// Whether a signal ignored stays ignored through a wrapper's exec of the program, as an emulator
// of the whole system may forget: a shell started so under a file size limit shows it.
inline bool ignored_signals_kept() {
    static const bool kept = [] {
        FILE *shell = popen("prlimit --fsize=5 sh -c 'kill -s XFSZ $$ && echo kept'", "r");
        char line[8] = {};
        const bool said = shell != nullptr && fgets(line, sizeof line, shell) != nullptr;
        return (shell == nullptr || pclose(shell) == 0) && said && line == std::string("kept\n");
    }();
    return kept;
}

#endif
