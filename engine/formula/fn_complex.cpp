// Complex numbers as the engineering functions write them: text such as
// "3+4i" or "-2.5j" (COMPLEX, IMABS ... IMCSCH).

#include "formula/fn_p.h"

#include <cmath>
#include <complex>
#include <cstdlib>

namespace sd::formula {

namespace {

using Complex = std::complex<double>;

// A decimal number written whole: digits, an optional fraction and
// exponent, an optional sign first. "" and a bare sign stand for 1 when
// `unit` (the imaginary part of "i" or "-i").
bool parsePart(std::string_view s, bool unit, double &out)
{
    if (unit && (s.empty() || s == "+" || s == "-")) {
        out = s == "-" ? -1 : 1;
        return true;
    }
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        size_t exponent = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i, ++exponent;
        if (exponent == 0)
            return false;
    }
    if (i != s.size())
        return false;
    out = std::strtod(std::string(s).c_str(), nullptr);
    return std::isfinite(out);
}

// Text in the form x, yi, x+yi (or j); `suffix` gets 'i', 'j' or 0.
bool parseComplex(std::string_view s, Complex &z, char &suffix)
{
    suffix = 0;
    if (s.empty()) {
        z = 0;
        return true;
    }
    double re = 0, im = 0;
    const char last = s.back();
    if (last != 'i' && last != 'j') {
        if (!parsePart(s, false, re))
            return false;
        z = re;
        return true;
    }
    suffix = last;
    const std::string_view body = s.substr(0, s.size() - 1);
    // The sign that starts the imaginary part: the last one that is neither
    // first nor an exponent's.
    size_t split = std::string_view::npos;
    for (size_t k = body.size(); k-- > 1;) {
        if ((body[k] == '+' || body[k] == '-') && body[k - 1] != 'e' && body[k - 1] != 'E') {
            split = k;
            break;
        }
    }
    if (split == std::string_view::npos) {
        if (!parsePart(body, true, im))
            return false;
    } else if (!parsePart(body.substr(0, split), false, re)
               || !parsePart(body.substr(split), true, im)) {
        return false;
    }
    z = Complex(re, im);
    return true;
}

// One argument as a complex number; errors as codes. Numbers are real,
// blanks 0, logical values #VALUE!, text that is no complex number #NUM!.
uint8_t toComplex(const Value &v, Complex &z, char &suffix)
{
    suffix = 0;
    switch (v.type) {
    case ValueType::Error:
        return v.error;
    case ValueType::Number:
        z = v.number;
        return 0;
    case ValueType::Blank:
        z = 0;
        return 0;
    case ValueType::Text:
        return parseComplex(v.text, z, suffix) ? 0 : ErrNum;
    default:
        return ErrValue;
    }
}

uint8_t complexArg(Call &c, int i, Complex &z, char &suffix)
{
    return toComplex(c.scalar(i), z, suffix);
}

// The suffix of a result from those of its arguments: one kind only.
bool joinSuffix(char &into, char other)
{
    if (other == 0)
        return true;
    if (into != 0 && into != other)
        return false;
    into = other;
    return true;
}

std::string formatComplex(Complex z, char suffix)
{
    const double re = z.real(), im = z.imag();
    const std::string s(1, suffix ? suffix : 'i');
    if (im == 0)
        return numberToText(re);
    std::string out = re != 0 ? numberToText(re) : std::string();
    if (im == 1)
        out += (re != 0 ? "+" : "") + s;
    else if (im == -1)
        out += "-" + s;
    else
        out += (im > 0 && re != 0 ? "+" : "") + numberToText(im) + s;
    return out;
}

Value complexResult(Complex z, char suffix)
{
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return Value::err(ErrNum);
    return Value::str(formatComplex(z, suffix));
}

// Division as the application does it (Smith's method): the smaller part of
// the divisor over the larger.
Complex divide(Complex a, Complex b)
{
    const double c = b.real(), d = b.imag();
    if (std::fabs(c) >= std::fabs(d)) {
        const double r = d / c, den = c + d * r;
        return Complex((a.real() + a.imag() * r) / den, (a.imag() - a.real() * r) / den);
    }
    const double r = c / d, den = c * r + d;
    return Complex((a.real() * r + a.imag()) / den, (a.imag() * r - a.real()) / den);
}

Value fnComplex(Call &c)
{
    double re = 0, im = 0;
    SD_ARGS(&re, &im);
    char suffix = 'i';
    if (c.count() > 2 && !c.isEmpty(2)) {
        SD_TEXT(c, 2, s);
        if (!s.empty() && s != "i" && s != "j")
            return Value::err(ErrValue);
        if (!s.empty())
            suffix = s[0];
    }
    return Value::str(formatComplex(Complex(re, im), suffix));
}

// ---- functions of one complex number --------------------------------------

enum class Fn : uint8_t {
    Abs,
    Imaginary,
    Real,
    Argument,
    Conjugate,
    Sqrt,
    Exp,
    Ln,
    Log10,
    Log2,
    Sin,
    Cos,
    Tan,
    Sec,
    Csc,
    Cot,
    Sinh,
    Cosh,
    Sech,
    Csch,
};

Value unaryComplex(Call &c, Fn fn)
{
    Complex z;
    char suffix = 0;
    if (uint8_t e = complexArg(c, 0, z, suffix))
        return Value::err(e);
    const double a = z.real(), b = z.imag();
    const Complex one(1, 0);
    switch (fn) {
    case Fn::Abs:
        return Value::num(std::hypot(a, b));
    case Fn::Imaginary:
        return Value::num(b);
    case Fn::Real:
        return Value::num(a);
    case Fn::Argument:
        if (a == 0 && b == 0)
            return Value::err(ErrDiv0);
        return Value::num(std::atan2(b, a));
    case Fn::Conjugate:
        return complexResult(Complex(a, -b), suffix);
    case Fn::Sqrt: {
        const double r = std::sqrt(std::hypot(a, b)), t = std::atan2(b, a) / 2;
        return complexResult(Complex(r * std::cos(t), r * std::sin(t)), suffix);
    }
    case Fn::Exp:
        return complexResult(Complex(std::exp(a) * std::cos(b), std::exp(a) * std::sin(b)), suffix);
    case Fn::Ln:
    case Fn::Log10:
    case Fn::Log2: {
        if (a == 0 && b == 0)
            return Value::err(ErrNum);
        const double scale = fn == Fn::Ln ? 1 : fn == Fn::Log10 ? std::log(10.0) : std::log(2.0);
        return complexResult(Complex(std::log(std::hypot(a, b)) / scale, std::atan2(b, a) / scale),
                             suffix);
    }
    default:
        break;
    }
    const Complex sin(std::sin(a) * std::cosh(b), std::cos(a) * std::sinh(b));
    const Complex cos(std::cos(a) * std::cosh(b), -std::sin(a) * std::sinh(b));
    const Complex sinh(std::sinh(a) * std::cos(b), std::cosh(a) * std::sin(b));
    const Complex cosh(std::cosh(a) * std::cos(b), std::sinh(a) * std::sin(b));
    auto over = [&](Complex p, Complex q) {
        if (q == Complex(0, 0))
            return Value::err(ErrNum);
        return complexResult(divide(p, q), suffix);
    };
    switch (fn) {
    case Fn::Sin:
        return complexResult(sin, suffix);
    case Fn::Cos:
        return complexResult(cos, suffix);
    case Fn::Tan:
        return over(sin, cos);
    case Fn::Sec:
        return over(one, cos);
    case Fn::Csc:
        return over(one, sin);
    case Fn::Cot:
        return over(cos, sin);
    case Fn::Sinh:
        return complexResult(sinh, suffix);
    case Fn::Cosh:
        return complexResult(cosh, suffix);
    case Fn::Sech:
        return over(one, cosh);
    default:
        return over(one, sinh);
    }
}

#define SD_COMPLEX_FN(name, fn)                                                                    \
    Value name(Call &c)                                                                            \
    {                                                                                              \
        return unaryComplex(c, Fn::fn);                                                            \
    }
SD_COMPLEX_FN(fnImAbs, Abs)
SD_COMPLEX_FN(fnImaginary, Imaginary)
SD_COMPLEX_FN(fnImReal, Real)
SD_COMPLEX_FN(fnImArgument, Argument)
SD_COMPLEX_FN(fnImConjugate, Conjugate)
SD_COMPLEX_FN(fnImSqrt, Sqrt)
SD_COMPLEX_FN(fnImExp, Exp)
SD_COMPLEX_FN(fnImLn, Ln)
SD_COMPLEX_FN(fnImLog10, Log10)
SD_COMPLEX_FN(fnImLog2, Log2)
SD_COMPLEX_FN(fnImSin, Sin)
SD_COMPLEX_FN(fnImCos, Cos)
SD_COMPLEX_FN(fnImTan, Tan)
SD_COMPLEX_FN(fnImSec, Sec)
SD_COMPLEX_FN(fnImCsc, Csc)
SD_COMPLEX_FN(fnImCot, Cot)
SD_COMPLEX_FN(fnImSinh, Sinh)
SD_COMPLEX_FN(fnImCosh, Cosh)
SD_COMPLEX_FN(fnImSech, Sech)
SD_COMPLEX_FN(fnImCsch, Csch)
#undef SD_COMPLEX_FN

// ---- functions of two or more ---------------------------------------------

Value binaryComplex(Call &c, bool divide_)
{
    Complex a, b;
    char sa = 0, sb = 0;
    if (uint8_t e = complexArg(c, 0, a, sa))
        return Value::err(e);
    if (uint8_t e = complexArg(c, 1, b, sb))
        return Value::err(e);
    if (!joinSuffix(sa, sb))
        return Value::err(ErrValue);
    if (!divide_)
        return complexResult(a - b, sa);
    if (b == Complex(0, 0))
        return Value::err(ErrNum);
    return complexResult(divide(a, b), sa);
}

Value fnImSub(Call &c)
{
    return binaryComplex(c, false);
}
Value fnImDiv(Call &c)
{
    return binaryComplex(c, true);
}

Value fnImPower(Call &c)
{
    Complex z;
    char suffix = 0;
    if (uint8_t e = complexArg(c, 0, z, suffix))
        return Value::err(e);
    SD_NUMBER(c, 1, n);
    const double r = std::hypot(z.real(), z.imag());
    if (r == 0)
        return n > 0 ? complexResult(0, suffix) : Value::err(ErrNum);
    const double t = std::atan2(z.imag(), z.real()) * n, m = std::pow(r, n);
    return complexResult(Complex(m * std::cos(t), m * std::sin(t)), suffix);
}

// IMSUM and IMPRODUCT over values, ranges and arrays (blank cells left out).
Value accumulate(Call &c, bool product)
{
    Complex acc = product ? 1 : 0;
    char suffix = 0;
    uint8_t error = 0;
    auto take = [&](const Value &v) {
        Complex z;
        char s = 0;
        if (error)
            return;
        if (uint8_t e = toComplex(v, z, s))
            error = e;
        else if (!joinSuffix(suffix, s))
            error = ErrValue;
        else
            acc = product ? acc * z : acc + z;
    };
    for (int i = 0; i < c.count() && !error; ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray())
            c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) { take(x); });
        else
            take(v);
    }
    return error ? Value::err(error) : complexResult(acc, suffix);
}

Value fnImSum(Call &c)
{
    return accumulate(c, false);
}
Value fnImProduct(Call &c)
{
    return accumulate(c, true);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows complexFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "COMPLEX", -1, 2, 3, "V", E, fnComplex },
        { "IMABS", -1, 1, 1, "V", E, fnImAbs },
        { "IMAGINARY", -1, 1, 1, "V", E, fnImaginary },
        { "IMARGUMENT", -1, 1, 1, "V", E, fnImArgument },
        { "IMCONJUGATE", -1, 1, 1, "V", E, fnImConjugate },
        { "IMCOS", -1, 1, 1, "V", E, fnImCos },
        { "IMCOSH", -1, 1, 1, "V", E, fnImCosh },
        { "IMCOT", -1, 1, 1, "V", E, fnImCot },
        { "IMCSC", -1, 1, 1, "V", E, fnImCsc },
        { "IMCSCH", -1, 1, 1, "V", E, fnImCsch },
        { "IMDIV", -1, 2, 2, "V", E, fnImDiv },
        { "IMEXP", -1, 1, 1, "V", E, fnImExp },
        { "IMLN", -1, 1, 1, "V", E, fnImLn },
        { "IMLOG10", -1, 1, 1, "V", E, fnImLog10 },
        { "IMLOG2", -1, 1, 1, "V", E, fnImLog2 },
        { "IMPOWER", -1, 2, 2, "V", E, fnImPower },
        { "IMPRODUCT", -1, 1, N, "R", 0, fnImProduct },
        { "IMREAL", -1, 1, 1, "V", E, fnImReal },
        { "IMSEC", -1, 1, 1, "V", E, fnImSec },
        { "IMSECH", -1, 1, 1, "V", E, fnImSech },
        { "IMSIN", -1, 1, 1, "V", E, fnImSin },
        { "IMSINH", -1, 1, 1, "V", E, fnImSinh },
        { "IMSQRT", -1, 1, 1, "V", E, fnImSqrt },
        { "IMSUB", -1, 2, 2, "V", E, fnImSub },
        { "IMSUM", -1, 1, N, "R", 0, fnImSum },
        { "IMTAN", -1, 1, 1, "V", E, fnImTan },
    };
    return rows;
}

} // namespace sd::formula
