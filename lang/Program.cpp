#include "lang/Program.h"

#include "lang/Lexer.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kelm {

namespace {

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto low = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return low(x) == low(y);
           });
}

// Length of the UTF-8 sequence at s[i], 0 when it is not a valid one.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned int code = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : n;
}

bool isUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8Length(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view s)
{
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A decimal number without sign or exponent: "5", "05.50", ".5".
bool readDecimal(std::string_view text, double& value)
{
    text = trimmedText(text);
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text == ".")
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool readWhole(std::string_view text, int& value)
{
    text = trimmedText(text);
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return true;
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// dd-mm-yy with one or two digits for day and month and two for the year.
bool readDate(std::string_view text, CalendarDate& date)
{
    const std::size_t first = text.find('-');
    const std::size_t second = first == std::string_view::npos ? first : text.find('-', first + 1);
    if (second == std::string_view::npos || text.size() - second - 1 != 2 || first == 0 || first > 2 ||
        second - first - 1 == 0 || second - first - 1 > 2)
        return false;
    int yy = 0;
    if (!readWhole(text.substr(0, first), date.day) ||
        !readWhole(text.substr(first + 1, second - first - 1), date.month) || !readWhole(text.substr(second + 1), yy))
        return false;
    date.year = 2000 + yy;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.month < 1 || date.month > 12 || date.day < 1)
        return false;
    const int inMonth = days[date.month - 1] + (date.month == 2 && isLeapYear(date.year) ? 1 : 0);
    return date.day <= inMonth;
}

// Arguments split at the commas that stand outside braces and parentheses.
std::vector<std::string> splitArguments(std::string_view text)
{
    std::vector<std::string> out;
    if (trimmedText(text).empty())
        return out;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (c == '{' || c == '(')
            ++depth;
        else if ((c == '}' || c == ')') && depth > 0)
            --depth;
        else if (c == ',' && (depth == 0 || i == text.size())) {
            out.emplace_back(trimmedText(text.substr(start, i - start)));
            start = i + 1;
        }
    }
    return out;
}

bool checkTag(std::string& tag, std::string& fault)
{
    tag = std::string(trimmedText(tag));
    if (tag.empty())
        fault = "A tag name must be entered.";
    else if (tag.find_first_of("{}") != std::string::npos)
        fault = "A tag name cannot hold a brace.";
    return fault.empty();
}

bool readExpression(const std::string& text, const char* what, Expression& expression, std::string& fault)
{
    std::string error;
    expression = Expression::parse(text, error);
    if (!error.empty())
        fault = std::string(what) + ": " + error;
    return error.empty();
}

bool readTime(const StatementFields& fields, Statement& s, std::string& fault)
{
    if (!fields.date.empty()) {
        if (s.trigger != TriggerKind::At) {
            fault = "Only at takes a date.";
            return false;
        }
        if (!readDate(fields.date, s.date)) {
            fault = "The date must be a date written dd-mm-yy.";
            return false;
        }
        s.dated = true;
    }
    int hours = 0;
    int minutes = 0;
    double seconds = 0.0;
    if (!readWhole(fields.hours, hours)) {
        fault = "The hours must be a whole number.";
        return false;
    }
    if (!readWhole(fields.minutes, minutes)) {
        fault = "The minutes must be a whole number.";
        return false;
    }
    if (!readDecimal(fields.seconds, seconds)) {
        fault = "The time must be a number of seconds, or [h:mm:ss.ss].";
        return false;
    }
    s.seconds = hours * 3600.0 + minutes * 60.0 + seconds;
    return true;
}

bool readSend(const StatementFields& fields, Statement& s, std::string& fault)
{
    s.opcode = std::string(trimmedText(fields.opcode));
    s.arguments = splitArguments(fields.arguments);
    if (sameText(s.opcode, "ModelRun") || sameText(s.opcode, "ModelFreeze")) {
        s.send = sameText(s.opcode, "ModelRun") ? SendKind::ModelRun : SendKind::ModelFreeze;
        if (!s.arguments.empty())
            fault = s.opcode + " takes no arguments.";
        return fault.empty();
    }
    if (sameText(s.opcode, "SetVariable")) {
        s.send = SendKind::SetVariable;
        if (s.arguments.size() != 2) {
            fault = "SetVariable takes a tag and a value.";
            return false;
        }
        std::string_view tag = s.arguments[0];
        if (tag.size() >= 2 && tag.front() == '{' && tag.back() == '}')
            tag = tag.substr(1, tag.size() - 2);
        s.tag = std::string(tag);
        return checkTag(s.tag, fault) && readExpression(s.arguments[1], "SetVariable value", s.value, fault);
    }
    if (s.opcode.find_first_of(" \t{}()") != std::string::npos) {
        fault = "The opcode must be one word.";
        return false;
    }
    s.send = SendKind::Other;
    return true;
}

} // namespace

std::vector<std::string> Statement::tags() const
{
    std::vector<std::string> out;
    const auto add = [&out](const std::string& t) {
        if (!t.empty() && std::find(out.begin(), out.end(), t) == out.end())
            out.push_back(t);
    };
    for (const std::string& t : condition.tags())
        add(t);
    add(tag);
    for (const std::string& t : value.tags())
        add(t);
    return out;
}

LineKind readLine(const std::string& line, int number, Statement& s, std::string& fault)
{
    fault.clear();
    const Lexer lexer(line);
    if (lexer.blank() || lexer.commentLine())
        return LineKind::Comment;
    const std::string text(line, 0, lexer.commentStart());

    StatementFields fields;
    StatementError error = ParseProgramStatement(text, fields);
    if (!error)
        error = ValidateStatement(fields);
    if (error) {
        fault = *error;
        return LineKind::Faulty;
    }
    s = Statement();
    s.line = number;
    s.trigger = fields.trigger;
    s.operation = fields.operation;
    bool ok = true;
    if (s.trigger == TriggerKind::When)
        ok = readExpression(fields.expression, "Condition", s.condition, fault);
    else
        ok = readTime(fields, s, fault);
    if (ok) {
        switch (s.operation) {
        case OperationKind::Set:
            s.tag = fields.tag;
            ok = checkTag(s.tag, fault) && readExpression(fields.value, "Value", s.value, fault);
            break;
        case OperationKind::Ramp:
            s.tag = fields.tag;
            ok = checkTag(s.tag, fault) && readExpression(fields.value, "Ramp target", s.value, fault);
            if (ok && !readDecimal(fields.rampTime, s.rampTime)) {
                fault = "The ramp time must be a number of seconds.";
                ok = false;
            }
            if (ok && (!readDecimal(fields.rampStep, s.rampStep) || s.rampStep <= 0.0)) {
                fault = "The ramp step must be a number of seconds above 0.";
                ok = false;
            }
            break;
        case OperationKind::Send:
            ok = readSend(fields, s, fault);
            break;
        case OperationKind::Stop:
        case OperationKind::NoChoice:
            break;
        }
    }
    return ok ? LineKind::Statement : LineKind::Faulty;
}

Program readProgram(std::string_view content)
{
    if (startsWith(content, "\xEF\xBB\xBF"))
        content.remove_prefix(3);
    std::string converted;
    if (!isUtf8(content)) {
        converted = latin1ToUtf8(content);
        content = converted;
    }
    const char end = content.find('\n') != std::string_view::npos ? '\n' : '\r';

    Program program;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t stop = content.find(end, start);
        if (stop == std::string_view::npos)
            stop = content.size();
        std::string_view line = content.substr(start, stop - start);
        if (end == '\n' && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        program.lines.emplace_back(line);
        start = stop + 1;
    }
    for (std::size_t i = 0; i < program.lines.size(); ++i) {
        Statement statement;
        std::string fault;
        switch (readLine(program.lines[i], int(i + 1), statement, fault)) {
        case LineKind::Statement:
            program.statements.push_back(std::move(statement));
            break;
        case LineKind::Faulty:
            program.faults.push_back(LineFault{int(i + 1), fault});
            break;
        case LineKind::Comment:
            break;
        }
    }
    return program;
}

bool loadProgram(const std::string& path, Program& program, std::string& error)
{
    namespace fs = std::filesystem;
    if (path.empty()) {
        error = "no file name was given";
        return false;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        error = std::make_error_code(std::errc::no_such_file_or_directory).message();
        return false;
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    if (fs::is_directory(status)) {
        error = "it is a folder";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = "it is not a regular file";
        return false;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (size > std::uintmax_t(kMaxProgramBytes)) {
        error = "the file is larger than 64 MB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::error_code(errno, std::generic_category()).message();
        return false;
    }
    std::string content(std::size_t(size), '\0');
    in.read(content.data(), std::streamsize(size));
    content.resize(std::size_t(in.gcount()));
    if (in.bad()) {
        error = "reading failed";
        return false;
    }
    if (content.find('\0') != std::string::npos) {
        error = "it is not a text file";
        return false;
    }
    program = readProgram(content);
    return true;
}

std::string unreadableText(const std::string& name, const std::string& reason)
{
    return "Cannot read " + (name.empty() ? std::string("the program") : name) + ": " + reason + ".";
}

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ParseReport parseReport(const std::string& name, const Program& program)
{
    const auto plural = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    if (program.faults.empty())
        return ParseReport{-1,
                           name + ": " + plural(program.statements.size(), "statement", "statements") + ", no errors."};
    const LineFault& first = program.faults.front();
    return ParseReport{first.line, name + ", line " + std::to_string(first.line) + ": " + first.message + " (" +
                                       plural(program.faults.size(), "faulty line", "faulty lines") + " in all)"};
}

std::string displayText(std::string_view text, std::size_t maxBytes)
{
    std::string converted;
    if (!isUtf8(text)) {
        converted = latin1ToUtf8(text);
        text = converted;
    }
    std::string out;
    out.reserve(std::min(text.size(), maxBytes) + 4);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        std::string_view piece = text.substr(i, n);
        char picture[4] = {};
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            const unsigned int code = c == 0x7F ? 0x2421 : 0x2400 + c;
            picture[0] = char(0xE0 | (code >> 12));
            picture[1] = char(0x80 | ((code >> 6) & 0x3F));
            picture[2] = char(0x80 | (code & 0x3F));
            piece = std::string_view(picture, 3);
        }
        if (out.size() + piece.size() > maxBytes) {
            out += "...";
            break;
        }
        out += piece;
        i += n;
    }
    return out;
}

} // namespace kelm
