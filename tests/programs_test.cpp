// The programs run on cases named for the behaviours they show, and on cases drawn from a seed,
// each compared with a model of what the programs promise, as their man pages and the README
// tell it. Every run of the drawn cases prints its seed; VANTREL_SEED=S runs the cases of seed S
// again, and VANTREL_CASES=N draws N of them.
#include "child.hpp"

#include <cstdint>
#include <cstdlib>
#include <elf.h>
#include <optional>
#include <random>
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

constexpr std::string_view whitespace = " \t\n\v\f\r";

// What a canonical terminal shows of text written to it or typed: each line feed as CR LF.
std::string shown(const std::string &text) {
    std::string screen;
    for (const char byte : text)
        screen += byte == '\n' ? "\r\n" : std::string(1, byte);
    return screen;
}

// Why the first write fails, if it does: vantrel's prompt, or hello's line.
std::string first_write_error(const Case &c, std::size_t size) {
    switch (c.in == In::terminal ? Out::pipe : c.out) {
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
Expected failed(const Case &c, Expected p, const std::string &reason, const std::string &out) {
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
std::pair<std::string, std::string> echoes(const Case &c, std::size_t end) {
    std::string ahead;
    std::string after;
    const std::vector<std::size_t> sizes = pieces(c);
    for (std::size_t i = 0, typed = 0; i < sizes.size() && typed <= end; typed += sizes[i++])
        (i == 0 && c.typed_ahead ? ahead : after) += shown(c.input.substr(typed, sizes[i]));
    return {ahead, after};
}

// What the program must do with the case: the model.
Expected model(const Case &c) {
    const std::string first = c.hello ? greeting : reset_and_prompt;
    Expected p;
    p.offset = c.in == In::file ? static_cast<off_t>(c.skipped.size()) : -1;
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
    if (p.offset >= 0)
        p.offset += static_cast<off_t>(start == end ? input.size() : end);
    if (!c.hello && c.in == In::reset && end == input.size()) // the end never came
        return failed(c, p, "read error: Connection reset by peer", first);
    std::string out = first;
    if (!c.hello)
        out += word == "Velmot" || word == "velmot" ? praise_of(word) : insult_of(word);
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
std::string quoted(const std::string &bytes) {
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
std::string described(const Case &c) {
    const auto nth = [](std::string_view names, int i) {
        for (; i > 0; --i)
            names.remove_prefix(names.find(", ") + 2);
        return std::string(names.substr(0, names.find(", ")));
    };
    std::string line =
        "printf %b " + quoted(c.input.substr(0, 300)) + (c.in == In::file ? " >input && " : " | ");
    for (const std::string &word : c.wrapper)
        line.append(word) += ' ';
    if (c.out == Out::limited)
        line += "prlimit --fsize=" + std::to_string(c.limit) + " ";
    for (const std::string &word : c.env)
        line.append(&word == c.env.data() ? "env " : "").append(word) += ' ';
    line += c.hello ? "hello" : "vantrel";
    for (const std::string &arg : c.args)
        line.append(" ") += quoted(arg);
    line += c.in == In::file ? " <input" : "";
    line.append("\n  input: ").append(std::to_string(c.input.size())).append(" bytes through ");
    line.append(nth("a pipe, a socket, a FIFO, a file, a terminal, /dev/null, closed, write-only, "
                    "a directory, a socket then reset",
                    static_cast<int>(c.in)))
        .append(c.raw ? " in raw mode" : "");
    line.append(c.nonblocking ? ", non-blocking" : "").append(", in pieces of");
    for (const std::size_t piece : pieces(c))
        line.append(" ") += std::to_string(piece);
    line += std::string(c.typed_ahead ? ", the first typed ahead" : "") +
            (c.left_open        ? ", never ended"
             : c.ends_with_last ? ", ended with the last"
                                : "");
    if (!c.skipped.empty())
        line += ", after " + std::to_string(c.skipped.size()) + " bytes of the file";
    if (c.in != In::terminal)
        line += "\n  output: " +
                nth("a pipe, a socket, a file, an appended file, /dev/full, a limited file, a pipe "
                    "none reads, a socket none reads, closed, a full pipe",
                    static_cast<int>(c.out)) +
                (c.held.empty() ? "" : " holding " + quoted(c.held)) +
                (c.signals_ignored ? ", SIGPIPE and SIGXFSZ ignored" : "");
    return line;
}

// Whether signals ignored reach the program: an emulator of the whole system forgets them in a
// wrapper's exec, as for a size limit or an environment.
bool kept(const Case &c) {
    return (c.out != Out::limited && c.env.empty() && c.wrapper.empty()) || ignored_signals_kept();
}

// A case with a name, and what it must do where the model does not say.
struct Row {
    std::string what;
    Case c;
    std::optional<Expected> expected;
};

// Runs each row and checks it, and stops at the first that fails.
void check_rows(const std::vector<Row> &rows) {
    for (const auto &[what, c, given] : rows) {
        if (c.signals_ignored && !kept(c))
            continue; // a signal ignored is forgotten on the way to the program
        SCOPED_TRACE(what + ": " + described(c));
        const Expected expected = given ? *given : model(c);
        expect(run(c, expected), expected);
        if (testing::Test::HasFailure())
            return;
    }
}

Expected failure(const std::string &line) {
    return {.out = reset_and_prompt, .err = "vantrel: " + line + "\n", .status = 1};
}

TEST(Vantrel, AnswersEachInputWithTheExactDialogue) {
    const std::string long_word(3 << 20, 'x');
    const std::string spaces(9000, ' ');
    check_rows({
        {"the name", {.input = "Velmot\n"}},
        {"the name in lower case", {.input = "velmot\n"}},
        {"capitals", {.input = "VELMOT\n"}},
        {"the last letter a capital", {.input = "VelmoT\n"}},
        {"a longer word", {.input = "Velmot!\n"}},
        {"a shorter word", {.input = "Velmo\n"}},
        {"leading whitespace", {.input = " \t\v\f\r\n\n  velmot\n"}},
        {"leading whitespace beyond a read", {.input = std::string(100 << 10, ' ') + "velmot"}},
        {"a CR LF line end", {.input = "Velmot\r\n"}},
        {"a tab after the word", {.input = "velmot\tx\n"}},
        {"a vertical tab after the word", {.input = "velmot\vx"}},
        {"a form feed after the word", {.input = "velmot\fx"}},
        {"a lone CR after the word", {.input = "velmot\rx"}},
        {"no final line feed", {.input = "velmot"}},
        {"empty input", {}},
        {"whitespace only", {.input = " \t\r\n\n"}},
        {"a second word and line", {.input = "Velmot is\nhere\n"}},
        {"UTF-8 letters", {.input = "V\xc3\xa9lmot\n"}},
        {"a Latin-1 word", {.input = "V\xe9lmot\n"}},
        // 0xA0 is a space but for its top bit; a byte order mark is no whitespace either.
        {"a byte whose low bits are a space", {.input = "V\xc3\xa0lmot\n"}},
        {"a byte order mark", {.input = "\xef\xbb\xbfvelmot\n"}},
        {"an ESC byte", {.input = "vel\x1bmot\n"}},
        {"a NUL byte after the name", {.input = "Velmot\0\n"s}},
        {"a word of several MiB", {.input = long_word}},
        {"a UTF-8 locale and a dumb terminal, an em space after the word",
         {.input = "velmot\u2003x\n", .env = {"TERM=dumb", "LC_ALL=C.UTF-8"}}},
        {"the commonest terminal type", {.input = "velmot\n", .env = {"TERM=xterm-256color"}}},
        {"the rest of the line to come", {.input = "Velmot and more\n", .left_open = true}},
        {"the line feed to come", {.input = "Velmot ", .left_open = true}},
        {"closed standard input", {.in = In::closed}},
        {"a directory", {.in = In::directory}},
        {"input open for writing only", {.in = In::write_only}},
        {"a connection reset after part of the word", {.input = "Velm", .in = In::reset}},
        // Non-blocking input is waited for, and the word goes on after a pause.
        {"the word split", {.input = "velmot\n", .pieces = {3, 4}, .nonblocking = true}},
        {"whitespace, then the word",
         {.input = " \n\tVelmot\n", .pieces = {3, 7}, .nonblocking = true}},
        {"a pause at the end of the word",
         {.input = "velmot\nBob\n", .pieces = {3, 3, 5}, .nonblocking = true}},
        {"the word split, no line feed",
         {.input = "Velmot", .pieces = {3, 3}, .nonblocking = true}},
        // The wait then sees the pipe hung up, and no input to read.
        {"the writer gone during a pause", {.input = "Velmot", .nonblocking = true}},
        {"the last piece and the end together",
         {.input = "velmot", .pieces = {3, 3}, .ends_with_last = true, .nonblocking = true}},
        {"a non-blocking socket, the word split",
         {.input = "Velmot\n", .pieces = {3, 4}, .in = In::socket, .nonblocking = true}},
#ifndef ADDRESS_SANITIZER // whose type checks probe memory through a pipe of their own
        // Without descriptors to open, poll(2) fails: the wait after the first piece of the word
        // cannot be made, and vantrel must stop instead of trying again.
        {"no wait possible",
         {.input = "vel",
          .left_open = true,
          .nonblocking = true,
          .once_waiting =
              [](pid_t pid) {
                  const rlimit none{0, 0};
                  check(prlimit(pid, RLIMIT_NOFILE, &none, nullptr) == 0, "prlimit");
              }},
         failure("read error: Invalid argument")},
#endif
        // Interrupted at the prompt, vantrel ends by the signal, as programs do.
        {"SIGINT at the prompt",
         {.left_open = true, .once_waiting = [](pid_t pid) { kill(pid, SIGINT); }},
         Expected{.out = reset_and_prompt, .signal = SIGINT}},
        {"SIGTERM at the prompt",
         {.left_open = true, .once_waiting = [](pid_t pid) { kill(pid, SIGTERM); }},
         Expected{.out = reset_and_prompt, .signal = SIGTERM}},
        // At a terminal, which echoes the typing, turns each line feed written into CR LF, and
        // is left with the flags and modes it was found in.
        {"a terminal", {.input = "velmot\n", .in = In::terminal}},
        {"typing ahead of the prompt",
         {.input = "velmot\n", .typed_ahead = true, .in = In::terminal}},
        {"a non-blocking terminal", {.input = "velmot\n", .in = In::terminal, .nonblocking = true}},
        {"a name in two pieces at a raw terminal",
         {.input = "velmot\n", .pieces = {3, 4}, .in = In::terminal, .raw = true}},
        {"a blank line, then the name, at a terminal",
         {.input = "\nvelmot\n", .pieces = {1, 7}, .in = In::terminal}},
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
         {.input = "velmot\nrest\n",
          .in = In::file,
          .out = Out::limited,
          .limit = 32,
          .signals_ignored = true}},
        {"output after a line a file holds",
         {.input = "velmot\n", .out = Out::file, .held = "an earlier line\n"}},
        {"output appended to a file", {.input = "velmot\n", .out = Out::append, .held = "line\n"}},
        {"a full disk, input failing", {.in = In::directory, .out = Out::full}},
    });
}

TEST(BothPrograms, KeepTheirPromisesInCasesOfTheirOwn) {
    std::vector<Row> rows = {
        {"hello with a name waiting in a file",
         {.hello = true, .input = "velmot\nrest\n", .in = In::file}},
        {"hello at a terminal", {.hello = true, .in = In::terminal}},
    };
    // Output that fails, for both programs: the reason on standard error, or the signal that ends
    // them, unless ignored. Part of a write goes out to a file before its size limit. The prompt
    // cannot be written, so vantrel must not wait for a name.
    for (const bool hello : {false, true}) {
        for (const Out out :
             {Out::full, Out::closed, Out::gone, Out::gone_socket, Out::full_pipe, Out::limited}) {
            for (const bool ignored : {false, true})
                rows.push_back({"output that fails",
                                {.hello = hello,
                                 .left_open = true,
                                 .out = out,
                                 .limit = 5,
                                 .signals_ignored = ignored}});
        }
        // Arguments change nothing.
        for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
                 {"--help"}, {"--version"}, {"-n", "x", ""}, {"Velmot", "-"}})
            rows.push_back({"arguments", {.hello = hello, .input = "velmot\n", .args = args}});
    }
    // The answer cannot be written: none of it, or only its start.
    for (const std::size_t limit : {std::size_t{32}, std::size_t{46}}) {
        rows.push_back(
            {"room for part of the answer",
             {.input = "velmot\n", .out = Out::limited, .limit = limit, .signals_ignored = true}});
    }
    check_rows(rows);
}

TEST(Vantrel, StopsWhenMemoryRunsOutReadingTheName) {
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
    const Result hello = run({.hello = true, .wrapper = cap}, {});
    if (hello.status != 0)
        GTEST_SKIP() << "the emulator cannot run a program in capped memory: " << hello.err;
    const Case big = {.input = std::string(64 << 20, 'x'), .wrapper = cap};
    const Result result = run(big, failure("memory exhausted"));
    if (result.status == 0 && result.out == model(big).out)
        GTEST_SKIP() << "the cap did not hold: the word of 64 MiB was answered";
    expect(result, failure("memory exhausted"));
    check_rows({{"a short name", {.input = "velmot\n", .wrapper = cap}}});
}

TEST(Vantrel, RefusesAWordLongerThanTheStringCanHold) {
    std::ifstream program(VANTREL, std::ios::binary);
    Elf32_Ehdr header{};
    ASSERT_TRUE(program.read(reinterpret_cast<char *>(&header), sizeof header));
    if (header.e_ident[EI_CLASS] != ELFCLASS32)
        GTEST_SKIP() << "only a 32-bit program has strings shorter than the memory for them";
    // A file of 1.1 GiB of NUL bytes, which are not whitespace: one word longer than the
    // 1 GiB - 1 bytes that a string can hold, with no memory of its own.
    const Expected too_long = failure("name too long");
    const Result result =
        run({.in = In::file, .zeros = off_t{1} << 30 | off_t{100} << 20}, too_long);
    // Memory may run out first, as where a process has 2 GiB to map (32-bit MIPS) or an emulator
    // gives it less: the last steps of the string's growth need 1.5 GiB and 2 GiB. The program
    // must then have read at least a quarter of the longest word.
    const bool memory_first =
        result.err == "vantrel: memory exhausted\n" && result.offset >= off_t{1} << 28;
    SCOPED_TRACE(std::to_string(result.offset) + " bytes of the word read" +
                 (memory_first ? ", then memory ran out" : ""));
    Expected expected = memory_first ? failure("memory exhausted") : too_long;
    expected.offset = result.offset;
    expect(result, expected);
}

// Draws cases from a seed, with the same numbers wherever it runs.
class Draw {
  public:
    explicit Draw(std::uint64_t seed) : random_(seed) {}

    std::size_t below(std::size_t n) {
        return n == 0 ? 0 : static_cast<std::size_t>(random_() % n);
    }
    bool one_in(std::size_t n) { return below(n) == 0; }
    template <typename T> T one_of(std::initializer_list<T> values) {
        return values.begin()[below(values.size())];
    }

    // Lengths weighted at and around powers of two and the sizes of the stream's buffer and of
    // a pipe's.
    std::size_t length(std::size_t most) {
        const std::size_t sizes[] = {below(3), below(20), (std::size_t{1} << below(17)) - 1,
                                     one_of<std::size_t>({8191, 8192, 16383, 65536})};
        // Each draw a statement of its own: the order of the operands of + is the compiler's.
        const std::size_t size = sizes[below(4)];
        return std::min(size + below(3), most);
    }

    // Bytes from the alphabet, or any byte but whitespace if it is empty.
    std::string bytes(std::size_t n, std::string_view alphabet) {
        std::string text;
        while (text.size() < n) {
            const auto byte =
                alphabet.empty() ? static_cast<char>(below(256)) : alphabet[below(alphabet.size())];
            if (!alphabet.empty() || whitespace.find(byte) == std::string_view::npos)
                text += byte;
        }
        return text;
    }

    Case next() {
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
    void draw_input(Case &c) {
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
    void draw_pieces(Case &c) {
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
        c.typed_ahead = c.typed_ahead && !c.pieces.empty();
    }

    void draw_output(Case &c) {
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

std::uint64_t number(const char *variable, std::uint64_t otherwise) {
    const char *value = std::getenv(variable);
    return value != nullptr ? std::strtoull(value, nullptr, 10) : otherwise;
}

TEST(BothPrograms, KeepTheirPromisesInDrawnCases) {
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
        const Expected expected = model(c);
        expect(run(c, expected), expected);
        if (HasFailure())
            return;
    }
}

} // namespace
