// Takes the program's single-instance lock in a process of its own, for the tests to see from
// another. Exit code: 0 First, 1 AlreadyRunning, 2 Unchecked. With "hold" it keeps the lock until
// its standard input ends.
#include "system/SingleInstance.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    pellamark::SingleInstance lock;
    const auto result = lock.acquire();
    if (argc > 1 && std::strcmp(argv[1], "hold") == 0) {
        std::puts(result == pellamark::SingleInstance::Result::First ? "holding" : "not holding");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
    }
    switch (result) {
    case pellamark::SingleInstance::Result::First:
        return 0;
    case pellamark::SingleInstance::Result::AlreadyRunning:
        return 1;
    default:
        return 2;
    }
}
