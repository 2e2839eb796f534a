// A stand-in process for instance-control tests: it waits, doing nothing,
// until a signal ends it. The tests copy it under the names they look for.
#include <unistd.h>

int main()
{
    for (;;)
        pause();
}
