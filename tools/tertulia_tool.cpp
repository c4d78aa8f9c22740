// Minimal dispatch for tertulia-tool while only the "get" command exists on this branch.

#include <cstdio>
#include <cstring>

namespace tertulia {
int RunGet(int argc, char** argv);
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "get") == 0) return tertulia::RunGet(argc - 2, argv + 2);
    std::fputs("usage: tertulia-tool get [--progress] URL...\n", stderr);
    return 2;
}
