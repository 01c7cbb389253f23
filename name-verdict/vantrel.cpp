// vantrel: clear the terminal, ask for a name and pass judgement on it.

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

int main()
try {
    // Unsynchronised from C stdio, std::cin reads standard input in blocks
    // rather than a byte per call.
    std::ios::sync_with_stdio(false);
    // The extractor catches whatever goes wrong inside it and only marks the
    // stream bad, which would pass off a word cut short by a lack of memory as
    // the answer. With badbit set to throw, the exception itself comes out:
    // std::bad_alloc ends the program below, and std::ios_base::failure, input
    // that cannot be read, ends the word as the end of input does.
    std::cin.exceptions(std::ios::badbit);

    std::cout << "\x1b[2J\x1b[1;1H"; // erase the whole screen, cursor to the top left
    std::string name;
    errno = 0;
    std::cout << "Hi, what's your name?\n" << std::flush; // on screen before the read waits
    // The read may set errno; a failed write keeps its own reason for the message.
    const int write_errno = std::cout ? 0 : errno;
    try {
        std::cin >> name; // one word; leading whitespace skipped, what follows ignored
    } catch (const std::ios_base::failure &) {
        // name holds what was read before the failure, if anything.
    }
    errno = write_errno;

    if (name == "Velmot" || name == "velmot") {
        std::cout << "That's a great name, " << name << ", you should be proud of yourself.";
    } else {
        std::cout << "That's a stupid fucking name, " << name
                  << ", you should be ashamed of yourself.";
    }

    if (!std::cout.flush()) {
        const int error = errno;
        // One insertion each, so that the line reaches standard error in one write.
        if (error == 0)
            std::cerr << "vantrel: write error\n";
        else
            std::cerr << std::string("vantrel: write error: ") + std::strerror(error) + '\n';
        return 1;
    }
    return 0;
} catch (const std::bad_alloc &) {
    // The name is already released; nothing more goes to standard output.
    std::cerr << "vantrel: memory exhausted\n";
    return 1;
}
