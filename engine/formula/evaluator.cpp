// The evaluator's driver: which cells are recalculated, the explicit work
// stack that computes them in dependency order, cycle handling and the
// spread of volatility to dependent cells.

#include "formula/evaluator_p.h"

#include "core/numfmt.h"
#include "core/serialdate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace sd::formula {

int64_t clockNow()
{
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch) {
        char *end = nullptr;
        const long long v = std::strtoll(epoch, &end, 10);
        if (end && *end == '\0')
            return v;
    }
    return int64_t(std::time(nullptr));
}

EvaluatorPrivate::EvaluatorPrivate(CellSource &source, const EvalOptions &options)
    : m_source(source)
    , m_options(options)
    , m_date1904(source.date1904())
    , m_maxRows(std::max<uint32_t>(1, std::min(source.maxRows(), kMaxRows)))
    , m_maxCols(std::max<uint32_t>(1, std::min(source.maxColumns(), kMaxColumns)))
{
    const int sheets = std::max(0, source.sheetCount());
    m_index.resize(size_t(sheets));
    if (m_options.clock == 0)
        m_options.clock = clockNow();
    m_rng.seed(m_options.randomSeed ? m_options.randomSeed : uint64_t(m_options.clock));
}

EvaluatorPrivate::~EvaluatorPrivate() = default;

const NumberFormat &EvaluatorPrivate::format(const std::string &code)
{
    auto it = m_formats.find(code);
    if (it == m_formats.end())
        it = m_formats.emplace(code, std::make_unique<NumberFormat>(code)).first;
    return *it->second;
}

bool EvaluatorPrivate::isSubtotal(int sheet, uint32_t row, uint32_t col)
{
    Entry *e = entry(sheet, row, col);
    if (!e || e->src.kind == FormulaSource::Kind::None)
        return false;
    std::shared_ptr<Formula> f = parsed(e->src, sheet);
    static const int subtotal = findFunction("SUBTOTAL");
    static const int aggregate = findFunction("AGGREGATE");
    for (const Node &n : f->nodes)
        if (n.kind == NodeKind::Call && (int(n.payload) == subtotal || int(n.payload) == aggregate))
            return true;
    return false;
}

bool EvaluatorPrivate::formulaMovedDown(int sheet, uint32_t row, uint32_t col, uint32_t down,
                                        Value &out)
{
    Entry *e = entry(sheet, row, col);
    if (!e || e->src.kind == FormulaSource::Kind::None || e->src.array)
        return false;
    std::shared_ptr<Formula> f = parsed(e->src, sheet);
    if (!f->ok())
        throw Unsupported { "cannot parse: " + f->error };
    const Ctx ctx { sheet, std::min(row + down, m_maxRows - 1), col, false };
    out = eval(*f, f->root, ctx);
    if (out.isRef())
        out = intersect(out, ctx);
    if (out.isArray())
        out = out.array->items.empty() ? Value::err(ErrValue) : out.array->items[0];
    return true;
}

double EvaluatorPrivate::now()
{
    if (m_now < 0) {
        const double local = double(m_options.clock) + m_options.utcOffsetSeconds;
        const double days = std::floor(local / kSecondsPerDay);
        const double unixEpoch = dateToSerial(1970, 1, 1, m_date1904);
        m_now = unixEpoch + days + (local - days * kSecondsPerDay) / kSecondsPerDay;
    }
    return m_now;
}

double EvaluatorPrivate::random()
{
    return double(m_rng() >> 11) * (1.0 / 9007199254740992.0);
}

// ---- cells ----------------------------------------------------------------

void EvaluatorPrivate::buildIndex(int sheet)
{
    SheetIndex &idx = m_index[size_t(sheet)];
    if (idx.built)
        return;
    idx.built = true;
    std::vector<std::pair<uint32_t, uint32_t>> cells;
    m_source.formulaCells(sheet, cells);
    for (const auto &rc : cells) {
        if (rc.first >= m_maxRows || rc.second >= m_maxCols)
            continue;
        idx.rowsByColumn[rc.second].push_back(rc.first);
        m_entries.emplace(key(sheet, rc.first, rc.second), Entry());
    }
    for (auto &col : idx.rowsByColumn)
        std::sort(col.second.begin(), col.second.end());
}

EvaluatorPrivate::Entry *EvaluatorPrivate::entry(int sheet, uint32_t row, uint32_t col)
{
    if (sheet < 0 || size_t(sheet) >= m_index.size())
        return nullptr;
    buildIndex(sheet);
    auto it = m_entries.find(key(sheet, row, col));
    if (it == m_entries.end())
        return nullptr;
    Entry &e = it->second;
    if (e.src.kind == FormulaSource::Kind::None && e.recalc < 0) {
        e.src = m_source.formula(sheet, row, col);
        if (e.src.kind == FormulaSource::Kind::None)
            e.recalc = 0; // listed, but holds no formula after all
    }
    return &e;
}

EvaluatorPrivate::Entry *EvaluatorPrivate::entry(uint64_t k)
{
    return entry(int(k >> 34), uint32_t((k >> 14) & 0xFFFFF), uint32_t(k & 0x3FFF));
}

bool EvaluatorPrivate::recalc(Entry &e, uint64_t k)
{
    if (e.recalc >= 0)
        return e.recalc;
    if (m_exhausted) {
        e.recalc = 0;
        e.status = EvalStatus::StepLimit;
        return false;
    }
    if (m_options.keepVolatile && e.src.cached && e.src.mayBeVolatile) {
        std::shared_ptr<Formula> f = parsed(e.src, int(k >> 34));
        if (f->ok() && f->isVolatile) {
            e.recalc = 0;
            return false;
        }
    }
    if (m_options.recalculateAll || !e.src.cached) {
        e.recalc = 1;
        return true;
    }
    if (!m_volatileDone)
        computeVolatile();
    auto it = m_entries.find(k);
    if (it != m_entries.end() && it->second.recalc >= 0)
        return it->second.recalc;
    e.recalc = 0;
    return false;
}

bool EvaluatorPrivate::recalculates(int sheet, uint32_t row, uint32_t col)
{
    Entry *e = entry(sheet, row, col);
    return e && recalc(*e, key(sheet, row, col));
}

Value EvaluatorPrivate::cell(int sheet, uint32_t row, uint32_t col)
{
    step();
    const uint64_t k = key(sheet, row, col);
    Entry *e = entry(sheet, row, col);
    if (!e) {
        Value v = m_source.value(sheet, row, col);
        if (v.type == ValueType::Blank)
            spilledValue(sheet, row, col, v);
        return v;
    }
    if (!recalc(*e, k))
        return m_source.value(sheet, row, col);
    switch (e->state) {
    case State::Done:
        return e->value;
    case State::Active:
        throw Circular { k };
    default:
        m_need.push_back(k);
        throw NeedCells();
    }
}

// Every formula cell of an area that is still to be computed must be done
// before the area is read; all of them are asked for at once.
void EvaluatorPrivate::needFormulasIn(const Area &a)
{
    bool missing = false;
    for (int s = a.sheet; s <= a.lastSheet; ++s) {
        if (s < 0 || size_t(s) >= m_index.size())
            continue;
        buildIndex(s);
        const auto &cols = m_index[size_t(s)].rowsByColumn;
        for (auto it = cols.lower_bound(a.col1); it != cols.end() && it->first <= a.col2; ++it) {
            const auto &rows = it->second;
            for (auto r = std::lower_bound(rows.begin(), rows.end(), a.row1);
                 r != rows.end() && *r <= a.row2; ++r) {
                step();
                const uint64_t k = key(s, *r, it->first);
                Entry *e = entry(k);
                if (!e || e->state == State::Done || !recalc(*e, k))
                    continue;
                if (e->state == State::Active)
                    throw Circular { k };
                m_need.push_back(k);
                missing = true;
            }
        }
    }
    if (missing)
        throw NeedCells();
}

// ---- parsing --------------------------------------------------------------

std::shared_ptr<Formula> EvaluatorPrivate::parsed(const FormulaSource &src, int sheet)
{
    if (src.key) {
        auto it = m_parsed.find(src.key);
        if (it != m_parsed.end())
            return it->second;
    }
    auto f = std::make_shared<Formula>();
    if (src.kind == FormulaSource::Kind::Text) {
        *f = parseFormula(src.data, m_source, src.anchorRow, src.anchorCol, sheet);
    } else if (src.kind == FormulaSource::Kind::Tokens) {
        TokenOptions opt;
        opt.biff5 = src.biff5;
        *f = decodeTokens(reinterpret_cast<const uint8_t *>(src.data.data()), src.data.size(),
                          reinterpret_cast<const uint8_t *>(src.extra.data()), src.extra.size(),
                          m_source, src.anchorRow, src.anchorCol, opt);
    } else {
        f->error = "no formula";
    }
    if (src.key)
        m_parsed.emplace(src.key, f);
    return f;
}

// ---- the work stack -------------------------------------------------------

void EvaluatorPrivate::settle(Entry &e, EvalStatus status, std::string reason, bool unknownFunction)
{
    e.state = State::Done;
    e.status = status;
    e.reason = std::move(reason);
    if (e.src.cached)
        e.value = Value(); // read from the source on demand
    else if (unknownFunction)
        e.value = Value::err(ErrName);
    else
        e.value = Value();
    if (e.src.cached)
        e.recalc = 0; // from now on the cached value stands for this cell
}

void EvaluatorPrivate::run(uint64_t start)
{
    std::vector<uint64_t> stack { start };
    std::vector<uint64_t> pushed;
    while (!stack.empty()) {
        const uint64_t k = stack.back();
        Entry *e = entry(k);
        if (!e || e->state == State::Done) {
            stack.pop_back();
            continue;
        }
        if (e->state != State::Active) {
            e->state = State::Active;
            pushed.clear();
            try {
                prescan(k, *e, pushed);
            } catch (const OutOfSteps &) {
                pushed.clear();
            }
            if (!pushed.empty()) {
                stack.insert(stack.end(), pushed.rbegin(), pushed.rend());
                continue;
            }
        }
        m_need.clear();
        try {
            Value v = compute(k, *e);
            e->value = std::move(v);
            e->state = State::Done;
            e->status = EvalStatus::Computed;
            stack.pop_back();
        } catch (const NeedCells &) {
            for (uint64_t n : m_need) {
                Entry *d = entry(n);
                if (d && d->state != State::Done && d->state != State::Active) {
                    d->state = State::Pending;
                    stack.push_back(n);
                }
            }
        } catch (const Circular &c) {
            // Every cell from the one read back up to the top is in the cycle.
            for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
                Entry *d = entry(*it);
                if (d && d->state == State::Active)
                    settle(*d, EvalStatus::Circular, "circular reference");
                if (*it == c.key)
                    break;
            }
        } catch (const Unsupported &u) {
            settle(*e, EvalStatus::Unsupported, u.reason, u.unknownFunction);
            stack.pop_back();
        } catch (const OutOfSteps &) {
            m_exhausted = true;
            for (uint64_t s : stack) {
                Entry *d = entry(s);
                if (d && d->state != State::Done)
                    settle(*d, EvalStatus::StepLimit, "evaluation limit reached");
            }
            stack.clear();
        }
    }
}

// Pushes the formula cells that the formula's own references name, so that
// most cells compute at their first attempt.
void EvaluatorPrivate::prescan(uint64_t k, Entry &e, std::vector<uint64_t> &pushed)
{
    const int sheet = int(k >> 34);
    std::shared_ptr<Formula> f = parsed(e.src, sheet);
    if (!f->ok())
        return;
    const Ctx ctx { sheet, uint32_t((k >> 14) & 0xFFFFF), uint32_t(k & 0x3FFF), false };
    for (const RefSpec &r : f->refs) {
        Area a;
        if (!resolve(r, ctx, a))
            continue;
        for (int s = a.sheet; s <= a.lastSheet; ++s) {
            if (s < 0 || size_t(s) >= m_index.size())
                continue;
            buildIndex(s);
            const auto &cols = m_index[size_t(s)].rowsByColumn;
            for (auto it = cols.lower_bound(a.col1); it != cols.end() && it->first <= a.col2;
                 ++it) {
                const auto &rows = it->second;
                for (auto rr = std::lower_bound(rows.begin(), rows.end(), a.row1);
                     rr != rows.end() && *rr <= a.row2; ++rr) {
                    step();
                    const uint64_t d = key(s, *rr, it->first);
                    Entry *de = entry(d);
                    if (de && (de->state == State::Fresh || de->state == State::Pending)
                        && recalc(*de, d)) {
                        de->state = State::Pending;
                        pushed.push_back(d);
                    }
                }
            }
        }
    }
}

Value EvaluatorPrivate::compute(uint64_t k, Entry &e)
{
    const int sheet = int(k >> 34);
    const uint32_t row = uint32_t((k >> 14) & 0xFFFFF), col = uint32_t(k & 0x3FFF);
    std::shared_ptr<Formula> f = parsed(e.src, sheet);
    if (!f->ok())
        throw Unsupported { "cannot parse: " + f->error };
    m_cellFormula = f.get();
    if (e.src.array)
        return arrayElement(k, e, *f, sheet, row, col);
    const Ctx ctx { sheet, row, col, false };
    Value v = eval(*f, f->root, ctx);
    if (v.isRef())
        v = intersect(v, ctx);
    if (v.isArray())
        v = v.array->items.empty() ? Value::err(ErrValue) : v.array->items[0];
    if (v.type == ValueType::Blank)
        v = Value::num(0);
    return v;
}

// Array formulas compute once over their range; each cell shows its element.
Value EvaluatorPrivate::arrayElement(uint64_t k, Entry &e, const Formula &f, int sheet,
                                     uint32_t row, uint32_t col)
{
    (void)k;
    const uint64_t anchor = key(sheet, e.src.arrayRange.firstRow, e.src.arrayRange.firstCol);
    auto it = m_arrays.find(anchor);
    if (it == m_arrays.end()) {
        const Ctx ctx { sheet, e.src.arrayRange.firstRow, e.src.arrayRange.firstCol, true };
        Value v = eval(f, f.root, ctx);
        auto data = std::make_shared<ArrayData>(toArray(v));
        for (Value &item : data->items)
            if (item.type == ValueType::Blank)
                item = Value::num(0);
        it = m_arrays.emplace(anchor, std::move(data)).first;
    }
    if (e.src.dynamic)
        return dynamicElement(anchor, e, row, col);
    const ArrayData &a = *it->second;
    uint32_t r = row - e.src.arrayRange.firstRow, c = col - e.src.arrayRange.firstCol;
    if (a.rows == 1)
        r = 0;
    if (a.cols == 1)
        c = 0;
    if (r >= a.rows || c >= a.cols)
        return Value::err(ErrNA);
    return a.at(r, c);
}

CellResult EvaluatorPrivate::result(int sheet, uint32_t row, uint32_t col)
{
    CellResult out;
    const uint64_t k = key(sheet, row, col);
    Entry *e = entry(sheet, row, col);
    if (!e || !recalc(*e, k)) {
        out.value = m_source.value(sheet, row, col);
        if (e)
            out.status = e->status, out.reason = e->reason;
        return out;
    }
    if (e->state != State::Done)
        run(k);
    e = entry(k);
    out.status = e->status;
    out.reason = e->reason;
    out.value = e->status == EvalStatus::Computed || !e->src.cached
        ? e->value
        : m_source.value(sheet, row, col);
    return out;
}

// ---- volatility -----------------------------------------------------------

// The areas a formula reads, as far as they are written in it (names
// followed); what INDIRECT or OFFSET reads is not known, but they are
// volatile themselves.
void EvaluatorPrivate::staticAreas(const Formula &f, const Ctx &ctx, std::vector<Area> &out,
                                   int depth)
{
    for (const RefSpec &r : f.refs) {
        Area a;
        if (resolve(r, ctx, a))
            out.push_back(a);
    }
    if (depth > 8)
        return;
    for (const NameRef &n : f.names) {
        FormulaSource src;
        if (n.sheet == -2 || !m_source.name(n.name, n.sheet >= 0 ? n.sheet : ctx.sheet, src))
            continue;
        const Formula nf = src.kind == FormulaSource::Kind::Text
            ? parseFormula(src.data, m_source, 0, 0)
            : decodeTokens(reinterpret_cast<const uint8_t *>(src.data.data()), src.data.size(),
                           reinterpret_cast<const uint8_t *>(src.extra.data()), src.extra.size(),
                           m_source, 0, 0, TokenOptions { src.biff5, 1252 });
        if (nf.ok())
            staticAreas(nf, ctx, out, depth + 1);
    }
}

// Marks volatile formulas, and every formula that reads one, for
// recalculation; the other cached formulas keep their values.
void EvaluatorPrivate::computeVolatile()
{
    m_volatileDone = true;
    std::vector<uint64_t> all;
    for (size_t s = 0; s < m_index.size(); ++s) {
        buildIndex(int(s));
        for (const auto &col : m_index[s].rowsByColumn)
            for (uint32_t r : col.second)
                all.push_back(key(int(s), r, col.first));
    }
    // Nothing to spread when no formula may be volatile.
    bool any = false;
    for (uint64_t k : all) {
        Entry *e = entry(k);
        if (e && e->src.kind != FormulaSource::Kind::None && e->src.cached && e->src.mayBeVolatile)
            any = true;
    }
    if (!any)
        return;
    std::vector<uint64_t> dirty;
    std::vector<std::pair<Area, uint64_t>> reads; // area read by a cached formula
    try {
        for (uint64_t k : all) {
            Entry *e = entry(k);
            if (!e || e->src.kind == FormulaSource::Kind::None)
                continue;
            step(16);
            std::shared_ptr<Formula> f = parsed(e->src, int(k >> 34));
            if (!f->ok())
                continue;
            if (f->isVolatile || !e->src.cached) {
                if (e->src.cached)
                    dirty.push_back(k);
                e->recalc = 1;
                continue;
            }
            std::vector<Area> areas;
            const Ctx ctx { int(k >> 34), uint32_t((k >> 14) & 0xFFFFF), uint32_t(k & 0x3FFF),
                            false };
            staticAreas(*f, ctx, areas, 0);
            for (const Area &a : areas)
                reads.emplace_back(a, k);
        }
        // Spread to the readers of dirty cells.
        for (size_t i = 0; i < dirty.size(); ++i) {
            const uint64_t d = dirty[i];
            const int s = int(d >> 34);
            const uint32_t r = uint32_t((d >> 14) & 0xFFFFF), c = uint32_t(d & 0x3FFF);
            step(reads.size() / 64 + 1);
            for (const auto &read : reads) {
                const Area &a = read.first;
                if (s < a.sheet || s > a.lastSheet || r < a.row1 || r > a.row2 || c < a.col1
                    || c > a.col2)
                    continue;
                Entry *e = entry(read.second);
                if (e && e->recalc < 0) {
                    e->recalc = 1;
                    dirty.push_back(read.second);
                }
            }
        }
    } catch (const OutOfSteps &) {
        m_exhausted = true;
    }
}

// ---- public face ----------------------------------------------------------

Evaluator::Evaluator(CellSource &source, const EvalOptions &options)
    : m_d(std::make_unique<EvaluatorPrivate>(source, options))
{
}

Evaluator::~Evaluator() = default;

std::shared_ptr<const ArrayData> Evaluator::spilledArray(int sheet, uint32_t row, uint32_t col)
{
    return m_d->spilledArray(sheet, row, col);
}

Value Evaluator::value(int sheet, uint32_t row, uint32_t col)
{
    return m_d->result(sheet, row, col).value;
}

CellResult Evaluator::result(int sheet, uint32_t row, uint32_t col)
{
    return m_d->result(sheet, row, col);
}

bool Evaluator::recalculates(int sheet, uint32_t row, uint32_t col)
{
    return m_d->recalculates(sheet, row, col);
}

uint64_t Evaluator::steps() const
{
    return m_d->steps();
}

} // namespace sd::formula
