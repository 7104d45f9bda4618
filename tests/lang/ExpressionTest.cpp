#include "lang/Expression.h"

#include <gtest/gtest.h>

#include <map>

using kelm::Expression;
using kelm::ExprResult;

namespace {

// Evaluates text with the given tag values; an unknown tag fails like the kernel's answer.
ExprResult eval(const std::string& text, const std::map<std::string, double>& tags = {},
                std::vector<std::string>* asked = nullptr)
{
    std::string error;
    const Expression e = Expression::parse(text, error);
    if (!e.valid())
        return ExprResult::failure("parse: " + error);
    return e.evaluate([&](const std::string& tag) {
        if (asked)
            asked->push_back(tag);
        const auto it = tags.find(tag);
        return it == tags.end() ? ExprResult::failure("{" + tag + "}: no such variable") : ExprResult::of(it->second);
    });
}

double value(const std::string& text, const std::map<std::string, double>& tags = {})
{
    const ExprResult r = eval(text, tags);
    EXPECT_TRUE(r.ok()) << text << ": " << r.error;
    return r.value;
}

} // namespace

TEST(Expression, ArithmeticPrecedenceAndAssociativity)
{
    EXPECT_EQ(value("1 + 2 * 3"), 7);
    EXPECT_EQ(value("(1 + 2) * 3"), 9);
    EXPECT_EQ(value("1 - 2 - 3"), -4);
    EXPECT_EQ(value("10 / 4"), 2.5);
    EXPECT_EQ(value("-2 * -3"), 6);
    EXPECT_EQ(value("2 - -1"), 3);
    EXPECT_EQ(value(".5 + 1e2 + 2.5E-1"), 100.75);
}

TEST(Expression, ComparisonsAndLogicWithTheirSynonyms)
{
    EXPECT_EQ(value("3 < 4"), 1);
    EXPECT_EQ(value("3 >= 3"), 1);
    EXPECT_EQ(value("2 = 2"), 1);
    EXPECT_EQ(value("2 == 2"), 1);
    EXPECT_EQ(value("2 <> 2"), 0);
    EXPECT_EQ(value("2 != 3"), 1);
    EXPECT_EQ(value("1 and 0"), 0);
    EXPECT_EQ(value("1 && 2"), 1);
    EXPECT_EQ(value("0 || 3"), 1);
    EXPECT_EQ(value("not 0"), 1);
    EXPECT_EQ(value("!5"), 0);
    EXPECT_EQ(value("1 AND Not 0 Or 0"), 1);
    // "and" binds tighter than "or"; "not" looser than a comparison; arithmetic tighter than both.
    EXPECT_EQ(value("1 or 0 and 0"), 1);
    EXPECT_EQ(value("not 1 > 2"), 1);
    EXPECT_EQ(value("1 + 1 == 2 and 2 * 3 > 5"), 1);
}

TEST(Expression, TagsAreLookedUpByTheirTrimmedNames)
{
    const std::map<std::string, double> tags{{"T101:LEVEL", 2.75}, {"FV101:POS", 40}};
    EXPECT_EQ(value("{T101:LEVEL} > 2.5", tags), 1);
    EXPECT_EQ(value("{ FV101:POS } / 2 + {T101:LEVEL}", tags), 22.75);

    std::string error;
    const Expression e = Expression::parse("{B} + {A} * {B} - { A }", error);
    ASSERT_TRUE(e.valid()) << error;
    EXPECT_EQ(e.tags(), (std::vector<std::string>{"B", "A"}));

    const ExprResult unknown = eval("{T101:LEVEL} + {NOPE:X}", tags);
    EXPECT_EQ(unknown.error, "{NOPE:X}: no such variable");
}

TEST(Expression, AndOrLookAtTheirRightSideOnlyWhenNeeded)
{
    std::vector<std::string> asked;
    EXPECT_EQ(eval("0 and {X}", {}, &asked).value, 0);
    EXPECT_EQ(eval("1 or {X}", {}, &asked).value, 1);
    EXPECT_TRUE(asked.empty());
    // A guard keeps a division by zero from being evaluated.
    const ExprResult guarded = eval("{A} != 0 and 1 / {A} > 2", {{"A", 0}});
    EXPECT_TRUE(guarded.ok()) << guarded.error;
    EXPECT_EQ(guarded.value, 0);
}

TEST(Expression, EvaluationErrors)
{
    EXPECT_EQ(eval("1 / (2 - 2)").error, "division by zero");
    EXPECT_EQ(eval("1e308 * 10").error, "the result is not a finite number");
}

TEST(Expression, SyntaxErrorsSayWhatAndWhere)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "The expression is empty."},
        {"1 +", "Number, tag or '(' expected at column 4, found the end."},
        {"(1 + 2", "')' expected at column 7, found the end."},
        {"1 2", "Operator or end of the expression expected at column 3, found \"2\"."},
        {"{T101:LEVEL > 2", "Closing brace of the tag missing at column 1."},
        {"{ } > 1", "Tag name missing between the braces at column 1."},
        {"level > 2", "Unknown word \"level\" (a tag is written in braces) at column 1."},
        {"1 < 2 < 3", "Comparisons cannot be chained (join them with and) at column 7."},
        {"1 & 2", "Unexpected '&' at column 3."},
        {"1e+", "Malformed number at column 1."},
        {"2x", "Malformed number at column 1."},
        {"1e999", "Number out of range at column 1."},
        {") + 1", "Number, tag or '(' expected at column 1, found \")\"."},
        {"1 +\x01", "Unexpected byte 0x01 at column 4."},
    };
    for (const auto& [text, message] : cases) {
        std::string error;
        const Expression e = Expression::parse(text, error);
        EXPECT_FALSE(e.valid()) << text;
        EXPECT_EQ(error, message) << text;
        EXPECT_EQ(kelm::checkExpression(text), message) << text;
    }
    EXPECT_EQ(kelm::checkExpression("({A} > 1) and ({B} < 2)"), "");
}

TEST(Expression, DeepOrLongTextsAreRefusedWithoutRecursingThroughThem)
{
    const std::string tooDeep = "too deeply nested or too long";
    EXPECT_NE(kelm::checkExpression(std::string(1000000, '(') + "1" + std::string(1000000, ')')).find(tooDeep),
              std::string::npos);
    EXPECT_NE(kelm::checkExpression(std::string(1000000, '-') + "1").find(tooDeep), std::string::npos);
    EXPECT_NE(kelm::checkExpression(std::string(1000000, '!') + "1").find(tooDeep), std::string::npos);
    std::string sum = "1";
    for (int i = 0; i < 100000; ++i)
        sum += "+1";
    EXPECT_NE(kelm::checkExpression(sum).find(tooDeep), std::string::npos);

    std::string fine = "1";
    for (int i = 1; i < kelm::kMaxExpressionDepth; ++i)
        fine += "+1";
    EXPECT_EQ(value(fine), kelm::kMaxExpressionDepth);
    EXPECT_EQ(value(std::string(150, '(') + "2" + std::string(150, ')')), 2);
}
