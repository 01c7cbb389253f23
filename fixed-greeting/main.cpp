// hello: write one line of greeting.

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

int main() {
    std::cout.write("Hello World!\n", 13);

    if (!std::cout.flush()) {
        const int error = errno;
        // One insertion, so that the line reaches standard error in one write.
        std::cerr << std::string("hello: write error: ") + std::strerror(error) + '\n';
        return 1;
    }
    return 0;
}
