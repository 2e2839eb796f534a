// libFuzzer target for both formula parsers and the evaluator behind them.
//
// The first byte picks the parser: even, the rest is A1 formula text; odd,
// the rest is BIFF8 parsed-expression tokens (BIFF5 when bit 1 is set), the
// first two bytes after it giving the token length and what follows the
// tokens serving as their trailing data (array constants). The formula is
// put in a small workbook and evaluated with a small work budget, so that
// mutations reach every function with references that exist.
#include "formula/evaluator.h"
#include "memorysource.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace sd::formula;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data, --size;
    MemorySource s;
    const int a = s.addSheet("Sheet1");
    const int b = s.addSheet("Two words");
    for (uint32_t r = 0; r < 6; ++r) {
        s.set(a, r, 0, Value::num(double(r) - 1.5));
        s.set(a, r, 1, Value::str(r % 2 ? "text" : "12"));
        s.set(b, r, 0, Value::boolean(r % 2));
    }
    s.set(a, 2, 2, Value::err(sd::ErrNA));
    s.setFormula(a, 3, 2, "A1*2");
    s.setFormula(a, 4, 2, "C6+1", Value::num(1)); // a cycle with the cell under test
    s.defineName("Name", "Sheet1!$A$1:$B$3");
    s.defineName("Loop", "Loop+1");
    if (mode % 2 == 0) {
        s.setFormula(a, 5, 2, std::string(reinterpret_cast<const char *>(data), size));
    } else {
        if (size < 2)
            return 0;
        size_t n = size_t(data[0] | (data[1] << 8));
        data += 2, size -= 2;
        if (n > size)
            n = size;
        s.setTokens(a, 5, 2, std::string(reinterpret_cast<const char *>(data), n),
                    std::string(reinterpret_cast<const char *>(data + n), size - n));
        if (mode & 2)
            s.setGrid(16384, 256);
        else
            s.setGrid(65536, 256);
    }
    EvalOptions options;
    options.recalculateAll = true;
    options.clock = 1600000000;
    options.randomSeed = 1;
    options.stepLimit = 200000;
    Evaluator ev(s, options);
    for (uint32_t r = 3; r < 6; ++r)
        ev.result(a, r, 2);
    return 0;
}
