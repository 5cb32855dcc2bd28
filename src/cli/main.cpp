#include <cstdio>

int main() {
    std::puts("veldra-cli: not built yet");
    return 2;
}
