// vantrel: clear the terminal, ask for a name and pass judgement on it.

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

int main()
try {
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
    for (bool reading = fcntl(STDIN_FILENO, F_GETFD) != -1; reading;) {
        try {
            if (name.empty())
                std::cin >> name;
            else
                std::cin >> std::noskipws >> more;
            reading = false;
        } catch (const std::ios_base::failure &failure) {
            if (failure.code() != std::errc::resource_unavailable_try_again)
                throw;
            std::cin.clear();
            pollfd input{STDIN_FILENO, POLLIN, 0};
            poll(&input, 1, -1);
        }
        name += more;
    }
    // The extractor stops at the string's greatest length as if the word ended there.
    if (name.size() == name.max_size() && std::isspace(std::cin.peek()) == 0 && !std::cin.eof())
        throw std::length_error("name");
    // The input after the word is left to the next reader where it can seek.
    std::streambuf &input = *std::cin.rdbuf();
    if (const auto end_of_word = input.pubseekoff(0, std::ios::cur, std::ios::in);
        end_of_word != -1)
        input.pubseekpos(end_of_word, std::ios::in);

    if (name == "Velmot" || name == "velmot")
        std::cout << "That's a great name, " << name << ", you should be proud of yourself.";
    else
        std::cout << "That's a stupid fucking name, " << name
                  << ", you should be ashamed of yourself.";
    std::cout << std::flush;
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
    // A failed write leaves write(2)'s reason in errno; a failed read carries read(2)'s.
    const bool writing = std::cout.bad();
    const int error = writing ? errno : failure.code().value();
    std::cerr.tie(nullptr); // standard output is not flushed again
    std::string message = writing ? "vantrel: write error" : "vantrel: read error";
    if (error != 0)
        message += std::string(": ") + std::strerror(error);
    // One insertion, so that the line reaches standard error in one write.
    std::cerr << message + '\n';
    return 1;
}
