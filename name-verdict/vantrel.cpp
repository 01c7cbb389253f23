// vantrel: clear the terminal, ask for a name and pass judgement on it.

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

int main()
{
    // Unsynchronised from C stdio, std::cin reads standard input in blocks
    // rather than a byte per call. It stays tied to std::cout, so the prompt
    // is flushed to the screen before the read waits.
    std::ios::sync_with_stdio(false);

    std::cout << "\x1b[2J\x1b[1;1H"; // erase the whole screen, cursor to the top left
    std::string name;
    std::cout << "Hi, what's your name?\n";
    std::cin >> name; // one word; leading whitespace skipped, the rest left unread

    if (name == "Velmot" || name == "velmot") {
        std::cout << "That's a great name, " << name << ", you should be proud of yourself.";
    } else {
        std::cout << "That's a stupid fucking name, " << name
                  << ", you should be ashamed of yourself.";
    }

    if (!std::cout.flush()) {
        const int error = errno;
        // One insertion, so that the line reaches standard error in one write.
        std::cerr << std::string("vantrel: write error: ") + std::strerror(error) + '\n';
        return 1;
    }
    return 0;
}
