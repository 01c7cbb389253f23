/* Reference: the least a program that writes a line does. */
#include <unistd.h>

int main(void) { return write(1, "Hello World!\n", 13) == 13 ? 0 : 1; }
