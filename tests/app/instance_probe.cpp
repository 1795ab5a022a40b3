#include "instancenumber.h"

#include <cstdio>
#include <cstring>

int main()
{
    std::printf("%d\n", instanceNumber());
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "exit", 4) == 0)
            break;
    }
    return 0;
}
