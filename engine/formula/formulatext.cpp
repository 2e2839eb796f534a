// A parsed formula written back as A1 text, for diagnostics and tests.

#include "formula/ast.h"
#include "formula/functions.h"

namespace sd::formula {

namespace {

std::string column(int32_t c)
{
    std::string s;
    for (uint32_t n = uint32_t(c) + 1; n > 0; n = (n - 1) / 26)
        s.insert(s.begin(), char('A' + (n - 1) % 26));
    return s;
}

const char *opText(Op op)
{
    static const char *const texts[] = { "+",  "-", "*",  "/", "^", "&", "<", "<=", "=",
                                         ">=", ">", "<>", ":", ",", " ", "-", "+",  "%" };
    return texts[int(op)];
}

class Writer
{
public:
    Writer(const Formula &f, uint32_t row, uint32_t col)
        : m_f(f)
        , m_row(int64_t(row))
        , m_col(int64_t(col))
    {
    }

    // Iterative post-order walk: children are written before their parent
    // combines them, so deep trees need no deep recursion.
    std::string write()
    {
        if (!m_f.ok())
            return "#ERROR(" + m_f.error + ")";
        std::vector<std::string> done(m_f.nodes.size());
        std::vector<std::pair<uint32_t, bool>> stack { { m_f.root, false } };
        while (!stack.empty()) {
            auto [i, expanded] = stack.back();
            stack.pop_back();
            const Node &n = m_f.node(i);
            if (!expanded && n.argc > 0) {
                stack.push_back({ i, true });
                for (uint32_t k = 0; k < n.argc; ++k)
                    stack.push_back({ m_f.child(n, k), false });
                continue;
            }
            done[i] = node(n, done);
        }
        return done[m_f.root];
    }

private:
    std::string ref(const RefSpec &r)
    {
        if (r.flags & RefSpec::RefError)
            return "#REF!";
        auto part = [&](int32_t rv, bool rrel, int32_t cv, bool crel) {
            const int64_t row = rrel ? m_row + rv : rv;
            const int64_t col = crel ? m_col + cv : cv;
            return (crel ? "" : "$") + column(int32_t(col)) + (rrel ? "" : "$")
                + std::to_string(row + 1);
        };
        std::string s;
        if (r.sheet1 >= 0)
            s = "[" + std::to_string(r.sheet1)
                + (r.sheet2 != r.sheet1 ? ":" + std::to_string(r.sheet2) : "") + "]!";
        s += part(r.row1, r.flags & RefSpec::Row1Rel, r.col1, r.flags & RefSpec::Col1Rel);
        if (r.row1 != r.row2 || r.col1 != r.col2
            || (r.flags & (RefSpec::Row1Rel | RefSpec::Col1Rel)) >> 0
                != (r.flags & (RefSpec::Row2Rel | RefSpec::Col2Rel)) >> 2)
            s += ":" + part(r.row2, r.flags & RefSpec::Row2Rel, r.col2, r.flags & RefSpec::Col2Rel);
        return s;
    }

    std::string node(const Node &n, const std::vector<std::string> &done)
    {
        auto kid = [&](uint32_t k) { return done[m_f.child(n, k)]; };
        switch (n.kind) {
        case NodeKind::Number: {
            std::string s = numberToText(m_f.numbers[n.payload]);
            return s;
        }
        case NodeKind::Text: {
            std::string s = "\"";
            for (char c : m_f.strings[n.payload])
                s += c == '"' ? std::string("\"\"") : std::string(1, c);
            return s + "\"";
        }
        case NodeKind::Bool:
            return n.payload ? "TRUE" : "FALSE";
        case NodeKind::Error:
            return errorText(engineError(uint8_t(n.payload)));
        case NodeKind::Missing:
            return "";
        case NodeKind::Ref:
            return ref(m_f.refs[n.payload]);
        case NodeKind::Name:
            return m_f.names[n.payload].name;
        case NodeKind::Array: {
            const ArrayData &a = m_f.arrays[n.payload];
            std::string s = "{";
            for (uint32_t r = 0; r < a.rows; ++r)
                for (uint32_t c = 0; c < a.cols; ++c) {
                    if (r || c)
                        s += c ? "," : ";";
                    std::string t;
                    const Value &v = a.at(r, c);
                    if (v.type == ValueType::Text)
                        t = "\"" + v.text + "\"";
                    else if (v.isError())
                        t = errorText(v.error);
                    else
                        toText(v, t);
                    s += t;
                }
            return s + "}";
        }
        case NodeKind::Unary:
            return n.op == Op::Percent ? kid(0) + "%" : std::string(opText(n.op)) + kid(0);
        case NodeKind::Binary:
            return "(" + kid(0) + opText(n.op) + kid(1) + ")";
        case NodeKind::Call:
        case NodeKind::Unknown: {
            std::string s = n.kind == NodeKind::Call ? functionInfo(int(n.payload)).name
                                                     : m_f.strings[n.payload];
            s += "(";
            for (uint32_t k = 0; k < n.argc; ++k)
                s += (k ? "," : "") + kid(k);
            return s + ")";
        }
        case NodeKind::Unsupported:
            return "#UNSUPPORTED(" + m_f.strings[n.payload] + ")";
        }
        return "?";
    }

    const Formula &m_f;
    int64_t m_row, m_col;
};

} // namespace

std::string formulaText(const Formula &f, uint32_t anchorRow, uint32_t anchorCol)
{
    return Writer(f, anchorRow, anchorCol).write();
}

} // namespace sd::formula
