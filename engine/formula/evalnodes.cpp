// Expression evaluation: nodes, references, names, implicit intersection,
// reading areas, and the call of a function with its arguments' classes.

#include "formula/evaluator_p.h"

#include <algorithm>

namespace sd::formula {

namespace {

int32_t wrap(int64_t v, uint32_t size)
{
    const int64_t m = int64_t(size);
    return int32_t(((v % m) + m) % m);
}

} // namespace

bool EvaluatorPrivate::resolve(const RefSpec &r, const Ctx &ctx, Area &out) const
{
    if (r.flags & RefSpec::RefError)
        return false;
    auto rowOf
        = [&](int32_t v, bool rel) { return rel ? wrap(int64_t(ctx.row) + v, m_maxRows) : v; };
    auto colOf
        = [&](int32_t v, bool rel) { return rel ? wrap(int64_t(ctx.col) + v, m_maxCols) : v; };
    int32_t r1 = rowOf(r.row1, r.flags & RefSpec::Row1Rel);
    int32_t r2 = rowOf(r.row2, r.flags & RefSpec::Row2Rel);
    int32_t c1 = colOf(r.col1, r.flags & RefSpec::Col1Rel);
    int32_t c2 = colOf(r.col2, r.flags & RefSpec::Col2Rel);
    if (r1 > r2)
        std::swap(r1, r2);
    if (c1 > c2)
        std::swap(c1, c2);
    if (r1 < 0 || c1 < 0)
        return false;
    // An absolute whole column written for the larger grid ends at this grid's edge.
    r2 = std::min<int32_t>(r2, int32_t(m_maxRows) - 1);
    c2 = std::min<int32_t>(c2, int32_t(m_maxCols) - 1);
    if (r1 > r2 || c1 > c2)
        return false;
    out.sheet = r.sheet1 < 0 ? ctx.sheet : r.sheet1;
    out.lastSheet = r.sheet2 < 0 ? out.sheet : r.sheet2;
    if (out.sheet >= m_source.sheetCount() || out.lastSheet >= m_source.sheetCount())
        return false;
    out.row1 = uint32_t(r1), out.row2 = uint32_t(r2);
    out.col1 = uint32_t(c1), out.col2 = uint32_t(c2);
    return true;
}

Value EvaluatorPrivate::eval(const Formula &f, uint32_t index, const Ctx &ctx)
{
    step();
    const Node &n = f.node(index);
    switch (n.kind) {
    case NodeKind::Number:
        return Value::num(f.numbers[n.payload]);
    case NodeKind::Text:
        return Value::str(f.strings[n.payload]);
    case NodeKind::Bool:
        return Value::boolean(n.payload != 0);
    case NodeKind::Error:
        return Value::err(uint8_t(n.payload));
    case NodeKind::Missing:
        return Value();
    case NodeKind::Ref: {
        Area a;
        if (!resolve(f.refs[n.payload], ctx, a))
            return Value::err(ErrRef);
        return Value::ref(a);
    }
    case NodeKind::Name:
        return evalName(f.names[n.payload], ctx);
    case NodeKind::Array:
        return Value::arr(f.arrays[n.payload]);
    case NodeKind::Unary: {
        Value v = eval(f, f.child(n, 0), ctx);
        return unaryOp(n.op, deref(v, ctx));
    }
    case NodeKind::Binary: {
        Value a = eval(f, f.child(n, 0), ctx);
        Value b = eval(f, f.child(n, 1), ctx);
        if (n.op == Op::Range || n.op == Op::Union || n.op == Op::Intersect)
            return referenceOp(n.op, a, b);
        const bool last = index == f.root && &f == m_cellFormula;
        return binaryOp(n.op, deref(a, ctx), deref(b, ctx), last);
    }
    case NodeKind::Call:
        return callFunction(f, n, ctx);
    case NodeKind::Unknown: {
        // #NAME? only for a name the application does not know either; a
        // function it has ("_xlfn.", a BIFF number the table lacks: "function
        // #N") keeps the cache.
        // A defined name may be called too (a LAMBDA the workbook names).
        const std::string &name = f.strings[n.payload];
        FormulaSource named;
        const bool unknown = name.find('#') == std::string::npos && !applicationHasFunction(name)
            && !m_source.name(name, ctx.sheet, named);
        throw Unsupported { "unknown function " + name, unknown };
    }
    case NodeKind::Unsupported:
        throw Unsupported { f.strings[n.payload] };
    }
    return Value::err(ErrValue);
}

namespace {

// A LET name as it is looked up: upper case, without the _xlpm. prefix the
// file format gives it.
std::string localKey(std::string_view name)
{
    std::string key = upperText(name);
    if (key.compare(0, 6, "_XLPM.") == 0)
        key.erase(0, 6);
    return key;
}

} // namespace

void EvaluatorPrivate::bindLocal(const std::string &name, Value v)
{
    m_locals.emplace_back(localKey(name), std::move(v));
}

Value EvaluatorPrivate::evalName(const NameRef &ref, const Ctx &ctx)
{
    if (ref.sheet == -2)
        throw Unsupported { "external name " + ref.name };
    if (ref.sheet == -1 && !m_locals.empty()) {
        const std::string key = localKey(ref.name);
        for (auto it = m_locals.rbegin(); it != m_locals.rend(); ++it)
            if (it->first == key)
                return it->second;
    }
    const int scope = ref.sheet >= 0 ? ref.sheet : ctx.sheet;
    FormulaSource src;
    if (!m_source.name(ref.name, scope, src))
        return Value::err(ErrName);
    if (m_nameDepth >= 32)
        return Value::err(ErrName); // names that define each other
    const std::string cacheKey = std::to_string(scope) + '\x01' + upperText(ref.name);
    auto it = m_names.find(cacheKey);
    if (it == m_names.end()) {
        auto f = std::make_shared<Formula>();
        if (src.kind == FormulaSource::Kind::Text) {
            *f = parseFormula(src.data, m_source, 0, 0);
        } else {
            TokenOptions opt;
            opt.biff5 = src.biff5;
            *f = decodeTokens(reinterpret_cast<const uint8_t *>(src.data.data()), src.data.size(),
                              reinterpret_cast<const uint8_t *>(src.extra.data()), src.extra.size(),
                              m_source, 0, 0, opt);
        }
        it = m_names.emplace(cacheKey, std::move(f)).first;
    }
    const Formula &f = *it->second;
    if (!f.ok())
        throw Unsupported { "cannot parse name " + ref.name + ": " + f.error };
    struct Depth
    {
        int &d;
        explicit Depth(int &x)
            : d(++x)
        {
        }
        ~Depth() { --d; }
    } guard(m_nameDepth);
    // A defined name means the same inside a LET: its names are hidden.
    std::vector<std::pair<std::string, Value>> hidden;
    hidden.swap(m_locals);
    struct Restore
    {
        std::vector<std::pair<std::string, Value>> &locals, &saved;
        ~Restore() { locals.swap(saved); }
    } restore { m_locals, hidden };
    return eval(f, f.root, ctx);
}

// ---- references as values -------------------------------------------------

Value EvaluatorPrivate::intersect(const Value &ref, const Ctx &ctx)
{
    if (ref.areaCount() != 1)
        return Value::err(ErrValue);
    const Area &a = ref.area;
    if (a.sheet != a.lastSheet)
        return Value::err(ErrValue);
    if (a.row1 == a.row2 && a.col1 == a.col2)
        return cell(a.sheet, a.row1, a.col1);
    if (a.col1 == a.col2 && ctx.row >= a.row1 && ctx.row <= a.row2)
        return cell(a.sheet, ctx.row, a.col1);
    if (a.row1 == a.row2 && ctx.col >= a.col1 && ctx.col <= a.col2)
        return cell(a.sheet, a.row1, ctx.col);
    // A block meets the formula's cell when both its row and column do.
    if (ctx.row >= a.row1 && ctx.row <= a.row2 && ctx.col >= a.col1 && ctx.col <= a.col2)
        return cell(a.sheet, ctx.row, ctx.col);
    return Value::err(ErrValue);
}

Value EvaluatorPrivate::deref(const Value &v, const Ctx &ctx)
{
    if (!v.isRef())
        return v;
    if (ctx.array) {
        if (v.areaCount() == 1 && v.area.isCell())
            return cell(v.area.sheet, v.area.row1, v.area.col1);
        return Value::arr(toArray(v));
    }
    return intersect(v, ctx);
}

void EvaluatorPrivate::visit(const Value &v, const CellVisitor &f)
{
    if (v.isArray()) {
        const ArrayData &a = *v.array;
        for (uint32_t r = 0; r < a.rows; ++r)
            for (uint32_t c = 0; c < a.cols; ++c)
                if (a.at(r, c).type != ValueType::Blank)
                    f(a.at(r, c), r, c);
        return;
    }
    if (!v.isRef()) {
        if (v.type != ValueType::Blank)
            f(v, 0, 0);
        return;
    }
    for (size_t i = 0; i < v.areaCount(); ++i) {
        const Area &a = v.areaAt(i);
        needFormulasIn(a);
        for (int s = a.sheet; s <= a.lastSheet; ++s) {
            const CellRange range { a.row1, a.col1, a.row2, a.col2 };
            // Dynamic arrays spilling into the area beyond what the file
            // recorded add cells the source does not hold: then all are
            // gathered and visited in order.
            std::vector<SpilledCell> cells;
            spilledCellsIn(s, range, cells);
            const bool gather = !cells.empty();
            m_source.cellsIn(s, range, [&](uint32_t row, uint32_t col, const Value &stored) {
                // Callers index arrays by the offsets: a source that strays
                // out of the area must not make them write out of bounds.
                if (row < a.row1 || row > a.row2 || col < a.col1 || col > a.col2)
                    return;
                step();
                Entry *e = entry(s, row, col);
                Value x = e && recalc(*e, key(s, row, col)) ? cell(s, row, col) : stored;
                if (x.type == ValueType::Blank)
                    return;
                if (gather)
                    cells.push_back({ row, col, std::move(x) });
                else
                    f(x, row - a.row1, col - a.col1);
            });
            if (!gather)
                continue;
            std::stable_sort(cells.begin(), cells.end(),
                             [](const SpilledCell &x, const SpilledCell &y) {
                                 return x.row != y.row ? x.row < y.row : x.col < y.col;
                             });
            for (const SpilledCell &c : cells)
                f(c.value, c.row - a.row1, c.col - a.col1);
        }
    }
}

ArrayData EvaluatorPrivate::toArray(const Value &v)
{
    ArrayData out;
    if (v.isArray())
        return *v.array;
    if (!v.isRef()) {
        out.rows = out.cols = 1;
        out.items.push_back(v);
        return out;
    }
    if (v.areaCount() != 1 || v.area.sheet != v.area.lastSheet) {
        out.rows = out.cols = 1;
        out.items.push_back(Value::err(ErrValue));
        return out;
    }
    const Area &a = v.area;
    if (a.cellCount() > kMaxArrayCells)
        throw Unsupported { "array too large" };
    out.rows = a.rows();
    out.cols = a.cols();
    step(a.cellCount() / 16);
    out.items.resize(size_t(out.rows) * out.cols);
    visit(v,
          [&](const Value &x, uint32_t r, uint32_t c) { out.items[size_t(r) * out.cols + c] = x; });
    return out;
}

namespace {

constexpr size_t kAreaCacheMinCells = 64; // small areas are cheaper to read directly

} // namespace

std::shared_ptr<const ArrayData> EvaluatorPrivate::areaValues(const Area &a)
{
    const uint64_t cells = uint64_t(a.rows()) * a.cols();
    if (a.sheet != a.lastSheet || cells < kAreaCacheMinCells
        || m_areaCacheCells + cells > kAreaCacheCells)
        return nullptr;
    const auto k = std::make_tuple(a.sheet, a.row1, a.col1, a.row2, a.col2);
    auto it = m_areaCache.find(k);
    if (it != m_areaCache.end())
        return it->second;
    // All formula cells inside are computed first (or this throws to have
    // them computed), so the values kept are final.
    auto data = std::make_shared<ArrayData>(toArray(Value::ref(a)));
    m_areaCacheCells += size_t(cells);
    m_areaCache.emplace(k, data);
    return data;
}

// ---- function calls -------------------------------------------------------

Call::Call(EvaluatorPrivate &e, const Formula &f, const Node &node, const Ctx &c,
           const FunctionInfo &fi)
    : evaluator(e)
    , ctx(c)
    , info(fi)
    , m_f(f)
    , m_node(node)
    , m_count(node.argc)
    , m_values(node.argc)
    , m_done(node.argc, 0)
{
}

const Value &Call::arg(int i)
{
    static const Value blank;
    if (i < 0 || i >= m_count)
        return blank;
    if (m_done[size_t(i)])
        return m_values[size_t(i)];
    const uint32_t node = argNode(i);
    const char cls = argumentClass(info, i);
    Ctx inner = ctx;
    if (cls == 'A')
        inner.array = true;
    Value v = evaluator.eval(m_f, node, inner);
    if (cls == 'V')
        v = evaluator.deref(v, inner);
    m_values[size_t(i)] = std::move(v);
    m_done[size_t(i)] = 1;
    return m_values[size_t(i)];
}

void Call::preset(int i, Value v)
{
    m_values[size_t(i)] = std::move(v);
    m_done[size_t(i)] = 1;
}

bool Call::isEmpty(int i) const
{
    return i < m_count && m_f.node(argNode(i)).kind == NodeKind::Missing;
}

Value Call::scalar(int i)
{
    Value v = arg(i);
    if (v.isRef())
        v = evaluator.intersect(v, ctx);
    if (v.isArray())
        v = v.array->items.empty() ? Value::err(ErrValue) : v.array->items[0];
    return v;
}

uint8_t Call::number(int i, double &out)
{
    return toNumber(scalar(i), out, evaluator.date1904());
}

uint8_t Call::text(int i, std::string &out)
{
    return toText(scalar(i), out);
}

uint8_t Call::boolean(int i, bool &out)
{
    return toBool(scalar(i), out);
}

Value EvaluatorPrivate::callFunction(const Formula &f, const Node &n, const Ctx &ctx)
{
    const FunctionInfo &fi = functionInfo(int(n.payload));
    if (!fi.impl)
        throw Unsupported { std::string("function ") + fi.name + " is not evaluated" };
    Call call(*this, f, n, ctx, fi);
    if (!(fi.flags & FunctionInfo::Elementwise))
        return fi.impl(call);
    std::vector<Value> args;
    bool anyArray = false;
    for (int i = 0; i < call.count(); ++i) {
        args.push_back(call.arg(i));
        anyArray = anyArray || args.back().isArray();
    }
    if (!anyArray)
        return fi.impl(call);
    return lift(args, [&](const std::vector<Value> &scalars) {
        Call one(*this, f, n, ctx, fi);
        for (size_t i = 0; i < scalars.size(); ++i)
            one.preset(int(i), scalars[i]);
        return fi.impl(one);
    });
}

} // namespace sd::formula
