#pragma once

// Appends nodes to a Formula for both parsers, keeping the tree's depth and
// size within bounds so that evaluation can recurse safely.

#include "formula/ast.h"
#include "formula/formulalimits.h"

#include <algorithm>
#include <string>
#include <vector>

namespace sd::formula {

class FormulaBuilder
{
public:
    explicit FormulaBuilder(Formula &f)
        : m_f(f)
    {
    }

    // Each returns the node index, or kFailed once a bound is crossed.
    static constexpr uint32_t kFailed = 0xFFFFFFFFu;

    uint32_t number(double v)
    {
        m_f.numbers.push_back(v);
        return leaf(NodeKind::Number, uint32_t(m_f.numbers.size() - 1));
    }
    uint32_t text(std::string s)
    {
        m_f.strings.push_back(std::move(s));
        return leaf(NodeKind::Text, uint32_t(m_f.strings.size() - 1));
    }
    uint32_t boolean(bool b) { return leaf(NodeKind::Bool, b ? 1 : 0); }
    uint32_t error(uint8_t code) { return leaf(NodeKind::Error, code); }
    uint32_t missing() { return leaf(NodeKind::Missing, 0); }
    uint32_t ref(const RefSpec &r)
    {
        m_f.refs.push_back(r);
        return leaf(NodeKind::Ref, uint32_t(m_f.refs.size() - 1));
    }
    uint32_t name(NameRef n)
    {
        m_f.names.push_back(std::move(n));
        return leaf(NodeKind::Name, uint32_t(m_f.names.size() - 1));
    }
    uint32_t array(ArrayData a)
    {
        m_f.arrays.push_back(std::move(a));
        return leaf(NodeKind::Array, uint32_t(m_f.arrays.size() - 1));
    }
    uint32_t unsupported(std::string what)
    {
        m_f.strings.push_back(std::move(what));
        return leaf(NodeKind::Unsupported, uint32_t(m_f.strings.size() - 1));
    }
    uint32_t unary(Op op, uint32_t child) { return inner(NodeKind::Unary, op, 0, &child, 1); }
    uint32_t binary(Op op, uint32_t a, uint32_t b)
    {
        const uint32_t kids[2] = { a, b };
        return inner(NodeKind::Binary, op, 0, kids, 2);
    }
    uint32_t call(int function, const uint32_t *args, size_t count)
    {
        return inner(NodeKind::Call, Op::Add, uint32_t(function), args, count);
    }
    uint32_t unknown(std::string fname, const uint32_t *args, size_t count)
    {
        m_f.strings.push_back(std::move(fname));
        return inner(NodeKind::Unknown, Op::Add, uint32_t(m_f.strings.size() - 1), args, count);
    }

    bool failed() const { return !m_f.error.empty(); }
    void fail(std::string why)
    {
        if (m_f.error.empty())
            m_f.error = std::move(why);
    }
    // Finishes the formula with `root`; clears it on failure.
    void finish(uint32_t root)
    {
        if (root == kFailed && m_f.error.empty())
            m_f.error = "syntax error";
        if (!m_f.error.empty()) {
            std::string why = std::move(m_f.error);
            m_f = Formula();
            m_f.error = std::move(why);
            return;
        }
        m_f.root = root;
    }

private:
    uint32_t leaf(NodeKind kind, uint32_t payload)
    {
        return inner(kind, Op::Add, payload, nullptr, 0);
    }
    uint32_t inner(NodeKind kind, Op op, uint32_t payload, const uint32_t *kids, size_t count)
    {
        if (failed())
            return kFailed;
        if (m_f.nodes.size() >= kMaxNodes) {
            fail("formula too long");
            return kFailed;
        }
        if (count > size_t(kMaxArguments)) {
            fail("too many arguments");
            return kFailed;
        }
        uint16_t depth = 1;
        for (size_t i = 0; i < count; ++i) {
            if (kids[i] >= m_f.nodes.size()) {
                fail("syntax error");
                return kFailed;
            }
            depth = std::max<uint16_t>(depth, uint16_t(m_depth[kids[i]] + 1));
        }
        if (depth > kMaxTreeDepth) {
            fail("formula nested too deeply");
            return kFailed;
        }
        Node n;
        n.kind = kind;
        n.op = op;
        n.payload = payload;
        n.argc = uint16_t(count);
        n.first = uint32_t(m_f.children.size());
        m_f.children.insert(m_f.children.end(), kids, kids + count);
        m_f.nodes.push_back(n);
        m_depth.push_back(depth);
        return uint32_t(m_f.nodes.size() - 1);
    }

    Formula &m_f;
    std::vector<uint16_t> m_depth;
};

} // namespace sd::formula
