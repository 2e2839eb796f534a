// CONVERT: measurements from one unit to another of the same kind, with
// the units, spellings and prefixes of the application's function
// reference.

#include "formula/fn_p.h"

#include <cmath>
#include <cstring>

namespace sd::formula {

namespace {

enum class Kind : uint8_t {
    Mass,
    Distance,
    Time,
    Pressure,
    Force,
    Energy,
    Power,
    Magnetism,
    Temperature,
    Volume,
    Area,
    Information,
    Speed,
};

// One spelling of a unit: its size in the kind's base unit (gram, metre,
// second, pascal, newton, joule, watt, tesla, kelvin, cubic metre, square
// metre, bit, metre per second), whether SI prefixes apply and the power
// the prefix is raised to (cm2 is 1e-4 m2).
struct Unit
{
    const char *name;
    Kind kind;
    double size;
    bool prefixes;
    int power;
};

constexpr double kInch = 0.0254, kFoot = 0.3048, kMile = 1609.344, kNauticalMile = 1852;
constexpr double kLightYear = 9460730472580800.0, kPica = kInch / 72;
constexpr double kSurveyFoot = 1200.0 / 3937, kTeaspoon = 4.92892159375e-6;
constexpr double kPoundForce = 4.4482216152605, kUkPint = 5.6826125e-4;

const Unit kUnits[] = {
    // mass (grams)
    { "g", Kind::Mass, 1, true, 1 },
    { "sg", Kind::Mass, kPoundForce / kFoot * 1000, false, 1 },
    { "lbm", Kind::Mass, 453.59237, false, 1 },
    { "u", Kind::Mass, 1.660538782e-24, true, 1 },
    { "ozm", Kind::Mass, 28.349523125, false, 1 },
    { "grain", Kind::Mass, 0.06479891, false, 1 },
    { "cwt", Kind::Mass, 45359.237, false, 1 },
    { "shweight", Kind::Mass, 45359.237, false, 1 },
    { "uk_cwt", Kind::Mass, 50802.34544, false, 1 },
    { "lcwt", Kind::Mass, 50802.34544, false, 1 },
    { "hweight", Kind::Mass, 50802.34544, false, 1 },
    { "stone", Kind::Mass, 6350.29318, false, 1 },
    { "ton", Kind::Mass, 907184.74, false, 1 },
    { "uk_ton", Kind::Mass, 1016046.9088, false, 1 },
    { "LTON", Kind::Mass, 1016046.9088, false, 1 },
    { "brton", Kind::Mass, 1016046.9088, false, 1 },
    // distance (metres)
    { "m", Kind::Distance, 1, true, 1 },
    { "mi", Kind::Distance, kMile, false, 1 },
    { "Nmi", Kind::Distance, kNauticalMile, false, 1 },
    { "in", Kind::Distance, kInch, false, 1 },
    { "ft", Kind::Distance, kFoot, false, 1 },
    { "yd", Kind::Distance, 0.9144, false, 1 },
    { "ang", Kind::Distance, 1e-10, true, 1 },
    { "ell", Kind::Distance, 1.143, false, 1 },
    { "ly", Kind::Distance, kLightYear, true, 1 },
    { "parsec", Kind::Distance, 3.08567758128155e16, false, 1 },
    { "pc", Kind::Distance, 3.08567758128155e16, false, 1 },
    { "Picapt", Kind::Distance, kPica, false, 1 },
    { "Pica", Kind::Distance, kPica, false, 1 },
    { "pica", Kind::Distance, kInch / 6, false, 1 },
    { "survey_mi", Kind::Distance, 5280 * kSurveyFoot, false, 1 },
    // time (seconds)
    { "yr", Kind::Time, 365.25 * 86400, false, 1 },
    { "day", Kind::Time, 86400, false, 1 },
    { "d", Kind::Time, 86400, false, 1 },
    { "hr", Kind::Time, 3600, false, 1 },
    { "mn", Kind::Time, 60, false, 1 },
    { "min", Kind::Time, 60, false, 1 },
    { "sec", Kind::Time, 1, true, 1 },
    { "s", Kind::Time, 1, true, 1 },
    // pressure (pascals)
    { "Pa", Kind::Pressure, 1, true, 1 },
    { "p", Kind::Pressure, 1, true, 1 },
    { "atm", Kind::Pressure, 101325, true, 1 },
    { "at", Kind::Pressure, 101325, true, 1 },
    { "mmHg", Kind::Pressure, 133.322, true, 1 },
    { "psi", Kind::Pressure, kPoundForce / (kInch * kInch), false, 1 },
    { "Torr", Kind::Pressure, 101325.0 / 760, false, 1 },
    // force (newtons)
    { "N", Kind::Force, 1, true, 1 },
    { "dyn", Kind::Force, 1e-5, true, 1 },
    { "dy", Kind::Force, 1e-5, true, 1 },
    { "lbf", Kind::Force, kPoundForce, false, 1 },
    { "pond", Kind::Force, 0.00980665, true, 1 },
    // energy (joules)
    { "J", Kind::Energy, 1, true, 1 },
    { "e", Kind::Energy, 1e-7, true, 1 },
    { "c", Kind::Energy, 4.184, true, 1 },
    { "cal", Kind::Energy, 4.1868, true, 1 },
    { "eV", Kind::Energy, 1.602176487e-19, true, 1 },
    { "ev", Kind::Energy, 1.602176487e-19, true, 1 },
    { "HPh", Kind::Energy, 550 * kFoot *kPoundForce * 3600, false, 1 },
    { "hh", Kind::Energy, 550 * kFoot *kPoundForce * 3600, false, 1 },
    { "Wh", Kind::Energy, 3600, true, 1 },
    { "wh", Kind::Energy, 3600, true, 1 },
    { "flb", Kind::Energy, kFoot *kPoundForce, false, 1 },
    { "BTU", Kind::Energy, 1055.05585262, false, 1 },
    { "btu", Kind::Energy, 1055.05585262, false, 1 },
    // power (watts)
    { "HP", Kind::Power, 550 * kFoot *kPoundForce, false, 1 },
    { "h", Kind::Power, 550 * kFoot *kPoundForce, false, 1 },
    { "PS", Kind::Power, 735.49875, false, 1 },
    { "W", Kind::Power, 1, true, 1 },
    { "w", Kind::Power, 1, true, 1 },
    // magnetism (teslas)
    { "T", Kind::Magnetism, 1, true, 1 },
    { "ga", Kind::Magnetism, 1e-4, true, 1 },
    // temperature (kelvins; converted apart, see toKelvin())
    { "C", Kind::Temperature, 1, false, 1 },
    { "cel", Kind::Temperature, 1, false, 1 },
    { "F", Kind::Temperature, 1, false, 1 },
    { "fah", Kind::Temperature, 1, false, 1 },
    { "K", Kind::Temperature, 1, true, 1 },
    { "kel", Kind::Temperature, 1, true, 1 },
    { "Rank", Kind::Temperature, 1, false, 1 },
    { "Reau", Kind::Temperature, 1, false, 1 },
    // volume (cubic metres)
    { "tsp", Kind::Volume, kTeaspoon, false, 1 },
    { "tspm", Kind::Volume, 5e-6, false, 1 },
    { "tbs", Kind::Volume, 3 * kTeaspoon, false, 1 },
    { "oz", Kind::Volume, 6 * kTeaspoon, false, 1 },
    { "cup", Kind::Volume, 48 * kTeaspoon, false, 1 },
    { "pt", Kind::Volume, 96 * kTeaspoon, false, 1 },
    { "us_pt", Kind::Volume, 96 * kTeaspoon, false, 1 },
    { "uk_pt", Kind::Volume, kUkPint, false, 1 },
    { "qt", Kind::Volume, 192 * kTeaspoon, false, 1 },
    { "uk_qt", Kind::Volume, 2 * kUkPint, false, 1 },
    { "gal", Kind::Volume, 768 * kTeaspoon, false, 1 },
    { "uk_gal", Kind::Volume, 8 * kUkPint, false, 1 },
    { "l", Kind::Volume, 1e-3, true, 1 },
    { "L", Kind::Volume, 1e-3, true, 1 },
    { "lt", Kind::Volume, 1e-3, true, 1 },
    { "ang3", Kind::Volume, 1e-30, true, 3 },
    { "ang^3", Kind::Volume, 1e-30, true, 3 },
    { "barrel", Kind::Volume, 42 * 768 * kTeaspoon, false, 1 },
    { "bushel", Kind::Volume, 0.03523907016688, false, 1 },
    { "ft3", Kind::Volume, kFoot *kFoot *kFoot, false, 1 },
    { "ft^3", Kind::Volume, kFoot *kFoot *kFoot, false, 1 },
    { "in3", Kind::Volume, kInch *kInch *kInch, false, 1 },
    { "in^3", Kind::Volume, kInch *kInch *kInch, false, 1 },
    { "ly3", Kind::Volume, kLightYear *kLightYear *kLightYear, false, 1 },
    { "ly^3", Kind::Volume, kLightYear *kLightYear *kLightYear, false, 1 },
    { "m3", Kind::Volume, 1, true, 3 },
    { "m^3", Kind::Volume, 1, true, 3 },
    { "mi3", Kind::Volume, kMile *kMile *kMile, false, 1 },
    { "mi^3", Kind::Volume, kMile *kMile *kMile, false, 1 },
    { "yd3", Kind::Volume, 0.9144 * 0.9144 * 0.9144, false, 1 },
    { "yd^3", Kind::Volume, 0.9144 * 0.9144 * 0.9144, false, 1 },
    { "Nmi3", Kind::Volume, kNauticalMile *kNauticalMile *kNauticalMile, false, 1 },
    { "Nmi^3", Kind::Volume, kNauticalMile *kNauticalMile *kNauticalMile, false, 1 },
    { "Picapt3", Kind::Volume, kPica *kPica *kPica, false, 1 },
    { "Picapt^3", Kind::Volume, kPica *kPica *kPica, false, 1 },
    { "Pica3", Kind::Volume, kPica *kPica *kPica, false, 1 },
    { "Pica^3", Kind::Volume, kPica *kPica *kPica, false, 1 },
    { "GRT", Kind::Volume, 100 * kFoot *kFoot *kFoot, false, 1 },
    { "regton", Kind::Volume, 100 * kFoot *kFoot *kFoot, false, 1 },
    { "MTON", Kind::Volume, 40 * kFoot *kFoot *kFoot, false, 1 },
    // area (square metres)
    { "uk_acre", Kind::Area, 4046.8564224, false, 1 },
    { "us_acre", Kind::Area, 43560 * kSurveyFoot *kSurveyFoot, false, 1 },
    { "ang2", Kind::Area, 1e-20, true, 2 },
    { "ang^2", Kind::Area, 1e-20, true, 2 },
    { "ar", Kind::Area, 100, true, 1 },
    { "ft2", Kind::Area, kFoot *kFoot, false, 1 },
    { "ft^2", Kind::Area, kFoot *kFoot, false, 1 },
    { "ha", Kind::Area, 10000, false, 1 },
    { "in2", Kind::Area, kInch *kInch, false, 1 },
    { "in^2", Kind::Area, kInch *kInch, false, 1 },
    { "ly2", Kind::Area, kLightYear *kLightYear, false, 1 },
    { "ly^2", Kind::Area, kLightYear *kLightYear, false, 1 },
    { "m2", Kind::Area, 1, true, 2 },
    { "m^2", Kind::Area, 1, true, 2 },
    { "Morgen", Kind::Area, 2500, false, 1 },
    { "mi2", Kind::Area, kMile *kMile, false, 1 },
    { "mi^2", Kind::Area, kMile *kMile, false, 1 },
    { "Nmi2", Kind::Area, kNauticalMile *kNauticalMile, false, 1 },
    { "Nmi^2", Kind::Area, kNauticalMile *kNauticalMile, false, 1 },
    { "Picapt2", Kind::Area, kPica *kPica, false, 1 },
    { "Picapt^2", Kind::Area, kPica *kPica, false, 1 },
    { "Pica2", Kind::Area, kPica *kPica, false, 1 },
    { "Pica^2", Kind::Area, kPica *kPica, false, 1 },
    { "yd2", Kind::Area, 0.9144 * 0.9144, false, 1 },
    { "yd^2", Kind::Area, 0.9144 * 0.9144, false, 1 },
    // information (bits)
    { "bit", Kind::Information, 1, true, 1 },
    { "byte", Kind::Information, 8, true, 1 },
    // speed (metres per second)
    { "admkn", Kind::Speed, 6080 * kFoot / 3600, false, 1 },
    { "kn", Kind::Speed, kNauticalMile / 3600, false, 1 },
    { "m/h", Kind::Speed, 1.0 / 3600, true, 1 },
    { "m/hr", Kind::Speed, 1.0 / 3600, true, 1 },
    { "m/s", Kind::Speed, 1, true, 1 },
    { "m/sec", Kind::Speed, 1, true, 1 },
    { "mph", Kind::Speed, kMile / 3600, false, 1 },
};

struct Prefix
{
    const char *name;
    double factor;
    bool binary; // for bit and byte only
};

const Prefix kPrefixes[] = {
    { "Y", 1e24, false },   { "Z", 1e21, false },   { "E", 1e18, false },   { "P", 1e15, false },
    { "T", 1e12, false },   { "G", 1e9, false },    { "M", 1e6, false },    { "k", 1e3, false },
    { "h", 1e2, false },    { "da", 1e1, false },   { "e", 1e1, false },    { "d", 1e-1, false },
    { "c", 1e-2, false },   { "m", 1e-3, false },   { "u", 1e-6, false },   { "n", 1e-9, false },
    { "p", 1e-12, false },  { "f", 1e-15, false },  { "a", 1e-18, false },  { "z", 1e-21, false },
    { "y", 1e-24, false },  { "Yi", 0x1p80, true }, { "Zi", 0x1p70, true }, { "Ei", 0x1p60, true },
    { "Pi", 0x1p50, true }, { "Ti", 0x1p40, true }, { "Gi", 0x1p30, true }, { "Mi", 0x1p20, true },
    { "ki", 0x1p10, true },
};

const Unit *unitNamed(std::string_view name)
{
    for (const Unit &u : kUnits)
        if (name == u.name)
            return &u;
    return nullptr;
}

// A unit by its spelling, a prefixed one included; `factor` gets the
// prefix's factor (raised to the unit's power).
const Unit *findUnit(std::string_view name, double &factor)
{
    factor = 1;
    if (const Unit *u = unitNamed(name))
        return u;
    for (const Prefix &p : kPrefixes) {
        const size_t n = std::strlen(p.name);
        if (name.size() <= n || name.compare(0, n, p.name) != 0)
            continue;
        const Unit *u = unitNamed(name.substr(n));
        if (!u || !u->prefixes || (p.binary && u->kind != Kind::Information))
            continue;
        factor = std::pow(p.factor, u->power);
        return u;
    }
    return nullptr;
}

double toKelvin(std::string_view unit, double v)
{
    if (unit == "C" || unit == "cel")
        return v + 273.15;
    if (unit == "F" || unit == "fah")
        return (v - 32) * 5 / 9 + 273.15;
    if (unit == "Rank")
        return v * 5 / 9;
    if (unit == "Reau")
        return v * 1.25 + 273.15;
    return v;
}

double fromKelvin(std::string_view unit, double k)
{
    if (unit == "C" || unit == "cel")
        return k - 273.15;
    if (unit == "F" || unit == "fah")
        return (k - 273.15) * 9 / 5 + 32;
    if (unit == "Rank")
        return k * 9 / 5;
    if (unit == "Reau")
        return (k - 273.15) * 0.8;
    return k;
}

Value fnConvert(Call &c)
{
    SD_NUMBER(c, 0, v);
    SD_TEXT(c, 1, from);
    SD_TEXT(c, 2, to);
    double fromFactor = 1, toFactor = 1;
    const Unit *a = findUnit(from, fromFactor);
    const Unit *b = findUnit(to, toFactor);
    if (!a || !b || a->kind != b->kind)
        return Value::err(ErrNA);
    if (a->kind == Kind::Temperature) {
        const double k = toKelvin(a->name, v * fromFactor);
        return Value::num(fromKelvin(b->name, k) / toFactor);
    }
    return Value::num(v * (a->size * fromFactor) / (b->size * toFactor));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows conversionFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "CONVERT", -1, 3, 3, "V", E, fnConvert },
    };
    return rows;
}

} // namespace sd::formula
