// Securities: coupon schedules (COUPDAYBS ... COUPPCD), bonds that pay
// periodic interest (PRICE, YIELD, DURATION, MDURATION), accrued interest
// (ACCRINT, ACCRINTM), securities that are discounted or pay at maturity
// (DISC, INTRATE, RECEIVED, PRICEDISC, YIELDDISC, PRICEMAT, YIELDMAT) and
// Treasury bills. Dates are whole days; bases as in fn_daycount.cpp.

#include "formula/fn_p.h"

#include "core/serialdate.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

// ---- arguments ------------------------------------------------------------

uint8_t dateArg(Call &c, int i, double &out)
{
    if (uint8_t e = c.number(i, out))
        return e;
    out = std::floor(out);
    return out < 0 || out > double(kLastSerialDay1900) ? ErrNum : 0;
}

// An optional basis argument: 0 when left out, else 0 to 4.
uint8_t basisArg(Call &c, int i, int &basis)
{
    double b = 0;
    if (c.count() > i && !c.isEmpty(i))
        if (uint8_t e = c.number(i, b))
            return e;
    b = std::trunc(b);
    if (b < 0 || b > 4)
        return ErrNum;
    basis = int(b);
    return 0;
}

// The settlement and maturity dates at `first` and `first + 1`, the
// settlement first.
struct Span
{
    double settle = 0, maturity = 0;
    int basis = 0, freq = 1;
    bool date1904 = false;
};

uint8_t spanArgs(Call &c, int first, int basis, Span &s)
{
    if (uint8_t e = dateArg(c, first, s.settle))
        return e;
    if (uint8_t e = dateArg(c, first + 1, s.maturity))
        return e;
    if (uint8_t e = basisArg(c, basis, s.basis))
        return e;
    s.date1904 = c.evaluator.date1904();
    return s.settle >= s.maturity ? ErrNum : 0;
}

uint8_t frequencyArg(Call &c, int i, int &freq)
{
    double f = 0;
    if (uint8_t e = c.number(i, f))
        return e;
    f = std::trunc(f);
    if (f != 1 && f != 2 && f != 4)
        return ErrNum;
    freq = int(f);
    return 0;
}

#define SD_TRY(expr)                                                                               \
    if (uint8_t e_ = (expr))                                                                       \
        return Value::err(e_);

// ---- coupon schedules -----------------------------------------------------

struct Day
{
    int y = 0, m = 0, d = 0;
};

Day dayOf(double serial, bool date1904)
{
    Day t;
    serialDayToDate(int64_t(serial), date1904, t.y, t.m, t.d);
    return t;
}

// The date `months` months before `from` (after, when negative) on the same
// day of the month, or the month's last day when `from` is the last of its
// month or the month is shorter.
double monthsBefore(const Day &from, int months, bool date1904)
{
    const int total = from.y * 12 + (from.m - 1) - months;
    const int y = total / 12, m = total % 12 + 1;
    const int last = daysInMonth(y, m);
    const bool endOfMonth = from.d == daysInMonth(from.y, from.m);
    return dateToSerial(y, m, endOfMonth ? last : std::min(from.d, last), date1904);
}

// The coupon period around the settlement date: the coupon dates before
// (or on) and after it, and how many coupons remain to maturity.
struct Period
{
    double previous = 0, next = 0;
    int remaining = 0;
};

Period couponPeriod(const Span &s)
{
    const int step = 12 / s.freq;
    const Day mat = dayOf(s.maturity, s.date1904), set = dayOf(s.settle, s.date1904);
    int k = std::max(0, ((mat.y - set.y) * 12 + mat.m - set.m) / step);
    while (k > 0 && monthsBefore(mat, k * step, s.date1904) <= s.settle)
        --k;
    while (monthsBefore(mat, (k + 1) * step, s.date1904) > s.settle)
        ++k;
    Period p;
    p.next = monthsBefore(mat, k * step, s.date1904);
    p.previous = monthsBefore(mat, (k + 1) * step, s.date1904);
    p.remaining = k + 1;
    return p;
}

// Days of the coupon period (E), from its start to settlement (A) and from
// settlement to the next coupon (DSC), as the basis counts them.
struct CouponDays
{
    double period = 0, before = 0, after = 0;
    int remaining = 0;
};

CouponDays couponDays(const Span &s)
{
    const Period p = couponPeriod(s);
    CouponDays d;
    d.remaining = p.remaining;
    d.period = s.basis == 1 ? p.next - p.previous : (s.basis == 3 ? 365.0 : 360.0) / s.freq;
    d.before = basisDays(p.previous, s.settle, s.basis, s.date1904);
    d.after = s.basis == 0 || s.basis == 4 ? d.period - d.before : p.next - s.settle;
    return d;
}

// COUPDAYBS ... COUPPCD(settlement, maturity, frequency, [basis]).
Value coupon(Call &c, int which)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 3, s));
    SD_TRY(frequencyArg(c, 2, s.freq));
    const CouponDays d = couponDays(s);
    switch (which) {
    case 0:
        return Value::num(d.before);
    case 1:
        return Value::num(d.period);
    case 2:
        return Value::num(d.after);
    case 3:
        return Value::num(couponPeriod(s).next);
    case 4:
        return Value::num(d.remaining);
    default:
        return Value::num(couponPeriod(s).previous);
    }
}

Value fnCoupDayBs(Call &c)
{
    return coupon(c, 0);
}
Value fnCoupDays(Call &c)
{
    return coupon(c, 1);
}
Value fnCoupDaysNc(Call &c)
{
    return coupon(c, 2);
}
Value fnCoupNcd(Call &c)
{
    return coupon(c, 3);
}
Value fnCoupNum(Call &c)
{
    return coupon(c, 4);
}
Value fnCoupPcd(Call &c)
{
    return coupon(c, 5);
}

// ---- bonds with periodic interest -----------------------------------------

// The price per 100 of face value at a yield: with one coupon left, simple
// interest to maturity; with more, each payment discounted from its date.
double bondPrice(const CouponDays &d, double rate, double yld, double redemption, int freq)
{
    const double c = 100 * rate / freq, f = d.after / d.period, accrued = c * d.before / d.period;
    if (d.remaining <= 1)
        return (redemption + c) / (1 + f * yld / freq) - accrued;
    const double v = 1 + yld / freq;
    double p = redemption / std::pow(v, d.remaining - 1 + f);
    for (int k = 1; k <= d.remaining; ++k)
        p += c / std::pow(v, k - 1 + f);
    return p - accrued;
}

Value fnPrice(Call &c)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 6, s));
    double rate = 0, yld = 0, redemption = 0;
    SD_TRY(c.number(2, rate));
    SD_TRY(c.number(3, yld));
    SD_TRY(c.number(4, redemption));
    SD_TRY(frequencyArg(c, 5, s.freq));
    if (rate < 0 || yld < 0 || redemption <= 0)
        return Value::err(ErrNum);
    return Value::num(bondPrice(couponDays(s), rate, yld, redemption, s.freq));
}

// The yield at which bondPrice() gives `price`: with one coupon left
// directly, otherwise by Newton's method with bisection as a fallback.
Value bondYield(Call &c, const CouponDays &d, double rate, double price, double redemption,
                int freq)
{
    if (d.remaining <= 1) {
        const double cr = rate / freq, paid = price / 100 + d.before / d.period * cr;
        return Value::num((redemption / 100 + cr - paid) / paid * freq * d.period / d.after);
    }
    auto f = [&](double y) { return bondPrice(d, rate, y, redemption, freq) - price; };
    double lo = 0, hi = 1;
    if (f(lo) < 0)
        return Value::err(ErrNum); // no yield of 0 or more reaches the price
    while (f(hi) > 0) {
        hi *= 2;
        if (hi > 1e6)
            return Value::err(ErrNum);
    }
    double y = rate > 0 && rate < hi ? rate : (lo + hi) / 2;
    for (int i = 0; i < 200; ++i) {
        c.evaluator.step(uint64_t(d.remaining));
        const double fy = f(y);
        if (fy == 0)
            return Value::num(y);
        (fy > 0 ? lo : hi) = y;
        const double h = std::max(1e-10, std::fabs(y) * 1e-8);
        const double slope = (f(y + h) - fy) / h;
        double next = slope < 0 ? y - fy / slope : (lo + hi) / 2;
        if (!(next > lo && next < hi))
            next = (lo + hi) / 2;
        if (std::fabs(next - y) <= 1e-15 * std::max(1.0, std::fabs(y)))
            return Value::num(next);
        y = next;
    }
    return Value::num(y);
}

Value fnYield(Call &c)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 6, s));
    double rate = 0, price = 0, redemption = 0;
    SD_TRY(c.number(2, rate));
    SD_TRY(c.number(3, price));
    SD_TRY(c.number(4, redemption));
    SD_TRY(frequencyArg(c, 5, s.freq));
    if (rate < 0 || price <= 0 || redemption <= 0)
        return Value::err(ErrNum);
    return bondYield(c, couponDays(s), rate, price, redemption, s.freq);
}

// Macaulay duration in years of a bond of 100 with the given coupon rate.
Value duration(Call &c, bool modified)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 5, s));
    double rate = 0, yld = 0;
    SD_TRY(c.number(2, rate));
    SD_TRY(c.number(3, yld));
    SD_TRY(frequencyArg(c, 4, s.freq));
    if (rate < 0 || yld < 0)
        return Value::err(ErrNum);
    const CouponDays d = couponDays(s);
    const double cf = 100 * rate / s.freq, v = 1 + yld / s.freq, f = d.after / d.period;
    double weighted = 0, total = 0;
    for (int k = 1; k <= d.remaining; ++k) {
        const double t = k - 1 + f;
        const double pv = (cf + (k == d.remaining ? 100 : 0)) / std::pow(v, t);
        weighted += t * pv;
        total += pv;
    }
    if (total == 0)
        return Value::err(ErrDiv0);
    const double years = weighted / total / s.freq;
    return Value::num(modified ? years / v : years);
}

Value fnDuration(Call &c)
{
    return duration(c, false);
}
Value fnMduration(Call &c)
{
    return duration(c, true);
}

// ---- accrued interest -----------------------------------------------------

// ACCRINT(issue, first_interest, settlement, rate, par, frequency, [basis],
// [calc_method]): par * rate / frequency times the share of each
// quasi-coupon period (counted back and forth from first_interest) that
// lies between the start and settlement. The start is the issue date, or
// first_interest when calc_method is FALSE and settlement is after it.
Value fnAccrint(Call &c)
{
    double issue = 0, first = 0, settle = 0, rate = 0, par = 0;
    SD_TRY(dateArg(c, 0, issue));
    SD_TRY(dateArg(c, 1, first));
    SD_TRY(dateArg(c, 2, settle));
    SD_TRY(c.number(3, rate));
    SD_TRY(c.number(4, par));
    int freq = 1, basis = 0;
    SD_TRY(frequencyArg(c, 5, freq));
    SD_TRY(basisArg(c, 6, basis));
    bool fromIssue = true;
    if (c.count() > 7 && !c.isEmpty(7))
        SD_TRY(c.boolean(7, fromIssue));
    if (rate <= 0 || par <= 0 || issue >= settle)
        return Value::err(ErrNum);
    const bool d1904 = c.evaluator.date1904();
    const double start = !fromIssue && settle > first ? first : issue;
    const int step = 12 / freq;
    const Day anchor = dayOf(first, d1904);
    // The quasi-coupon period [monthsBefore(k + 1), monthsBefore(k)] that holds `start`.
    int k = 0;
    while (monthsBefore(anchor, (k + 1) * step, d1904) > start)
        ++k;
    while (monthsBefore(anchor, k * step, d1904) <= start)
        --k;
    double share = 0;
    for (;; --k) {
        c.evaluator.step();
        const double from = monthsBefore(anchor, (k + 1) * step, d1904);
        const double to = monthsBefore(anchor, k * step, d1904);
        if (from >= settle)
            break;
        const double length = basis == 1 ? to - from : (basis == 3 ? 365.0 : 360.0) / freq;
        share += basisDays(std::max(from, start), std::min(to, settle), basis, d1904) / length;
    }
    return Value::num(par * rate / freq * share);
}

Value fnAccrintM(Call &c)
{
    double issue = 0, settle = 0, rate = 0, par = 0;
    int basis = 0;
    SD_TRY(dateArg(c, 0, issue));
    SD_TRY(dateArg(c, 1, settle));
    SD_TRY(c.number(2, rate));
    SD_TRY(c.number(3, par));
    SD_TRY(basisArg(c, 4, basis));
    if (rate <= 0 || par <= 0 || issue >= settle)
        return Value::err(ErrNum);
    return Value::num(par * rate * yearFraction(issue, settle, basis, c.evaluator.date1904()));
}

// ---- discounted and at-maturity securities ---------------------------------

// DISC, INTRATE, RECEIVED, PRICEDISC, YIELDDISC: (settlement, maturity, a,
// b, [basis]) with a and b above zero.
Value discounted(Call &c, int which)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 4, s));
    double a = 0, b = 0;
    SD_TRY(c.number(2, a));
    SD_TRY(c.number(3, b));
    if (a <= 0 || b <= 0)
        return Value::err(ErrNum);
    const double years = yearFraction(s.settle, s.maturity, s.basis, s.date1904);
    switch (which) {
    case 0: // DISC(pr, redemption)
        return Value::num((b - a) / b / years);
    case 1: // INTRATE(investment, redemption)
        return Value::num((b - a) / a / years);
    case 2: { // RECEIVED(investment, discount)
        const double left = 1 - b * years;
        return left <= 0 ? Value::err(ErrNum) : Value::num(a / left);
    }
    case 3: // PRICEDISC(discount, redemption)
        return Value::num(b - a * b * years);
    default: // YIELDDISC(pr, redemption)
        return Value::num((b - a) / a / years);
    }
}

Value fnDisc(Call &c)
{
    return discounted(c, 0);
}
Value fnIntRate(Call &c)
{
    return discounted(c, 1);
}
Value fnReceived(Call &c)
{
    return discounted(c, 2);
}
Value fnPriceDisc(Call &c)
{
    return discounted(c, 3);
}
Value fnYieldDisc(Call &c)
{
    return discounted(c, 4);
}

// PRICEMAT and YIELDMAT(settlement, maturity, issue, rate, yld or pr,
// [basis]): interest from issue paid at maturity.
Value atMaturity(Call &c, bool price)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 5, s));
    double issue = 0, rate = 0, v = 0;
    SD_TRY(dateArg(c, 2, issue));
    SD_TRY(c.number(3, rate));
    SD_TRY(c.number(4, v));
    if (rate < 0 || v < 0 || (!price && v == 0))
        return Value::err(ErrNum);
    const double issueToMat = yearFraction(issue, s.maturity, s.basis, s.date1904);
    const double issueToSet = yearFraction(issue, s.settle, s.basis, s.date1904);
    const double setToMat = yearFraction(s.settle, s.maturity, s.basis, s.date1904);
    if (price)
        return Value::num(100 * ((1 + issueToMat * rate) / (1 + setToMat * v) - issueToSet * rate));
    const double paid = v / 100 + issueToSet * rate;
    return Value::num((1 + issueToMat * rate - paid) / paid / setToMat);
}

Value fnPriceMat(Call &c)
{
    return atMaturity(c, true);
}
Value fnYieldMat(Call &c)
{
    return atMaturity(c, false);
}

// ---- Treasury bills -----------------------------------------------------------

// TBILLEQ, TBILLPRICE, TBILLYIELD(settlement, maturity, v): maturity at
// most one year after settlement; days counted actual/360.
Value tbill(Call &c, int which)
{
    Span s;
    SD_TRY(spanArgs(c, 0, 99, s));
    double v = 0;
    SD_TRY(c.number(2, v));
    const Day set = dayOf(s.settle, s.date1904);
    if (v <= 0 || s.maturity > dateToSerial(set.y + 1, set.m, set.d, s.date1904))
        return Value::err(ErrNum);
    const double days = s.maturity - s.settle;
    switch (which) {
    case 0: { // TBILLEQ(discount): the bond-equivalent yield
        if (days <= 182)
            return Value::num(365 * v / (360 - v * days));
        const double price = 100 * (1 - v * days / 360);
        if (price <= 0)
            return Value::err(ErrNum);
        const double t = days / 365;
        const double root = std::sqrt(t * t - (2 * t - 1) * (1 - 100 / price));
        return Value::num((-t + root) / (t - 0.5));
    }
    case 1: { // TBILLPRICE(discount)
        const double price = 100 * (1 - v * days / 360);
        return price <= 0 ? Value::err(ErrNum) : Value::num(price);
    }
    default: // TBILLYIELD(pr)
        return Value::num((100 - v) / v * 360 / days);
    }
}

Value fnTbillEq(Call &c)
{
    return tbill(c, 0);
}
Value fnTbillPrice(Call &c)
{
    return tbill(c, 1);
}
Value fnTbillYield(Call &c)
{
    return tbill(c, 2);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows securitiesFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "ACCRINT", -1, 6, 8, "V", E, fnAccrint },
        { "ACCRINTM", -1, 4, 5, "V", E, fnAccrintM },
        { "COUPDAYBS", -1, 3, 4, "V", E, fnCoupDayBs },
        { "COUPDAYS", -1, 3, 4, "V", E, fnCoupDays },
        { "COUPDAYSNC", -1, 3, 4, "V", E, fnCoupDaysNc },
        { "COUPNCD", -1, 3, 4, "V", E, fnCoupNcd },
        { "COUPNUM", -1, 3, 4, "V", E, fnCoupNum },
        { "COUPPCD", -1, 3, 4, "V", E, fnCoupPcd },
        { "DISC", -1, 4, 5, "V", E, fnDisc },
        { "DURATION", -1, 5, 6, "V", E, fnDuration },
        { "INTRATE", -1, 4, 5, "V", E, fnIntRate },
        { "MDURATION", -1, 5, 6, "V", E, fnMduration },
        { "PRICE", -1, 6, 7, "V", E, fnPrice },
        { "PRICEDISC", -1, 4, 5, "V", E, fnPriceDisc },
        { "PRICEMAT", -1, 5, 6, "V", E, fnPriceMat },
        { "RECEIVED", -1, 4, 5, "V", E, fnReceived },
        { "TBILLEQ", -1, 3, 3, "V", E, fnTbillEq },
        { "TBILLPRICE", -1, 3, 3, "V", E, fnTbillPrice },
        { "TBILLYIELD", -1, 3, 3, "V", E, fnTbillYield },
        { "YIELD", -1, 6, 7, "V", E, fnYield },
        { "YIELDDISC", -1, 4, 5, "V", E, fnYieldDisc },
        { "YIELDMAT", -1, 5, 6, "V", E, fnYieldMat },
    };
    return rows;
}

} // namespace sd::formula
