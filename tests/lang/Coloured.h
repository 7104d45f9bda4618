#pragma once

#include "lang/ProgramCheck.h"

#include <QString>

#include <string>

// The tokens a line is coloured by, as "class:text" words.
inline std::string coloured(const QString& line)
{
    static const char* names[] = {"keyword", "tag", "number", "string", "comment"};
    std::string out;
    for (const ProgramCheck::Token& t : ProgramCheck::tokens(line)) {
        if (!out.empty())
            out += ' ';
        out += std::string(names[int(t.kind)]) + ':' + line.mid(t.start, t.length).toStdString();
    }
    return out;
}
