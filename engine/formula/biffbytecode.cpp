// The BIFF parsed-expression decoder: reverse-Polish tokens onto an explicit
// operand stack, so that no token stream can make it recurse.

#include "formula/ast.h"
#include "formula/astbuild.h"
#include "formula/functions.h"
#include "io/byteorder.h"
#include "io/utf8.h"

#include <cstring>

namespace sd::formula {

namespace {

constexpr uint32_t kFailed = FormulaBuilder::kFailed;

std::string latin1(const uint8_t *p, size_t n)
{
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf16(const uint8_t *p, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = le16(p + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t lo = le16(p + 2 * i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

class Decoder
{
public:
    Decoder(const uint8_t *tokens, size_t size, const uint8_t *extra, size_t extraSize,
            const ParseContext &context, uint32_t row, uint32_t col, const TokenOptions &options,
            Formula &f)
        : m_p(tokens)
        , m_end(tokens + size)
        , m_x(extra)
        , m_xEnd(extra + extraSize)
        , m_context(context)
        , m_row(int32_t(row))
        , m_col(int32_t(col))
        , m_opt(options)
        , m_b(f)
        , m_f(f)
    {
    }

    void run()
    {
        if (m_end - m_p > ptrdiff_t(kMaxTokenBytes)) {
            m_b.fail("formula too long");
        } else {
            while (m_p < m_end && !m_b.failed())
                if (!token())
                    m_b.fail("bad token");
        }
        uint32_t root = kFailed;
        if (!m_b.failed() && m_stack.size() == 1)
            root = m_stack.back();
        else if (!m_b.failed())
            m_b.fail("unbalanced tokens");
        m_b.finish(root);
    }

private:
    bool need(size_t n) const { return size_t(m_end - m_p) >= n; }
    bool push(uint32_t node)
    {
        if (node == kFailed)
            return false;
        m_stack.push_back(node);
        return true;
    }
    bool pop(size_t n, uint32_t *out)
    {
        if (m_stack.size() < n)
            return false;
        for (size_t i = 0; i < n; ++i)
            out[i] = m_stack[m_stack.size() - n + i];
        m_stack.resize(m_stack.size() - n);
        return true;
    }

    bool binary(Op op)
    {
        uint32_t ab[2];
        return pop(2, ab) && push(m_b.binary(op, ab[0], ab[1]));
    }
    bool unary(Op op)
    {
        uint32_t a;
        return pop(1, &a) && push(m_b.unary(op, a));
    }

    bool token()
    {
        const uint8_t t = *m_p++;
        switch (t) {
        case 0x01: // ptgExp: this cell belongs to a shared or array formula
        case 0x02: // ptgTbl: what-if data table
            if (!need(4))
                return false;
            m_p += 4;
            return push(m_b.unsupported(t == 1 ? "shared formula reference" : "data table"));
        case 0x03:
            return binary(Op::Add);
        case 0x04:
            return binary(Op::Sub);
        case 0x05:
            return binary(Op::Mul);
        case 0x06:
            return binary(Op::Div);
        case 0x07:
            return binary(Op::Pow);
        case 0x08:
            return binary(Op::Concat);
        case 0x09:
            return binary(Op::Lt);
        case 0x0A:
            return binary(Op::Le);
        case 0x0B:
            return binary(Op::Eq);
        case 0x0C:
            return binary(Op::Ge);
        case 0x0D:
            return binary(Op::Gt);
        case 0x0E:
            return binary(Op::Ne);
        case 0x0F:
            return binary(Op::Intersect);
        case 0x10:
            return binary(Op::Union);
        case 0x11:
            return binary(Op::Range);
        case 0x12:
            return unary(Op::Plus);
        case 0x13:
            return unary(Op::Neg);
        case 0x14:
            return unary(Op::Percent);
        case 0x15:
            return true; // parentheses: display only
        case 0x16:
            return push(m_b.missing());
        case 0x17:
            return stringToken();
        case 0x19:
            return attribute();
        case 0x1C:
            if (!need(1))
                return false;
            return push(m_b.error(*m_p++));
        case 0x1D:
            if (!need(1))
                return false;
            return push(m_b.boolean(*m_p++ != 0));
        case 0x1E:
            if (!need(2))
                return false;
            m_p += 2;
            return push(m_b.number(le16(m_p - 2)));
        case 0x1F:
            if (!need(8))
                return false;
            m_p += 8;
            return push(m_b.number(leDouble(m_p - 8)));
        default:
            break;
        }
        if (t >= 0x20 && t < 0x80)
            return classed(uint8_t((t & 0x1F) | 0x20));
        return false; // 0x18 extended tokens, 0x1A/0x1B sheet tokens of old BIFF
    }

    bool stringToken()
    {
        if (!need(1))
            return false;
        const size_t n = *m_p++;
        if (m_opt.biff5) {
            if (!need(n))
                return false;
            m_p += n;
            return push(m_b.text(latin1(m_p - n, n)));
        }
        if (!need(1))
            return false;
        const bool wide = *m_p++ & 1;
        const size_t bytes = wide ? 2 * n : n;
        if (!need(bytes))
            return false;
        m_p += bytes;
        return push(m_b.text(wide ? utf16(m_p - bytes, n) : latin1(m_p - bytes, n)));
    }

    bool attribute()
    {
        if (!need(3))
            return false;
        const uint8_t kind = m_p[0];
        const uint16_t data = le16(m_p + 1);
        m_p += 3;
        if (kind & 0x04) { // choose: a jump table follows
            const size_t skip = (size_t(data) + 1) * 2;
            if (!need(skip))
                return false;
            m_p += skip;
            return true;
        }
        if (kind & 0x10) { // SUM of one argument
            uint32_t a;
            return pop(1, &a) && push(m_b.call(findFunction("SUM"), &a, 1));
        }
        return true; // volatile, if, goto, space, semicolon: no effect on the value
    }

    // A reference's row and column fields in BIFF8 (row u16, col u16 with
    // flags) or BIFF5 (row u16 with flags, col u8). `offsets` for the
    // ptgRefN/ptgAreaN forms, whose relative fields are signed offsets.
    void location(const uint8_t *rowp, const uint8_t *colp, int which, bool offsets, RefSpec &r)
    {
        int32_t row, col;
        bool rowRel, colRel;
        if (m_opt.biff5) {
            const uint16_t rw = le16(rowp);
            rowRel = rw & 0x8000;
            colRel = rw & 0x4000;
            row = rw & 0x3FFF;
            col = *colp;
            if (offsets && rowRel)
                row = int32_t(int16_t(uint16_t(row << 2)) >> 2);
        } else {
            const uint16_t cw = le16(colp);
            rowRel = cw & 0x8000;
            colRel = cw & 0x4000;
            row = le16(rowp);
            col = cw & 0x3FFF;
            if (offsets && rowRel)
                row = int16_t(uint16_t(row));
        }
        if (offsets && colRel)
            col = int8_t(uint8_t(col & 0xFF));
        int32_t &rs = which == 1 ? r.row1 : r.row2;
        int32_t &cs = which == 1 ? r.col1 : r.col2;
        if (rowRel) {
            rs = offsets ? row : row - m_row;
            r.flags |= which == 1 ? RefSpec::Row1Rel : RefSpec::Row2Rel;
        } else {
            rs = row;
        }
        if (colRel) {
            cs = offsets ? col : col - m_col;
            r.flags |= which == 1 ? RefSpec::Col1Rel : RefSpec::Col2Rel;
        } else {
            cs = col;
        }
    }

    bool cellRef(bool offsets, RefSpec &r)
    {
        const size_t n = m_opt.biff5 ? 3 : 4;
        if (!need(n))
            return false;
        location(m_p, m_p + 2, 1, offsets, r);
        location(m_p, m_p + 2, 2, offsets, r);
        m_p += n;
        return true;
    }

    bool areaRef(bool offsets, RefSpec &r)
    {
        const size_t n = m_opt.biff5 ? 6 : 8;
        if (!need(n))
            return false;
        if (m_opt.biff5) {
            location(m_p, m_p + 4, 1, offsets, r);
            location(m_p + 2, m_p + 5, 2, offsets, r);
        } else {
            location(m_p, m_p + 4, 1, offsets, r);
            location(m_p + 2, m_p + 6, 2, offsets, r);
        }
        m_p += n;
        return true;
    }

    // The sheet part of a 3-D token; false leaves the reference external.
    bool sheets3d(RefSpec &r, bool &external)
    {
        external = false;
        int first = -1, last = -1;
        if (m_opt.biff5) {
            if (!need(14))
                return false;
            const int16_t ixals = int16_t(le16(m_p));
            const int16_t tabFirst = int16_t(le16(m_p + 10));
            const int16_t tabLast = int16_t(le16(m_p + 12));
            m_p += 14;
            if (ixals < 0 && tabFirst >= 0 && tabLast >= 0) {
                first = tabFirst, last = tabLast;
            } else {
                external = true;
            }
        } else {
            if (!need(2))
                return false;
            const int ixti = le16(m_p);
            m_p += 2;
            if (!m_context.externSheet(ixti, first, last))
                external = true;
        }
        if (first > last)
            std::swap(first, last);
        r.sheet1 = int16_t(first);
        r.sheet2 = int16_t(last);
        return true;
    }

    bool classed(uint8_t base)
    {
        RefSpec r;
        bool external = false;
        switch (base) {
        case 0x20: // ptgArray: the values follow the tokens
            if (!need(7))
                return false;
            m_p += 7;
            return arrayConstant();
        case 0x21:
            return function(false);
        case 0x22:
            return function(true);
        case 0x23: { // ptgName
            const size_t n = m_opt.biff5 ? 14 : 4;
            if (!need(n))
                return false;
            const int index = le16(m_p);
            m_p += n;
            NameRef name;
            if (!m_context.definedName(index, name))
                return push(m_b.error(ErrName));
            return push(m_b.name(std::move(name)));
        }
        case 0x24:
            return cellRef(false, r) && push(m_b.ref(r));
        case 0x25:
            return areaRef(false, r) && push(m_b.ref(r));
        case 0x26: // ptgMemArea: its area list follows the tokens; the tokens after it compute it
        case 0x27: // ptgMemErr
        case 0x28: // ptgMemNoMem
            if (!need(6))
                return false;
            m_p += 6;
            return base != 0x26 || skipMemArea();
        case 0x29: // ptgMemFunc
        case 0x2E: // ptgMemAreaN
        case 0x2F: // ptgMemNoMemN
            if (!need(2))
                return false;
            m_p += 2;
            return true;
        case 0x2A: // ptgRefErr
            if (!need(m_opt.biff5 ? 3 : 4))
                return false;
            m_p += m_opt.biff5 ? 3 : 4;
            return push(m_b.error(ErrRef));
        case 0x2B: // ptgAreaErr
            if (!need(m_opt.biff5 ? 6 : 8))
                return false;
            m_p += m_opt.biff5 ? 6 : 8;
            return push(m_b.error(ErrRef));
        case 0x2C:
            return cellRef(true, r) && push(m_b.ref(r));
        case 0x2D:
            return areaRef(true, r) && push(m_b.ref(r));
        case 0x39:
            return externName();
        case 0x3A: // ptgRef3d
        case 0x3C: // ptgRefErr3d
            if (!sheets3d(r, external) || !cellRef(false, r))
                return false;
            if (base == 0x3C)
                return push(m_b.error(ErrRef));
            return push(external ? m_b.unsupported("external reference") : m_b.ref(r));
        case 0x3B: // ptgArea3d
        case 0x3D: // ptgAreaErr3d
            if (!sheets3d(r, external) || !areaRef(false, r))
                return false;
            if (base == 0x3D)
                return push(m_b.error(ErrRef));
            return push(external ? m_b.unsupported("external reference") : m_b.ref(r));
        default:
            return false;
        }
    }

    bool skipMemArea()
    {
        if (m_xEnd - m_x < 2)
            return false;
        const size_t n = le16(m_x);
        const size_t each = m_opt.biff5 ? 6 : 8;
        if (size_t(m_xEnd - m_x - 2) < n * each)
            return false;
        m_x += 2 + n * each;
        return true;
    }

    bool externName()
    {
        const size_t n = m_opt.biff5 ? 24 : 6;
        if (!need(n))
            return false;
        const int sheet = m_opt.biff5 ? int16_t(le16(m_p)) : le16(m_p);
        const int index = le16(m_p + (m_opt.biff5 ? 10 : 2));
        m_p += n;
        std::string name = m_context.externName(sheet, index);
        if (name.empty())
            return push(m_b.unsupported("external name"));
        NameRef ref;
        ref.name = std::move(name);
        ref.sheet = -2; // external: only meaningful as an add-in function's name
        return push(m_b.name(std::move(ref)));
    }

    bool arrayConstant()
    {
        if (m_xEnd - m_x < 3)
            return false;
        ArrayData a;
        a.cols = uint32_t(m_x[0]) + 1;
        a.rows = uint32_t(le16(m_x + 1)) + 1;
        m_x += 3;
        if (size_t(a.cols) * a.rows > size_t(m_xEnd - m_x))
            return false; // every element takes at least one byte
        a.items.reserve(size_t(a.cols) * a.rows);
        for (size_t i = 0; i < size_t(a.cols) * a.rows; ++i) {
            Value v;
            if (!arrayElement(v))
                return false;
            a.items.push_back(std::move(v));
        }
        return push(m_b.array(std::move(a)));
    }

    bool arrayElement(Value &v)
    {
        if (m_x >= m_xEnd)
            return false;
        const uint8_t kind = *m_x++;
        const size_t left = size_t(m_xEnd - m_x);
        switch (kind) {
        case 0x00: // empty
        case 0x01: // number
        case 0x04: // boolean
        case 0x10: // error
            if (left < 8)
                return false;
            if (kind == 0x01)
                v = Value::num(leDouble(m_x));
            else if (kind == 0x04)
                v = Value::boolean(m_x[0] != 0);
            else if (kind == 0x10)
                v = Value::err(m_x[0]);
            m_x += 8;
            return true;
        case 0x02: { // text
            if (m_opt.biff5) {
                if (left < 1 || left - 1 < m_x[0])
                    return false;
                const size_t n = m_x[0];
                v = Value::str(latin1(m_x + 1, n));
                m_x += 1 + n;
                return true;
            }
            if (left < 3)
                return false;
            const size_t n = le16(m_x);
            const bool wide = m_x[2] & 1;
            const size_t bytes = wide ? 2 * n : n;
            if (left - 3 < bytes)
                return false;
            v = Value::str(wide ? utf16(m_x + 3, n) : latin1(m_x + 3, n));
            m_x += 3 + bytes;
            return true;
        }
        default:
            return false;
        }
    }

    bool function(bool variable)
    {
        int argc, number;
        bool command = false;
        if (variable) {
            if (!need(3))
                return false;
            argc = m_p[0] & 0x7F;
            number = le16(m_p + 1) & 0x7FFF;
            command = le16(m_p + 1) & 0x8000; // a macro command, not a function
            m_p += 3;
        } else {
            if (!need(2))
                return false;
            number = le16(m_p);
            m_p += 2;
            const int id = functionByBiff(number);
            if (id < 0 || functionInfo(id).minArgs != functionInfo(id).maxArgs)
                return false; // unknown fixed-argument function: its count is unknown
            argc = functionInfo(id).minArgs;
        }
        if (size_t(argc) > m_stack.size())
            return false;
        std::vector<uint32_t> args(m_stack.end() - argc, m_stack.end());
        m_stack.resize(m_stack.size() - size_t(argc));
        if (command)
            return push(
                m_b.unknown("command #" + std::to_string(number), args.data(), args.size()));
        if (number == 255) // add-in or newer function: the first argument names it
            return addInCall(args);
        const int id = functionByBiff(number);
        if (id < 0)
            return push(
                m_b.unknown("function #" + std::to_string(number), args.data(), args.size()));
        const FunctionInfo &fi = functionInfo(id);
        if (args.size() < fi.minArgs || args.size() > fi.maxArgs)
            return false;
        if (fi.flags & FunctionInfo::Volatile)
            m_f.isVolatile = true;
        return push(m_b.call(id, args.data(), args.size()));
    }

    bool addInCall(std::vector<uint32_t> &args)
    {
        if (args.empty())
            return false;
        const Node &head = m_f.node(args[0]);
        std::string name;
        if (head.kind == NodeKind::Name)
            name = m_f.names[head.payload].name;
        const uint32_t *rest = args.data() + 1;
        const size_t count = args.size() - 1;
        const int id = name.empty() ? -1 : findFunction(name);
        if (id < 0)
            return push(m_b.unknown(name.empty() ? "add-in function" : name, rest, count));
        const FunctionInfo &fi = functionInfo(id);
        if (count < fi.minArgs || count > fi.maxArgs)
            return false;
        if (fi.flags & FunctionInfo::Volatile)
            m_f.isVolatile = true;
        return push(m_b.call(id, rest, count));
    }

    const uint8_t *m_p, *m_end;
    const uint8_t *m_x, *m_xEnd;
    const ParseContext &m_context;
    int32_t m_row, m_col;
    TokenOptions m_opt;
    FormulaBuilder m_b;
    Formula &m_f;
    std::vector<uint32_t> m_stack;
};

} // namespace

Formula decodeTokens(const uint8_t *tokens, size_t size, const uint8_t *extra, size_t extraSize,
                     const ParseContext &context, uint32_t anchorRow, uint32_t anchorCol,
                     const TokenOptions &options)
{
    Formula f;
    static const uint8_t none = 0;
    Decoder(tokens ? tokens : &none, tokens ? size : 0, extra ? extra : &none,
            extra ? extraSize : 0, context, anchorRow, anchorCol, options, f)
        .run();
    return f;
}

bool tokensPointAt(const uint8_t *tokens, size_t size, uint32_t &row, uint32_t &col)
{
    if (!tokens || size < 5 || (tokens[0] != 0x01 && tokens[0] != 0x02))
        return false;
    row = le16(tokens + 1);
    col = le16(tokens + 3);
    return true;
}

} // namespace sd::formula
