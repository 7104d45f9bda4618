#include "lang/Expression.h"

#include "lang/Lexer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kelm {

enum class Op {
    Number,
    Tag,
    Negate,
    Not,
    Add,
    Subtract,
    Multiply,
    Divide,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Equal,
    NotEqual,
    And,
    Or
};

struct Expression::Node
{
    Op op = Op::Number;
    double number = 0.0;
    std::string tag;
    std::unique_ptr<Node> left;
    std::unique_ptr<Node> right;
    int depth = 1;
};

namespace {

// Operators are tokens too, carried as their Op ("-" as Subtract, "not" and "!" as Not).
enum class Token { End, Number, Tag, Open, Close, Operator };

std::string describe(char c)
{
    char text[32];
    if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned char>(c));
    return text;
}

Op opOf(Operator o)
{
    switch (o) {
    case Operator::Plus:
        return Op::Add;
    case Operator::Minus:
        return Op::Subtract;
    case Operator::Times:
        return Op::Multiply;
    case Operator::Divide:
        return Op::Divide;
    case Operator::Less:
        return Op::Less;
    case Operator::LessEqual:
        return Op::LessEqual;
    case Operator::Greater:
        return Op::Greater;
    case Operator::GreaterEqual:
        return Op::GreaterEqual;
    case Operator::Equal:
        return Op::Equal;
    case Operator::NotEqual:
        return Op::NotEqual;
    case Operator::Not:
        return Op::Not;
    case Operator::And:
        return Op::And;
    case Operator::Or:
        return Op::Or;
    case Operator::None:
        break;
    }
    return Op::Number;
}

class Parser
{
public:
    explicit Parser(std::string_view text) : m_text(text), m_lexer(text) {}

    std::unique_ptr<Expression::Node> parse(std::vector<std::string>& tags, std::string& error)
    {
        m_tags = &tags;
        if (m_lexer.blank()) {
            error = "The expression is empty.";
            return nullptr;
        }
        next();
        std::unique_ptr<Expression::Node> root = parseOr();
        if (root && m_token != Token::End)
            fail(m_tokenStart, "operator or end of the expression expected", tokenText());
        if (!m_error.empty()) {
            error = m_error;
            return nullptr;
        }
        return root;
    }

private:
    using NodePtr = std::unique_ptr<Expression::Node>;

    // Messages read "What at column N[, found X]." with N counted in bytes from 1.
    NodePtr fail(std::size_t at, const std::string& what, const std::string& found = std::string())
    {
        if (m_error.empty()) {
            m_error = what + " at column " + std::to_string(at + 1) + (found.empty() ? "" : ", found " + found) + ".";
            if (m_error[0] >= 'a' && m_error[0] <= 'z')
                m_error[0] = char(m_error[0] - 'a' + 'A');
        }
        m_token = Token::End;
        return nullptr;
    }

    std::string tokenText() const
    {
        if (m_token == Token::End)
            return "the end";
        const std::string_view t =
            m_text.substr(m_tokenStart, std::min<std::size_t>(m_lexer.position() - m_tokenStart, 20));
        return "\"" + std::string(t) + "\"";
    }

    void next()
    {
        if (!m_error.empty()) {
            m_token = Token::End;
            return;
        }
        const Lexeme l = m_lexer.next();
        m_tokenStart = l.start;
        switch (l.kind) {
        case LexKind::End:
            m_token = Token::End;
            return;
        case LexKind::Number:
            return number(l);
        case LexKind::Word:
            return word(l);
        case LexKind::Tag:
            return tag(l);
        case LexKind::Open:
            m_token = Token::Open;
            return;
        case LexKind::Close:
            m_token = Token::Close;
            return;
        case LexKind::Operator:
            m_token = Token::Operator;
            m_op = opOf(l.op);
            return;
        case LexKind::Time:
        case LexKind::Comma:
        case LexKind::Other:
            break;
        }
        fail(l.start, "unexpected " + describe(m_text[l.start]));
    }

    void number(const Lexeme& l)
    {
        if (!l.complete) {
            fail(l.start, "malformed number");
            return;
        }
        const char* first = m_text.data() + l.start;
        const char* last = m_text.data() + l.end;
        const auto [ptr, ec] = std::from_chars(first, last, m_number);
        if (ec != std::errc() || ptr != last || !std::isfinite(m_number)) {
            fail(l.start, "number out of range");
            return;
        }
        m_token = Token::Number;
    }

    void word(const Lexeme& l)
    {
        const Keyword k = m_lexer.keyword(l.start, l.end);
        if (k == Keyword::And || k == Keyword::Or || k == Keyword::Not) {
            m_token = Token::Operator;
            m_op = k == Keyword::And ? Op::And : k == Keyword::Or ? Op::Or : Op::Not;
            return;
        }
        fail(l.start, "unknown word \"" + std::string(m_text.substr(l.start, std::min<std::size_t>(l.length(), 20))) +
                          "\" (a tag is written in braces)");
    }

    void tag(const Lexeme& l)
    {
        // A tag's name holds no brace: "{A{B}" is an unclosed tag before another.
        if (!l.complete || m_text.substr(l.start + 1, l.length() - 2).find('{') != std::string_view::npos) {
            fail(l.start, "closing brace of the tag missing");
            return;
        }
        const std::string_view name = trimmedText(m_text.substr(l.start + 1, l.length() - 2));
        if (name.empty()) {
            fail(l.start, "tag name missing between the braces");
            return;
        }
        m_tag.assign(name);
        m_token = Token::Tag;
    }

    // Each binary node is one level deeper than its deeper operand, so that a long chain such as
    // 1+1+...+1 cannot build a tree that evaluation or destruction would recurse through too deeply.
    NodePtr binary(Op op, std::size_t at, NodePtr left, NodePtr right)
    {
        if (!left || !right)
            return nullptr;
        auto node = std::make_unique<Expression::Node>();
        node->op = op;
        node->depth = 1 + std::max(left->depth, right->depth);
        node->left = std::move(left);
        node->right = std::move(right);
        if (node->depth > kMaxExpressionDepth)
            return fail(at, "the expression is too deeply nested or too long");
        return node;
    }

    NodePtr unary(Op op, std::size_t at, NodePtr operand)
    {
        if (!operand)
            return nullptr;
        auto node = std::make_unique<Expression::Node>();
        node->op = op;
        node->depth = 1 + operand->depth;
        node->left = std::move(operand);
        if (node->depth > kMaxExpressionDepth)
            return fail(at, "the expression is too deeply nested or too long");
        return node;
    }

    // Guards the recursion of parentheses and unary operators.
    bool enter(std::size_t at)
    {
        if (++m_nesting > kMaxExpressionDepth) {
            fail(at, "the expression is too deeply nested or too long");
            return false;
        }
        return true;
    }

    using Level = NodePtr (Parser::*)();

    template <std::size_t N> bool atOperator(const Op (&ops)[N]) const
    {
        return m_token == Token::Operator && std::find(std::begin(ops), std::end(ops), m_op) != std::end(ops);
    }

    // Operands of the next tighter level joined left to right by the operators of this one.
    template <std::size_t N> NodePtr chain(Level operand, const Op (&ops)[N])
    {
        NodePtr left = (this->*operand)();
        while (left && atOperator(ops)) {
            const Op op = m_op;
            const std::size_t at = m_tokenStart;
            next();
            left = binary(op, at, std::move(left), (this->*operand)());
        }
        return left;
    }

    // A prefix operator applies to its own level again, so "- -1" and "not not 1" nest.
    // token: the operator as read; op: the node it makes.
    NodePtr prefix(Op token, Op op, Level self, Level operand)
    {
        if (m_token != Token::Operator || m_op != token)
            return (this->*operand)();
        const std::size_t at = m_tokenStart;
        if (!enter(at))
            return nullptr;
        next();
        NodePtr inner = (this->*self)();
        --m_nesting;
        return unary(op, at, std::move(inner));
    }

    static constexpr Op kOr[] = {Op::Or};
    static constexpr Op kAnd[] = {Op::And};
    static constexpr Op kComparisons[] = {Op::Less,         Op::LessEqual, Op::Greater,
                                          Op::GreaterEqual, Op::Equal,     Op::NotEqual};
    static constexpr Op kSums[] = {Op::Add, Op::Subtract};
    static constexpr Op kProducts[] = {Op::Multiply, Op::Divide};

    NodePtr parseOr() { return chain(&Parser::parseAnd, kOr); }
    NodePtr parseAnd() { return chain(&Parser::parseNot, kAnd); }
    // "not" binds looser than a comparison: not {A} > 1 is not ({A} > 1).
    NodePtr parseNot() { return prefix(Op::Not, Op::Not, &Parser::parseNot, &Parser::parseComparison); }

    // At most one comparison: 1 < {A} < 3 would compare a truth value with 3.
    NodePtr parseComparison()
    {
        NodePtr left = parseSum();
        if (!left || !atOperator(kComparisons))
            return left;
        const Op op = m_op;
        const std::size_t at = m_tokenStart;
        next();
        left = binary(op, at, std::move(left), parseSum());
        if (left && atOperator(kComparisons))
            return fail(m_tokenStart, "comparisons cannot be chained (join them with and)");
        return left;
    }

    NodePtr parseSum() { return chain(&Parser::parseProduct, kSums); }
    NodePtr parseProduct() { return chain(&Parser::parseUnary, kProducts); }
    NodePtr parseUnary() { return prefix(Op::Subtract, Op::Negate, &Parser::parseUnary, &Parser::parsePrimary); }

    NodePtr parsePrimary()
    {
        const std::size_t at = m_tokenStart;
        switch (m_token) {
        case Token::Number: {
            auto node = std::make_unique<Expression::Node>();
            node->number = m_number;
            next();
            return node;
        }
        case Token::Tag: {
            auto node = std::make_unique<Expression::Node>();
            node->op = Op::Tag;
            node->tag = m_tag;
            if (std::find(m_tags->begin(), m_tags->end(), m_tag) == m_tags->end())
                m_tags->push_back(m_tag);
            next();
            return node;
        }
        case Token::Open: {
            if (!enter(at))
                return nullptr;
            next();
            NodePtr inner = parseOr();
            --m_nesting;
            if (inner && m_token != Token::Close)
                return fail(m_tokenStart, "')' expected", tokenText());
            next();
            return inner;
        }
        default:
            return fail(at, "number, tag or '(' expected", tokenText());
        }
    }

    std::string_view m_text;
    Lexer m_lexer;
    std::size_t m_tokenStart = 0;
    Token m_token = Token::End;
    Op m_op = Op::Number;
    double m_number = 0.0;
    std::string m_tag;
    int m_nesting = 0;
    std::string m_error;
    std::vector<std::string>* m_tags = nullptr;
};

ExprResult evaluateNode(const Expression::Node& node, const TagLookup& lookup)
{
    switch (node.op) {
    case Op::Number:
        return ExprResult::of(node.number);
    case Op::Tag: {
        if (!lookup)
            return ExprResult::failure("no value for {" + node.tag + "}");
        return lookup(node.tag);
    }
    default:
        break;
    }
    ExprResult left = evaluateNode(*node.left, lookup);
    if (!left.ok())
        return left;
    switch (node.op) {
    case Op::Negate:
        return ExprResult::of(-left.value);
    case Op::Not:
        return ExprResult::of(left.value == 0.0 ? 1.0 : 0.0);
    case Op::And:
        if (left.value == 0.0)
            return ExprResult::of(0.0);
        break;
    case Op::Or:
        if (left.value != 0.0)
            return ExprResult::of(1.0);
        break;
    default:
        break;
    }
    ExprResult right = evaluateNode(*node.right, lookup);
    if (!right.ok())
        return right;
    const double a = left.value;
    const double b = right.value;
    switch (node.op) {
    case Op::Add:
        return ExprResult::of(a + b);
    case Op::Subtract:
        return ExprResult::of(a - b);
    case Op::Multiply:
        return ExprResult::of(a * b);
    case Op::Divide:
        if (b == 0.0)
            return ExprResult::failure("division by zero");
        return ExprResult::of(a / b);
    case Op::Less:
        return ExprResult::of(a < b);
    case Op::LessEqual:
        return ExprResult::of(a <= b);
    case Op::Greater:
        return ExprResult::of(a > b);
    case Op::GreaterEqual:
        return ExprResult::of(a >= b);
    case Op::Equal:
        return ExprResult::of(a == b);
    case Op::NotEqual:
        return ExprResult::of(a != b);
    case Op::And:
    case Op::Or:
        return ExprResult::of(b != 0.0);
    default:
        return ExprResult::failure("internal error");
    }
}

} // namespace

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Expression Expression::parse(std::string_view text, std::string& error)
{
    error.clear();
    Expression e;
    e.m_root = Parser(text).parse(e.m_tags, error);
    if (!e.m_root)
        e.m_tags.clear();
    return e;
}

ExprResult Expression::evaluate(const TagLookup& lookup) const
{
    if (!m_root)
        return ExprResult::failure("invalid expression");
    ExprResult result = evaluateNode(*m_root, lookup);
    if (result.ok() && !std::isfinite(result.value))
        return ExprResult::failure("the result is not a finite number");
    return result;
}

std::string checkExpression(std::string_view text)
{
    std::string error;
    Expression::parse(text, error);
    return error;
}

} // namespace kelm
