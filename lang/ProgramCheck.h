#pragma once

#include <QString>

#include <vector>

// Text logic of the program editor's helpers: the live check of one line, with the runner's own line
// reader so that it says what Parse says, and the token classes the highlighter colours.
namespace ProgramCheck {

// The fault message of one line (without its line end), empty for a statement that reads without
// fault, a comment or a blank line.
QString lineFault(const QString& line);

enum class TokenClass { Keyword, Tag, Number, String, Comment };

struct Token
{
    int start = 0;
    int length = 0;
    TokenClass kind = TokenClass::Keyword;
};

// The coloured parts of a line, in order and not overlapping; any text, faulty or not, is split
// without complaint.
std::vector<Token> tokens(const QString& line);

} // namespace ProgramCheck
