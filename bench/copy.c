/* Reference: read all of standard input into a growing buffer, write it back. */
#include <stdlib.h>
#include <unistd.h>

int main(void) {
    size_t size = 0, capacity = 4096;
    char *buffer = malloc(capacity);
    ssize_t n;
    if (!buffer)
        return 1;
    while ((n = read(0, buffer + size, capacity - size)) > 0) {
        size += (size_t)n;
        if (size == capacity && !(buffer = realloc(buffer, capacity *= 2)))
            return 1;
    }
    if (n < 0)
        return 1;
    for (size_t done = 0; done < size; done += (size_t)n)
        if ((n = write(1, buffer + done, size - done)) < 0)
            return 1;
    return 0;
}
