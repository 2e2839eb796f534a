#include "formula/functions.h"
#include "formula/functiontable_p.h"
#include "formula/value.h"

#include <cstring>
#include <string>
#include <unordered_map>

namespace sd::formula {

namespace {

// The function table: the rows of every fn_*.cpp file, joined once, with
// its indexes.
struct Table
{
    std::vector<FunctionInfo> rows;
    std::unordered_map<std::string, int> byName;
    std::unordered_map<int, int> byBiff;
    std::vector<int> volatiles;

    Table()
    {
        for (const FunctionRows &part : functionRows())
            rows.insert(rows.end(), part.first, part.first + part.count);
        for (int i = 0; i < int(rows.size()); ++i) {
            byName.emplace(rows[size_t(i)].name, i);
            if (rows[size_t(i)].biff >= 0)
                byBiff.emplace(rows[size_t(i)].biff, i);
            if (rows[size_t(i)].flags & FunctionInfo::Volatile)
                volatiles.push_back(i);
        }
    }
};

const Table &table()
{
    static const Table t;
    return t;
}

} // namespace

std::vector<FunctionRows> functionRows()
{
    return { logicalFunctions(),      mathFunctions(),
             textFunctions(),         dateFunctions(),
             lookupFunctions(),       databaseFunctions(),
             statisticalFunctions(),  orderFunctions(),
             distributionFunctions(), arrayFunctions(),
             engineeringFunctions(),  financialFunctions(),
             numericFunctions(),      informationFunctions(),
             cashFlowFunctions(),     statisticalTestFunctions(),
             securitiesFunctions(),   complexFunctions(),
             conversionFunctions(),   dynamicArrayFunctions(),
             laterTextFunctions() };
}

int findFunction(std::string_view name)
{
    static const char *const prefixes[] = { "_xlfn.", "_xlws.", "_xlfn._xlws." };
    std::string upper = upperText(name);
    for (;;) {
        bool stripped = false;
        for (const char *p : prefixes) {
            const size_t n = std::strlen(p);
            if (upper.size() > n && compareText(std::string_view(upper).substr(0, n), p) == 0) {
                upper.erase(0, n);
                stripped = true;
            }
        }
        if (!stripped)
            break;
    }
    const auto &m = table().byName;
    auto it = m.find(upper);
    return it == m.end() ? -1 : it->second;
}

int functionByBiff(int number)
{
    const auto &m = table().byBiff;
    auto it = m.find(number);
    return it == m.end() ? -1 : it->second;
}

bool applicationHasFunction(std::string_view name)
{
    const std::string upper = upperText(name);
    if (upper.compare(0, 7, "_XLUDF.") == 0)
        return false;
    return upper.compare(0, 3, "_XL") == 0 || findFunction(upper) >= 0;
}

const FunctionInfo &functionInfo(int id)
{
    return table().rows[size_t(id)];
}

const std::vector<int> &volatileFunctions()
{
    return table().volatiles;
}

char argumentClass(const FunctionInfo &f, int index)
{
    const char *bar = std::strchr(f.classes, '|');
    if (bar) {
        const size_t head = size_t(bar - f.classes);
        if (size_t(index) < head)
            return f.classes[index];
        const size_t cycle = std::strlen(bar + 1);
        return cycle ? bar[1 + (size_t(index) - head) % cycle] : 'V';
    }
    const size_t n = std::strlen(f.classes);
    if (n == 0)
        return 'V';
    return f.classes[size_t(index) < n ? size_t(index) : n - 1];
}

} // namespace sd::formula
