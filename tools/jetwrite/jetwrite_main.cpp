#include "jetwrite/jetwriter.h"

#include <cstdio>

int main() {
    std::fprintf(stderr, "jetwrite: not finished yet\n");
    return 2;
}
