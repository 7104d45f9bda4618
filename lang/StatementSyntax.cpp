#include "lang/StatementSyntax.h"

#include "lang/Lexer.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using kelm::Keyword;
using kelm::Lexer;

std::string trimLeft(const std::string& s)
{
    return s.substr(Lexer(s).skipSpace(0));
}

std::string trimRight(const std::string& s)
{
    return s.substr(0, Lexer(s).trimEnd(0, s.size()));
}

std::string trim(const std::string& s)
{
    return std::string(kelm::trimmedText(s));
}

// Keywords are prefixes: nothing is required after them.
bool startsWithKeyword(const std::string& s, Keyword keyword)
{
    return Lexer(s).startsWith(0, keyword);
}

// Where the "}" or "]" closing the brace or bracket that s begins with stands, or npos.
std::size_t closing(const std::string& s, char close)
{
    const std::size_t end = Lexer(s).closingEnd(0, close);
    return end == Lexer::npos ? std::string::npos : end - 1;
}

bool startsWith(const std::string& s, char c)
{
    return !s.empty() && s.front() == c;
}

// Leading white space, an optional sign and the leading digits; no digits reads as 0. Saturates at
// +-limit instead of overflowing.
long long readInteger(const std::string& text, long long limit = INT_MAX)
{
    std::size_t i = Lexer(text).skipSpace(0);
    if (i == text.size())
        return 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    // The negative side reaches one further, as int's own range does.
    const long long bound = negative ? limit + 1 : limit;
    long long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        n = n > (bound - (text[i] - '0')) / 10 ? bound : n * 10 + (text[i] - '0');
    return negative ? -n : n;
}

// Hours are read and carried in 64 bits up to this bound, so a composed line reads back exactly.
constexpr long long kHoursLimit = LLONG_MAX / 4;

// Seconds as readInteger reads them, except that a number in exponent form ("1.23457e+06", as
// earlier versions wrote large plain times) counts as the number it denotes, truncated.
long long readSeconds(const std::string& text)
{
    Lexer lexer(text);
    const std::size_t i = lexer.skipSpace(0);
    const std::size_t digits = i < text.size() && (text[i] == '+' || text[i] == '-') ? i + 1 : i;
    lexer.seek(digits);
    const kelm::Lexeme number = lexer.next();
    if (number.kind == kelm::LexKind::Number && number.start == digits && Lexer::isDigit(text[digits]) &&
        text.find_first_of("eE", digits) < number.end) {
        const double value = std::strtod(text.c_str() + i, nullptr);
        if (!(value < static_cast<double>(INT_MAX)))
            return INT_MAX;
        if (!(value > static_cast<double>(INT_MIN)))
            return INT_MIN;
        return static_cast<long long>(value);
    }
    return readInteger(text);
}

// The attribute has the compiler check each pattern against its arguments.
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...)
{
    char buffer[64];
    std::va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return n < 0 ? std::string()
                 : std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

const std::string kOpeningBracket = "Opening bracket expected but not found.";
const std::string kClosingBracket = "Closing bracket expected but not found.";
const std::string kClosingBrace = "Closing brace for model tag missing.";
const std::string kComma = "Comma separator in argument list not found.";

// The line being read, and whether text after a complete piece is a fault (the program reading) or
// ignored (the dialog's). Every remaining text s during a parse is a suffix of line.
struct Reading
{
    const std::string& line;
    bool strict = false;
};

// 1-based column, in characters, of the byte at offset of a UTF-8 line.
std::size_t columnOf(const std::string& line, std::size_t offset)
{
    std::size_t column = 1;
    for (std::size_t i = 0; i < offset && i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80)
            ++column;
    }
    return column;
}

// In a strict reading, a fault when piece, which starts at offset of the line, holds more than
// white space.
StatementError nothingMore(const Reading& reading, std::string_view piece, std::size_t offset, const char* after)
{
    const auto first = Lexer(piece).skipSpace(0);
    if (!reading.strict || first == piece.size())
        return std::nullopt;
    return "Unexpected text after the " + std::string(after) + " at column " +
           std::to_string(columnOf(reading.line, offset + first)) + ".";
}

// The same for the rest s of the line.
StatementError nothingMore(const Reading& reading, const std::string& s, const char* after)
{
    return nothingMore(reading, s, reading.line.size() - s.size(), after);
}

// Position of the ")" that closes a parenthesis opened just before s, or npos; parentheses inside
// s nest, and a brace pair is skipped whole. With comma, a "," at the outer level ends it too.
std::size_t closingParenthesis(const std::string& s, bool comma)
{
    const std::size_t at = Lexer(s).closingParenthesis(0, comma);
    return at == Lexer::npos ? std::string::npos : at;
}

// s holds the time after the opening bracket of an "after" or "at" trigger.
StatementError parseTime(const Reading& reading, std::string& s, StatementFields& fields)
{
    if (!startsWith(s, '[')) {
        const auto close = s.find(')');
        if (close == std::string::npos)
            return kClosingBracket;
        fields.seconds = s.substr(0, close);
        s = s.substr(close + 1);
        return std::nullopt;
    }
    const auto end = closing(s, ']');
    if (end == std::string::npos)
        return std::string("Closing bracket on time constant missing.");
    std::string constant = s.substr(1, end - 1);
    const auto close = s.find(')', end);
    if (close == std::string::npos)
        return kClosingBracket;
    const std::size_t offset = reading.line.size() - s.size() + end + 1;
    if (StatementError error =
            nothingMore(reading, std::string_view(s).substr(end + 1, close - end - 1), offset, "time"))
        return error;
    s = s.substr(close + 1);

    constant = trim(constant);
    const auto blank = constant.find(' ');
    if (blank != std::string::npos) {
        fields.date = constant.substr(0, blank);
        constant = trimLeft(constant.substr(blank + 1));
    }
    const auto lastColon = constant.rfind(':');
    if (lastColon == std::string::npos) {
        fields.seconds = constant;
        return std::nullopt;
    }
    fields.seconds = constant.substr(lastColon + 1);
    const std::string hoursAndMinutes = constant.substr(0, lastColon);
    const auto firstColon = hoursAndMinutes.find(':');
    if (firstColon == std::string::npos) {
        fields.minutes = hoursAndMinutes;
    } else {
        fields.hours = hoursAndMinutes.substr(0, firstColon);
        fields.minutes = hoursAndMinutes.substr(firstColon + 1);
    }
    return std::nullopt;
}

// s holds the condition after the opening bracket of a "when" trigger.
StatementError parseCondition(std::string& s, StatementFields& fields)
{
    int depth = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '(') {
            ++depth;
        } else if (s[i] == ')') {
            if (depth == 0) {
                fields.expression = s.substr(0, i);
                s = s.substr(i + 1);
                return std::nullopt;
            }
            --depth;
        }
    }
    return kClosingBracket;
}

// Cuts the text up to the next c out of s (trimmed right) and leaves the rest after c in s.
bool takeUpTo(std::string& s, char c, std::string& piece)
{
    const auto at = s.find(c);
    if (at == std::string::npos)
        return false;
    piece = trimRight(s.substr(0, at));
    s = s.substr(at + 1);
    return true;
}

StatementError parseSet(std::string s, StatementFields& fields)
{
    fields.operation = OperationKind::Set;
    const auto close = closing(s, '}');
    if (close == std::string::npos)
        return kClosingBrace;
    fields.tag = s.substr(1, close - 1);
    s = trimLeft(s.substr(close + 1));
    if (!startsWith(s, '='))
        return std::string("Equal operator expected but not found.");
    fields.value = trim(s.substr(1));
    return std::nullopt;
}

StatementError parseRamp(const Reading& reading, std::string s, StatementFields& fields)
{
    fields.operation = OperationKind::Ramp;
    s = trimLeft(s.substr(4));
    if (!startsWith(s, '('))
        return kOpeningBracket;
    s = trimLeft(s.substr(1));
    if (!startsWith(s, '{'))
        return std::string("Opening brace for model tag missing.");
    const auto close = closing(s, '}');
    if (close == std::string::npos)
        return kClosingBrace;
    fields.tag = s.substr(1, close - 1);
    s = trimLeft(s.substr(close + 1));
    if (!startsWith(s, ','))
        return kComma;
    s = trimLeft(s.substr(1));
    if (!takeUpTo(s, ',', fields.value))
        return kComma;
    s = trimLeft(s);
    if (!takeUpTo(s, ',', fields.rampTime))
        return kComma;
    s = trimLeft(s);
    if (!takeUpTo(s, ')', fields.rampStep))
        return kClosingBracket;
    return nothingMore(reading, s, "statement");
}

StatementError parseSend(const Reading& reading, std::string s, StatementFields& fields)
{
    fields.operation = OperationKind::Send;
    s = trimLeft(s.substr(4));
    if (!startsWith(s, '('))
        return kOpeningBracket;
    s = trimLeft(s.substr(1));
    if (reading.strict) {
        // Arguments are expressions: their parentheses nest.
        const auto end = closingParenthesis(s, true);
        if (end == std::string::npos)
            return kClosingBracket;
        fields.opcode = trimRight(s.substr(0, end));
        fields.arguments.clear();
        if (s[end] == ',') {
            s = trimLeft(s.substr(end + 1));
            const auto close = closingParenthesis(s, false);
            if (close == std::string::npos)
                return kClosingBracket;
            fields.arguments = trimRight(s.substr(0, close));
            s = s.substr(close + 1);
        } else {
            s = s.substr(end + 1);
        }
        return nothingMore(reading, s, "statement");
    }
    // "send(OPCODE)" has no arguments; the composer writes it that way.
    if (s.find(',') == std::string::npos && takeUpTo(s, ')', fields.opcode)) {
        fields.arguments.clear();
        return std::nullopt;
    }
    if (!takeUpTo(s, ',', fields.opcode))
        return kComma;
    s = trimLeft(s);
    if (!takeUpTo(s, ')', fields.arguments))
        return kClosingBracket;
    return std::nullopt;
}

} // namespace

const char* triggerKeyword(TriggerKind kind)
{
    const int i = static_cast<int>(kind);
    return (i >= 0 && i < kTriggerKindCount) ? kTriggerKeywords[i] : "";
}

const char* operationKeyword(OperationKind kind)
{
    const int i = static_cast<int>(kind);
    return (i >= 0 && i < kOperationKindCount) ? kOperationKeywords[i] : "";
}

namespace {

StatementError parseLine(const Reading& reading, StatementFields& fields)
{
    const std::string& line = reading.line;
    if (line.empty())
        return std::nullopt;
    std::string s = trimLeft(line);

    if (startsWithKeyword(s, Keyword::At)) {
        fields.trigger = TriggerKind::At;
        s = s.substr(2);
    } else if (startsWithKeyword(s, Keyword::After)) {
        fields.trigger = TriggerKind::After;
        s = s.substr(5);
    } else if (startsWithKeyword(s, Keyword::When)) {
        fields.trigger = TriggerKind::When;
        s = s.substr(4);
    } else {
        return std::string("Don't recognize keyword.");
    }

    s = trimLeft(s);
    if (!startsWith(s, '('))
        return kOpeningBracket;
    s = trimLeft(s.substr(1));

    const bool timed = fields.trigger == TriggerKind::After || fields.trigger == TriggerKind::At;
    if (StatementError error = timed ? parseTime(reading, s, fields) : parseCondition(s, fields))
        return error;

    s = trimLeft(s);
    if (startsWith(s, '{'))
        return parseSet(s, fields);
    if (startsWithKeyword(s, Keyword::Ramp))
        return parseRamp(reading, s, fields);
    if (startsWithKeyword(s, Keyword::Send))
        return parseSend(reading, s, fields);
    if (startsWithKeyword(s, Keyword::Stop)) {
        fields.operation = OperationKind::Stop;
        return nothingMore(reading, s.substr(4), "statement");
    }
    return std::string("Operation keyword not recognized.");
}

} // namespace

StatementError ParseStatement(const std::string& line, StatementFields& fields)
{
    return parseLine(Reading{line, false}, fields);
}

StatementError ParseProgramStatement(const std::string& line, StatementFields& fields)
{
    return parseLine(Reading{line, true}, fields);
}

std::string ComposeStatement(const StatementFields& fields)
{
    std::string line = triggerKeyword(fields.trigger);
    line += " (";

    if (fields.trigger != TriggerKind::After && fields.trigger != TriggerKind::At) {
        line += fields.expression;
    } else {
        long long h = readInteger(fields.hours, kHoursLimit);
        long long m = readInteger(fields.minutes);
        long long x = readSeconds(fields.seconds);
        if (!fields.date.empty() || h > 0 || m > 0) {
            line += '[';
            if (!fields.date.empty() && fields.trigger != TriggerKind::After)
                line += fields.date + ' ';
            if (x >= 60) {
                m += x / 60;
                x %= 60;
            }
            if (m >= 60) {
                h = std::min(h + m / 60, kHoursLimit);
                m %= 60;
            }
            if (h > 0)
                line += format("%lld:%02lld:", h, m);
            else if (m > 0)
                line += format("%02lld:", m);
            line += format("%05.2f", static_cast<double>(x));
            line += ']';
        } else {
            // In full: an exponent form would change the time and read back as another one.
            line += format("%lld", x);
        }
    }
    line += ") ";

    switch (fields.operation) {
    case OperationKind::Set:
        line += "{" + fields.tag + "} = " + fields.value;
        break;
    case OperationKind::Ramp:
        line += "ramp({" + fields.tag + "}, " + fields.value + ", " + fields.rampTime + ", " + fields.rampStep + ")";
        break;
    case OperationKind::Send:
        line += "send(" + fields.opcode;
        // Without a comma the opcode ends at the first ")": one holding a ")" keeps the comma.
        if (!fields.arguments.empty() || fields.opcode.find(')') != std::string::npos)
            line += ", " + fields.arguments;
        line += ")";
        break;
    case OperationKind::Stop:
        line += "stop";
        break;
    case OperationKind::NoChoice:
        break;
    }
    return line;
}

StatementError ValidateStatement(const StatementFields& fields)
{
    auto missing = [](const std::string& field, const char* message) -> StatementError {
        if (field.empty())
            return std::string(message);
        return std::nullopt;
    };
    StatementError error;
    if (fields.trigger == TriggerKind::When && (error = missing(fields.expression, "An expression must be entered.")))
        return error;
    switch (fields.operation) {
    case OperationKind::Set:
        if ((error = missing(fields.tag, "A tag name must be entered.")) ||
            (error = missing(fields.value, "A tag value must be entered.")))
            return error;
        break;
    case OperationKind::Ramp:
        if ((error = missing(fields.tag, "A ramp tag name must be entered.")) ||
            (error = missing(fields.value, "A ramp target value must be entered.")) ||
            (error = missing(fields.rampTime, "A ramp total time value must be entered.")) ||
            (error = missing(fields.rampStep, "A ramp increment time value must be entered.")))
            return error;
        break;
    case OperationKind::Send:
        return missing(fields.opcode, "An opcode name must be entered.");
    case OperationKind::Stop:
    case OperationKind::NoChoice:
        break;
    }
    return std::nullopt;
}
