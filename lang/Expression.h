#pragma once

// The expression language of KELM conditions and values: numbers, {TAG} values, + - * / and unary
// minus, comparisons (< <= > >= == != and = <> for equal and not equal), and or not (&& || !),
// parentheses. Plain C++ without I/O, so that any part of the system can check or evaluate a text.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelm {

// A value or the reason there is none; error is empty on success.
struct ExprResult
{
    double value = 0.0;
    std::string error;

    bool ok() const { return error.empty(); }
    static ExprResult of(double v) { return ExprResult{v, {}}; }
    static ExprResult failure(std::string text) { return ExprResult{0.0, std::move(text)}; }
};

// The value of the tag named between the braces (trimmed), or an error text such as the kernel's.
using TagLookup = std::function<ExprResult(const std::string& tag)>;

class Expression
{
public:
    struct Node;

    Expression();
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Parses text. On failure the result is not valid() and error says what and where, e.g.
    // "')' expected at column 7, found the end." (columns count bytes from 1); on success error is
    // cleared.
    static Expression parse(std::string_view text, std::string& error);

    bool valid() const { return m_root != nullptr; }
    // The tags the expression names, each once, in order of first appearance.
    const std::vector<std::string>& tags() const { return m_tags; }

    // Comparisons and logic give 1 or 0; any value other than 0 is true. "and" and "or" look at their
    // right side only when the left does not decide, so a guard such as {A} != 0 and 1/{A} > 2 works.
    // A failed lookup, a division by zero or a result that is not finite is an error.
    ExprResult evaluate(const TagLookup& lookup) const;

private:
    std::unique_ptr<Node> m_root;
    std::vector<std::string> m_tags;
};

// The parse error of text, empty when it is a valid expression: for a live syntax check.
std::string checkExpression(std::string_view text);

// Parentheses and the unary operators may nest this deep; deeper texts are refused, not recursed.
constexpr int kMaxExpressionDepth = 200;

} // namespace kelm
