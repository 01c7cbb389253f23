// Cases drawn from a seed, each run through the harness and compared with a model of what the
// programs promise, as their man pages and the README tell it. Every run prints its seed;
// VANTREL_SEED=S runs the cases of seed S again, and VANTREL_CASES=N draws N of them.
#include "child.hpp"

#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <random>
#include <sys/mman.h>

namespace {

// Where standard input comes from, and where standard output goes: In::terminal is both.
enum class In { pipe, socket, fifo, file, terminal, null, closed, write_only, directory };
enum class Out { pipe, socket, file, append, full, limited, gone, gone_socket, closed, full_pipe };

struct Case {
    bool hello = false;
    std::string input;
    std::vector<std::size_t> pieces; // the lengths it comes in, each once the child waits
    bool typed_ahead = false;        // the first piece typed at the terminal before the start
    bool ends_with_last = false;
    bool left_open = false;
    In in = In::pipe;
    bool nonblocking = false;
    bool raw = false;    // the terminal in raw mode
    std::string skipped; // a file's bytes before the offset where the input starts
    Out out = Out::pipe;
    std::string held;      // what the output file holds already
    std::size_t limit = 0; // the output file's size limit, with Out::limited
    bool signals_ignored = false;
    std::vector<std::string> env, args;
};

struct Promise : Expected {
    off_t offset = -1; // where the offset of a file of input stands afterwards
};

constexpr std::string_view whitespace = " \t\n\v\f\r";

// At a canonical terminal, what the terminal shows of text written to it or typed: each line
// feed as CR LF.
std::string shown(const std::string &text)
{
    std::string screen;
    for (const char byte : text)
        screen += byte == '\n' ? "\r\n" : std::string(1, byte);
    return screen;
}

// Why the first write fails, if it does: vantrel's prompt, or hello's line.
std::string first_write_error(const Case &c, std::size_t size)
{
    switch (c.out) {
    case Out::full:
        return "No space left on device";
    case Out::closed:
        return "Bad file descriptor";
    case Out::gone:
    case Out::gone_socket:
        return "Broken pipe";
    case Out::full_pipe:
        return "Resource temporarily unavailable";
    case Out::limited:
        return c.limit < size ? "File too large" : "";
    default:
        return "";
    }
}

// The program fails with the reason, having written out. A write that fails to a pipe or socket
// no one reads, or past a file's size limit, raises a signal, which ends it unless ignored.
Promise failed(const Case &c, Promise p, const std::string &reason, const std::string &out)
{
    p.out = c.held + out;
    const bool signalled = c.out == Out::gone || c.out == Out::gone_socket || c.out == Out::limited;
    if (reason.rfind("write", 0) == 0 && signalled && !c.signals_ignored) {
        p.signal = c.out == Out::limited ? SIGXFSZ : SIGPIPE;
    } else {
        p.err = (c.hello ? "hello: " : "vantrel: ") + reason + "\n";
        p.status = 1;
    }
    return p;
}

// At a canonical terminal, the echo of what was typed ahead, and of what was typed after the
// prompt: the pieces the program waited for, up to the one with the byte at `end`.
std::pair<std::string, std::string> echoes(const Case &c, std::size_t end)
{
    std::string ahead;
    std::string after;
    for (std::size_t i = 0, typed = 0; i < c.pieces.size() && typed <= end; typed += c.pieces[i++])
        (i == 0 && c.typed_ahead ? ahead : after) += shown(c.input.substr(typed, c.pieces[i]));
    return {ahead, after};
}

// What the program must do with the case: the model.
Promise model(const Case &c)
{
    const std::string first = c.hello ? greeting : reset_and_prompt;
    Promise p;
    p.offset = static_cast<off_t>(c.skipped.size());
    if (const std::string error = first_write_error(c, first.size()); !error.empty())
        return failed(c, p, "write error: " + error,
                      c.out == Out::limited ? first.substr(0, c.limit) : "");
    if (!c.hello && (c.in == In::write_only || c.in == In::directory))
        return failed(c, p,
                      c.in == In::directory ? "read error: Is a directory"
                                            : "read error: Bad file descriptor",
                      first);
    // One word: whitespace skipped, then every byte up to the next whitespace or the end.
    const std::string input = c.hello || c.in == In::null || c.in == In::closed ? "" : c.input;
    const std::size_t start = std::min(input.find_first_not_of(whitespace), input.size());
    const std::size_t end = std::min(input.find_first_of(whitespace, start), input.size());
    const std::string word = input.substr(start, end - start);
    p.offset += static_cast<off_t>(start == end ? input.size() : end);
    std::string out = first;
    if (!c.hello) {
        out += word == "Velmot" || word == "velmot" ? praise_of(word) : insult_of(word);
    }
    if (c.in == In::terminal && !c.raw) {
        const auto [ahead, after] = echoes(c, end);
        out = ahead + shown(first) + after + out.substr(first.size());
    }
    if (c.out == Out::limited && c.limit < out.size())
        return failed(c, p, "write error: File too large", out.substr(0, c.limit));
    p.out = c.held + out;
    return p;
}

// A byte string as printf(1) takes it in single quotes: what is not printable in octal.
std::string quoted(const std::string &bytes)
{
    std::string text = "'";
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= 0x20 && code < 0x7f && byte != '\\' && byte != '\'') {
            text += byte;
        } else {
            const char octal[] = {'\\', '0', static_cast<char>('0' + (code >> 6)),
                                  static_cast<char>('0' + ((code >> 3) & 7)),
                                  static_cast<char>('0' + (code & 7))};
            text.append(octal, sizeof octal);
        }
    }
    return text + "'";
}

// The case as a shell line where one can show it, and the rest in words.
std::string described(const Case &c)
{
    static const char *const ins[] = {"a pipe", "a socket",   "a FIFO",
                                      "a file", "a terminal", "/dev/null",
                                      "closed", "write-only", "a directory"};
    static const char *const outs[] = {"a pipe",
                                       "a socket",
                                       "a file",
                                       "an appended file",
                                       "/dev/full",
                                       "a limited file",
                                       "a pipe none reads",
                                       "a socket none reads",
                                       "closed",
                                       "a full pipe"};
    std::string line =
        "printf %b " + quoted(c.input.substr(0, 300)) + (c.in == In::file ? " >input && " : " | ");
    if (c.out == Out::limited)
        line += "prlimit --fsize=" + std::to_string(c.limit) + " ";
    if (!c.env.empty())
        line += "env ";
    for (const std::string &word : c.env)
        line.append(word) += ' ';
    line += c.hello ? "hello" : "vantrel";
    for (const std::string &arg : c.args)
        line.append(" ") += quoted(arg);
    line += c.in == In::file ? " <input" : "";
    line.append("\n  input: ").append(std::to_string(c.input.size())).append(" bytes through ");
    line.append(ins[static_cast<int>(c.in)]).append(c.raw ? " in raw mode" : "");
    line.append(c.nonblocking ? ", non-blocking" : "").append(", in pieces of");
    for (const std::size_t piece : c.pieces)
        line.append(" ") += std::to_string(piece);
    line += std::string(c.typed_ahead ? ", the first typed ahead" : "") +
            (c.left_open        ? ", never ended"
             : c.ends_with_last ? ", ended with the last"
                                : "");
    if (!c.skipped.empty())
        line += ", after " + std::to_string(c.skipped.size()) + " bytes of the file";
    if (c.in != In::terminal)
        line += "\n  output: " + std::string(outs[static_cast<int>(c.out)]) +
                (c.held.empty() ? "" : " holding " + quoted(c.held)) +
                (c.signals_ignored ? ", SIGPIPE and SIGXFSZ ignored" : "");
    return line;
}

// A descriptor opened for one case, closed after it.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int opened) : fd(opened)
    {
        check(fd >= 0, "descriptor");
    }
    Descriptor(Descriptor &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Descriptor()
    {
        close_fd(fd);
    }
};

Descriptor file_holding(const std::string &bytes)
{
    Descriptor file(memfd_create("case", MFD_CLOEXEC));
    check(write(file.fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
          "write");
    return file;
}

// Standard input as the case has it, given to the run: a descriptor of the test's, or pieces.
Descriptor input_for(const Case &c, Run &run)
{
    std::size_t from = 0;
    for (const std::size_t piece : c.pieces) {
        (from == 0 && c.typed_ahead ? run.typed_ahead : run.input.emplace_back()) =
            c.input.substr(from, piece);
        from += piece;
    }
    run.input_channel = c.in == In::socket ? Channel::socket
                        : c.in == In::fifo ? Channel::fifo
                                           : Channel::pipe;
    if (c.in < In::file || c.in == In::terminal)
        return {};
    run.input.clear();
    Descriptor in;
    if (c.in == In::file) {
        in = file_holding(c.skipped + c.input);
        check(lseek(in.fd, static_cast<off_t>(c.skipped.size()), SEEK_SET) >= 0, "lseek");
    } else if (c.in != In::closed) {
        in = Descriptor(open(c.in == In::directory ? "/" : "/dev/null",
                             (c.in == In::write_only ? O_WRONLY : O_RDONLY) | O_CLOEXEC));
    }
    run.in = in.fd;
    return in;
}

// Standard output as the case has it, given to the run; a pipe's other end in peer.
Descriptor output_for(const Case &c, Run &run, Descriptor &peer)
{
    run.output_channel = c.out == Out::socket ? Channel::socket : Channel::pipe;
    Descriptor out;
    int ends[2] = {-1, -1};
    if (c.out == Out::file || c.out == Out::append || c.out == Out::limited) {
        out = file_holding(c.held);
        check(c.out != Out::append ||
                  (lseek(out.fd, 0, SEEK_SET) == 0 && fcntl(out.fd, F_SETFL, O_APPEND) == 0),
              "output file");
    } else if (c.out == Out::full) {
        out = Descriptor(open("/dev/full", O_WRONLY | O_CLOEXEC));
    } else if (c.out == Out::full_pipe || c.out == Out::gone) {
        check(pipe2(ends, O_CLOEXEC | (c.out == Out::full_pipe ? O_NONBLOCK : 0)) == 0, "pipe2");
        while (c.out == Out::full_pipe && write(ends[1], "x", 1) == 1) {
        }
    } else if (c.out == Out::gone_socket) {
        check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "socketpair");
    }
    if (ends[1] >= 0) {
        out = Descriptor(ends[1]);
        if (c.out == Out::full_pipe)
            peer = Descriptor(ends[0]); // its reader, which reads nothing
        else
            close(ends[0]); // the reader gone
    }
    if (c.in != In::terminal && c.out != Out::pipe && c.out != Out::socket)
        run.out = out.fd;
    if (c.out == Out::limited)
        run.wrapper = {"prlimit", "--fsize=" + std::to_string(c.limit)};
    return out;
}

// Whether signals ignored reach the program: an emulator of the whole system forgets them in a
// wrapper's exec, as for a size limit or an environment.
bool kept(const Case &c)
{
    return (c.out != Out::limited && c.env.empty()) || ignored_signals_kept();
}

// Runs the case through the harness and checks it against the model.
void check_case(const Case &c)
{
    const Promise promise = model(c);
    Run run{.program = c.hello ? HELLO : VANTREL,
            .input_left_open = c.left_open,
            .input_ends_with_last = c.ends_with_last,
            .nonblocking_input = c.nonblocking,
            .terminal = c.in == In::terminal,
            .raw = c.raw,
            .signals_ignored = c.signals_ignored,
            .args = c.args};
    const Descriptor in = input_for(c, run);
    Descriptor peer;
    const Descriptor out = output_for(c, run, peer);
    if (!c.env.empty()) {
        run.wrapper.emplace_back("env");
        run.wrapper.insert(run.wrapper.end(), c.env.begin(), c.env.end());
    }
    expect(::run(run, promise), promise);
    if (c.in == In::file) {
        EXPECT_EQ(lseek(in.fd, 0, SEEK_CUR), promise.offset) << "the offset of the input file";
    }
}

// Draws cases from a seed, with the same numbers wherever it runs.
class Draw {
  public:
    explicit Draw(std::uint64_t seed) : random_(seed) {}

    std::size_t below(std::size_t n)
    {
        return n == 0 ? 0 : static_cast<std::size_t>(random_() % n);
    }
    bool one_in(std::size_t n)
    {
        return below(n) == 0;
    }
    template <typename T> T one_of(std::initializer_list<T> values)
    {
        return values.begin()[below(values.size())];
    }

    // Lengths weighted at and around powers of two and the sizes of the stream's buffer and of
    // a pipe's.
    std::size_t length(std::size_t most)
    {
        const std::size_t sizes[] = {below(3), below(20), (std::size_t{1} << below(17)) - 1,
                                     one_of<std::size_t>({8191, 8192, 16383, 65536})};
        // Each draw a statement of its own: the order of the operands of + is the compiler's.
        const std::size_t size = sizes[below(4)];
        return std::min(size + below(3), most);
    }

    // Bytes from the alphabet, or any byte but whitespace if it is empty.
    std::string bytes(std::size_t n, std::string_view alphabet)
    {
        std::string text;
        while (text.size() < n) {
            const auto byte =
                alphabet.empty() ? static_cast<char>(below(256)) : alphabet[below(alphabet.size())];
            if (!alphabet.empty() || whitespace.find(byte) == std::string_view::npos)
                text += byte;
        }
        return text;
    }

    Case next()
    {
        Case c;
        c.hello = one_in(5);
        c.in = one_of({In::pipe, In::pipe, In::socket, In::fifo, In::file, In::file, In::terminal,
                       In::terminal, In::null, In::closed, In::write_only, In::directory});
        c.nonblocking = (c.in <= In::fifo || c.in == In::terminal) && one_in(2);
        c.raw = c.in == In::terminal && one_in(2);
        draw_input(c);
        draw_pieces(c);
        const std::size_t end =
            c.input.find_first_of(whitespace, c.input.find_first_not_of(whitespace));
        c.left_open = (c.hello || end != std::string::npos) && one_in(3);
        c.ends_with_last = !c.left_open && c.in != In::terminal && one_in(2);
        if (c.in == In::file && one_in(2))
            c.skipped = bytes(length(10000), "");
        if (c.in != In::terminal)
            draw_output(c);
        for (const char *variable : {"TERM=", "LANG=", "LC_ALL="}) {
            if (one_in(3))
                c.env.push_back(variable + one_of<std::string>({"", "dumb", "xterm-256color", "C",
                                                                "C.UTF-8", "POSIX"}));
        }
        for (std::size_t i = below(3); i > 0; --i)
            c.args.push_back(one_of<std::string>({"--help", "--version", "-", "velmot", ""}));
        c.signals_ignored = c.in != In::terminal && one_in(2) && kept(c);
        return c;
    }

  private:
    // Whitespace, a word (the name, a near miss of it, or any bytes), and maybe more. A
    // canonical terminal edits lines of at most 4095 bytes and takes control bytes as commands:
    // it is typed printable text, whole lines. A raw one has no end of input: the word ends.
    void draw_input(Case &c)
    {
        const bool canonical = c.in == In::terminal && !c.raw;
        const std::string spaces(canonical ? " \t\n" : whitespace);
        std::string letters;
        for (int byte = canonical ? 0x21 : 1; byte < 256; ++byte) {
            if (byte != 0x7f && whitespace.find(static_cast<char>(byte)) == std::string::npos)
                letters += static_cast<char>(byte);
        }
        if (!canonical && one_in(4))
            letters.clear(); // any byte, NUL too
        const std::size_t most = c.in == In::terminal ? 1000 : 140000;
        auto word = one_of<std::string>({"Velmot", "velmot", "V\xe9lmot", ""});
        if (!word.empty() && one_in(2))
            word[below(word.size())] = bytes(1, letters)[0];
        else if (word.empty() || one_in(2))
            word = bytes(length(most), letters);
        c.input = bytes(length(most), spaces) + word;
        if (one_in(3) || c.raw) {
            c.input += bytes(1 + below(2), spaces);
            c.input += bytes(length(most), letters + spaces);
        }
        if (canonical && (c.input.empty() || c.input.back() != '\n'))
            c.input += '\n';
        if (c.raw && word.empty())
            c.input += "x ";
    }

    // Pieces at drawn points or, at a canonical terminal, after drawn lines. At a terminal,
    // nothing is typed after the line that ends the word, whose echo could come after the
    // answer; hello reads nothing, and is at most typed ahead to.
    void draw_pieces(Case &c)
    {
        const bool canonical = c.in == In::terminal && !c.raw;
        std::vector<std::size_t> ends = {c.input.size()};
        for (std::size_t i = below(4); i > 0 && !c.input.empty(); --i) {
            const std::size_t at = 1 + below(c.input.size());
            if (!canonical || c.input[at - 1] == '\n')
                ends.push_back(at);
        }
        std::sort(ends.begin(), ends.end());
        ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
        for (std::size_t i = 0, from = 0; i < ends.size(); from = ends[i++])
            c.pieces.push_back(ends[i] - from);
        c.typed_ahead = c.in == In::terminal && one_in(3);
        if (c.in != In::terminal)
            return;
        const std::size_t end =
            c.input.find_first_of(whitespace, c.input.find_first_not_of(whitespace));
        std::size_t kept = end == std::string::npos ? c.input.size()
                           : c.raw                  ? end + 1
                                                    : c.input.find('\n', end) + 1;
        c.input.resize(c.hello ? (c.typed_ahead ? c.pieces[0] : 0)
                               : std::min(kept, c.input.size()));
        kept = 0;
        for (std::size_t typed = 0; typed < c.input.size(); typed += c.pieces[kept++])
            c.pieces[kept] = std::min(c.pieces[kept], c.input.size() - typed);
        c.pieces.resize(kept);
    }

    void draw_output(Case &c)
    {
        c.out = one_of({Out::pipe, Out::pipe, Out::socket, Out::file, Out::append, Out::full,
                        Out::limited, Out::limited, Out::gone, Out::gone_socket, Out::closed,
                        Out::full_pipe});
        if ((c.out == Out::file || c.out == Out::append) && one_in(2))
            c.held = "an earlier line\n";
        if (c.out == Out::limited) {
            Case unlimited = c;
            unlimited.out = Out::pipe;
            c.limit = below(model(unlimited).out.size() + 3);
        }
    }

    std::mt19937_64 random_;
};

std::uint64_t number(const char *variable, std::uint64_t otherwise)
{
    const char *value = std::getenv(variable);
    return value != nullptr ? std::strtoull(value, nullptr, 10) : otherwise;
}

TEST(BothPrograms, KeepTheirPromisesInCasesOfTheirOwn)
{
    const std::string velmot_rest = "velmot\nrest\n";
    const std::string spaces(9000, ' ');
    std::vector<std::pair<std::string, Case>> cases = {
        // Runs on one file take a word each, the offset just past it, also beyond a read.
        {"a file, its first word", {.input = "velmot\n\nBob and more\n", .in = In::file}},
        {"a file, its next word",
         {.input = "\n\nBob and more\n", .in = In::file, .skipped = "velmot"}},
        {"a file of spaces, its first word", {.input = spaces + "Bob velmot", .in = In::file}},
        {"a file of spaces, its next word",
         {.input = " velmot", .in = In::file, .skipped = spaces + "Bob"}},
        {"a word that ends where a read ends",
         {.input = std::string(8185, ' ') + "velmot\nmore\n", .in = In::file}},
        {"a word and its line feed in a file", {.input = "Bob\n", .in = In::file}},
        {"a file's rest left though the answer fails",
         {.input = velmot_rest,
          .in = In::file,
          .out = Out::limited,
          .limit = 32,
          .signals_ignored = true}},
        {"a name in two pieces at a raw terminal",
         {.input = "velmot\n", .pieces = {3, 4}, .in = In::terminal, .raw = true}},
        {"a blank line, then the name, at a terminal",
         {.input = "\nvelmot\n", .pieces = {1, 7}, .in = In::terminal}},
        {"a non-blocking socket, the word split",
         {.input = "Velmot\n", .pieces = {3, 4}, .in = In::socket, .nonblocking = true}},
        {"a non-blocking terminal",
         {.input = "velmot\n", .pieces = {7}, .in = In::terminal, .nonblocking = true}},
        {"output after a line a file holds",
         {.input = "velmot\n", .pieces = {7}, .out = Out::file, .held = "an earlier line\n"}},
        {"the commonest terminal type",
         {.input = "velmot\n", .pieces = {7}, .env = {"TERM=xterm-256color"}}},
        {"a Latin-1 word", {.input = "V\xe9lmot\n", .pieces = {7}}},
        {"a socket no one reads", {.out = Out::gone_socket}},
        {"a socket no one reads, SIGPIPE ignored",
         {.out = Out::gone_socket, .signals_ignored = true}},
        {"hello with a name waiting in a file",
         {.hello = true, .input = velmot_rest, .in = In::file}},
    };
    // Output that fails, for both programs: the reason on standard error, or the signal that ends
    // them, unless ignored. Part of a write goes out to a file before its size limit. The prompt
    // cannot be written, so vantrel must not wait for a name.
    const struct {
        const char *what;
        Out out;
        bool ignored = false;
        std::size_t limit = 0;
    } outputs[] = {{"a full disk", Out::full},
                   {"no output", Out::closed},
                   {"the reader gone", Out::gone},
                   {"the reader gone, SIGPIPE ignored", Out::gone, true},
                   {"a full pipe", Out::full_pipe},
                   {"a file size limit", Out::limited, false, 5},
                   {"a file size limit, SIGXFSZ ignored", Out::limited, true, 5}};
    for (const bool hello : {false, true}) {
        for (const auto &[what, out, ignored, limit] : outputs) {
            cases.push_back({what,
                             {.hello = hello,
                              .left_open = true,
                              .out = out,
                              .limit = limit,
                              .signals_ignored = ignored}});
        }
        // Arguments change nothing.
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
                 {"--help"}, {"--version"}, {"-n", "x", ""}, {"Velmot", "-"}})
            cases.push_back(
                {"arguments", {.hello = hello, .input = "velmot\n", .pieces = {7}, .args = args}});
    }
    // The answer cannot be written: none of it, or only its start; and input that fails to a
    // full disk.
    for (const std::size_t limit : {std::size_t{32}, std::size_t{46}}) {
        cases.push_back({"room for part of the answer",
                         {.input = "velmot\n",
                          .pieces = {7},
                          .out = Out::limited,
                          .limit = limit,
                          .signals_ignored = true}});
    }
    cases.push_back({"a full disk, input failing", {.in = In::directory, .out = Out::full}});
    for (const auto &[what, c] : cases) {
        if (c.signals_ignored && !kept(c))
            continue; // a signal ignored is forgotten on the way to the program
        SCOPED_TRACE(what + ": " + described(c));
        check_case(c);
        if (HasFailure())
            return;
    }
}

TEST(BothPrograms, KeepTheirPromisesInDrawnCases)
{
#ifdef EMULATOR
    const std::uint64_t cases = number("VANTREL_CASES", 40);
#else
    const std::uint64_t cases = number("VANTREL_CASES", 400);
#endif
    const std::uint64_t seed = number("VANTREL_SEED", std::random_device{}());
    std::cout << "drawing " << cases << " cases from seed " << seed << ": VANTREL_SEED=" << seed
              << " VANTREL_CASES=" << cases << " draws them again\n";
    Draw draw(seed);
    for (std::uint64_t i = 0; i < cases; ++i) {
        const Case c = draw.next();
        SCOPED_TRACE("case " + std::to_string(i) + " of seed " + std::to_string(seed) + ": " +
                     described(c));
        check_case(c);
        if (HasFailure())
            return;
    }
}

} // namespace
