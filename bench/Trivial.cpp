// The smallest C++ daemon-like program, built like brivox: it says it is
// ready and waits. The relay benchmark compares brivox's idle memory with it.
#include <iostream>
#include <unistd.h>

int main() {
    std::cout << "ready" << std::endl;
    pause();
}
