// vantrel: clear the terminal, ask for a name and pass judgement on it.

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

// The read below takes what libstdc++ does, with its new string ABI, beyond
// what the standard promises. Built on another library, a failed read could
// pass for the end of input and a pause on non-blocking input for an error or
// the end; such a build is refused.
#if !defined(__GLIBCXX__) || !_GLIBCXX_USE_CXX11_ABI
static_assert(false, "vantrel relies on libstdc++ with its new string ABI: its file buffer "
                     "throws read errors out of the extractor with errno's code, and its "
                     "string extractor appends to the string as it reads");
#endif

int main() try {
    // Unsynchronised from C stdio, std::cin reads standard input in blocks
    // rather than a byte per call.
    std::ios::sync_with_stdio(false);
    // Every failure comes out as an exception, handled at the end. The
    // extractor catches whatever goes wrong inside it and only marks the stream
    // bad, which would pass off a word cut short by a failed read or a lack of
    // memory as the answer; with badbit set to throw, the exception comes out.
    std::cin.exceptions(std::ios::badbit);
    std::cout.exceptions(std::ios::badbit);

    std::cout << "\x1b[2J\x1b[1;1H"; // erase the whole screen, cursor to the top left
    std::string name;
    std::cout << "Hi, what's your name?\n" << std::flush; // on screen before the read waits

    // One word: leading whitespace skipped, then every byte up to the next
    // whitespace or the end of input. A standard input that is not open is empty.
    // Non-blocking input that says "try again" is waited for, and a word under way
    // goes on after the pause without skipping whitespace, so that a word that
    // ended at the pause is not joined to the next.
    std::string more;
    const bool input_open = fcntl(STDIN_FILENO, F_GETFD) != -1;
    while (input_open) {
        try {
            // At most one byte more than the name can hold: the extractor stops at the
            // string's greatest length as if the word ended there, so a word too long for
            // the string is made to overflow it instead (std::length_error).
            std::cin.width(static_cast<std::streamsize>(name.max_size() - name.size() + 1));
            if (name.empty())
                std::cin >> name;
            else
                std::cin >> std::noskipws >> more;
            name += more;
            break;
        } catch (const std::ios_base::failure &failure) {
            if (failure.code() != std::errc::resource_unavailable_try_again)
                throw;
            // The extractor appends each byte as it takes it: what it took before the
            // pause is in the string it was reading into, and is part of the word.
            name += more;
        }
        std::cin.clear();
        // Wait until there is more input, or its end, to read.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, -1) == -1 && errno != EINTR)
            throw std::ios_base::failure("poll", {errno, std::generic_category()});
    }
    // The input after the word is left to the next reader where it can seek: the bytes read
    // past the word, which the stream holds unless the input ended, are given back. Where the
    // input cannot seek, as a pipe cannot, the seek fails and they are gone.
    if (input_open && !std::cin.eof())
        static_cast<void>(lseek(STDIN_FILENO, -std::cin.rdbuf()->in_avail(), SEEK_CUR));

    // Praise for the name in either of its two forms, an insult for any other word.
    const char *head = "That's a stupid fucking name, ";
    const char *tail = ", you should be ashamed of yourself.";
    if (name == "Velmot" || name == "velmot") {
        head = "That's a great name, ";
        tail = ", you should be proud of yourself.";
    }
    std::cout << head << name << tail << std::flush;
    return 0;
} catch (const std::bad_alloc &) {
    // The name is already released; nothing more goes to standard output.
    std::cerr << "vantrel: memory exhausted\n";
    return 1;
} catch (const std::length_error &) {
    // Only where size_t has 32 bits is a string shorter than the memory for it.
    std::cerr << "vantrel: name too long\n";
    return 1;
} catch (const std::ios_base::failure &failure) {
    // A failed read carries read(2)'s or poll(2)'s errno, a failed write leaves write(2)'s in
    // errno. Only an errno value, of the generic category, gives a reason: a failure of the
    // stream's own (std::io_errc::stream) has none.
    std::string message = "vantrel: read error";
    std::error_code error = failure.code();
    if (std::cout.bad()) {
        message = "vantrel: write error";
        error.assign(errno, std::generic_category());
    }
    std::cerr.tie(nullptr); // standard output is not flushed again
    if (error && error.category() == std::generic_category())
        message += ": " + error.message();
    // One insertion, so that the line reaches standard error in one write.
    std::cerr << message + '\n';
    return 1;
}
