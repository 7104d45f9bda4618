#pragma once

#include "core/FileSave.h"
#include "editor/ProgramText.h"

#include <QCoreApplication>
#include <QString>

#include <vector>

class QTextBlock;
class QTextDocument;
class QWidget;

// A program's file as the editor holds it: the text in a QTextDocument, the file's encoding and
// line end, each line's own line end where it differs (kept in its block format, so undo restores
// it with the line), and the file's stamp as last read or written.
class ProgramFile
{
    Q_DECLARE_TR_FUNCTIONS(ProgramFile)
public:
    const ProgramText::FileFormat& format() const { return m_format; }

    // A new, empty program.
    void clear(QTextDocument& text);
    // Puts the file at path into text, without undo history. False, after telling the user why, when
    // it cannot be read or decoded; then text is as it was.
    bool read(const QString& path, QTextDocument& text);
    // Writes text to path through a temporary file renamed over the old one. Asks before writing
    // Latin-1 text as UTF-8, and before replacing ownPath when another program changed or removed it
    // since it was read or written. False when the file was not written.
    bool write(const QString& path, const QString& ownPath, const QTextDocument& text, QWidget* parent);

    // The whole text, with "\n" line ends.
    static QString plainText(const QTextDocument& text);
    // A line made by splitting another ends as most lines of the file do.
    static void clearLineEnd(const QTextBlock& line);

private:
    void setLineEnds(QTextDocument& text, const std::vector<ProgramText::LineEnd>& lineEnds) const;
    std::vector<ProgramText::LineEnd> lineEnds(const QTextDocument& text) const;
    bool mayReplace(const QString& path, const QString& ownPath, QWidget* parent) const;

    ProgramText::FileFormat m_format;
    FileSave::Stamp m_diskStamp;
};
