// sdfmt [--1904] FORMAT VALUE...
//
// Prints each VALUE rendered through the number-format code FORMAT, in
// brackets so that spaces show. A VALUE in double quotes is text.

#include "core/numfmt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    int first = 1;
    bool date1904 = false;
    if (argc > 1 && std::strcmp(argv[1], "--1904") == 0) {
        date1904 = true;
        ++first;
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: sdfmt [--1904] FORMAT VALUE...\n");
        return 2;
    }
    const sd::NumberFormat format(argv[first]);
    for (int i = first + 1; i < argc; ++i) {
        std::string out;
        const size_t n = std::strlen(argv[i]);
        if (n >= 2 && argv[i][0] == '"' && argv[i][n - 1] == '"')
            format.appendText(std::string_view(argv[i] + 1, n - 2), out);
        else
            format.appendNumber(std::strtod(argv[i], nullptr), date1904, out);
        std::printf("%s\t[%s]\n", argv[i], out.c_str());
    }
    return 0;
}
