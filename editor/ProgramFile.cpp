#include "editor/ProgramFile.h"

#include "framework/MessageBox.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <optional>

namespace {

constexpr int LineEndProperty = QTextFormat::UserProperty;

} // namespace

void ProgramFile::clear(QTextDocument& text)
{
    text.setPlainText(QString());
    m_format = ProgramText::FileFormat{};
    m_diskStamp = FileSave::Stamp{};
}

bool ProgramFile::read(const QString& path, QTextDocument& text)
{
    // Taken before reading: a file that changes while it is read counts as changed at the next save.
    const FileSave::Stamp stamp = FileSave::stampOf(path);
    ProgramText::ReadResult read = ProgramText::readFile(path);
    if (!read.bytes) {
        KMessageBox::show(read.error, KMessageBox::Icon::Stop);
        return false;
    }
    ProgramText::DecodeResult decoded = ProgramText::decode(*read.bytes, path);
    read.bytes.reset();
    if (!decoded.decoded) {
        KMessageBox::show(decoded.error, KMessageBox::Icon::Stop);
        return false;
    }
    m_format = decoded.decoded->format;
    m_diskStamp = stamp;
    text.setUndoRedoEnabled(false);
    text.setPlainText(decoded.decoded->text);
    setLineEnds(text, decoded.decoded->lineEnds);
    text.setUndoRedoEnabled(true);
    return true;
}

void ProgramFile::setLineEnds(QTextDocument& text, const std::vector<ProgramText::LineEnd>& lineEnds) const
{
    QTextCursor cursor(&text);
    bool editing = false;
    QTextBlock block = text.begin();
    for (std::size_t i = 0; i < lineEnds.size() && block.isValid(); ++i, block = block.next()) {
        if (lineEnds[i] == m_format.lineEnd)
            continue;
        if (!editing) {
            cursor.beginEditBlock();
            editing = true;
        }
        QTextBlockFormat format = block.blockFormat();
        format.setProperty(LineEndProperty, static_cast<int>(lineEnds[i]));
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
    if (editing)
        cursor.endEditBlock();
}

std::vector<ProgramText::LineEnd> ProgramFile::lineEnds(const QTextDocument& text) const
{
    std::vector<ProgramText::LineEnd> ends;
    ends.reserve(static_cast<std::size_t>(text.blockCount()));
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        const QVariant end = block.blockFormat().property(LineEndProperty);
        ends.push_back(end.isValid() ? static_cast<ProgramText::LineEnd>(end.toInt()) : m_format.lineEnd);
    }
    ends.pop_back(); // the last line has no line end of its own
    return ends;
}

void ProgramFile::clearLineEnd(const QTextBlock& line)
{
    QTextBlockFormat format = line.blockFormat();
    format.clearProperty(LineEndProperty);
    QTextCursor(line).setBlockFormat(format);
}

QString ProgramFile::plainText(const QTextDocument& text)
{
    QString raw = text.toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

bool ProgramFile::write(const QString& path, const QString& ownPath, const QTextDocument& text, QWidget* parent)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QString content = plainText(text);
    const std::vector<ProgramText::LineEnd> ends = lineEnds(text);
    ProgramText::FileFormat format = m_format;
    int unencodable = -1;
    std::optional<QByteArray> bytes = ProgramText::encode(content, format, ends, &unencodable);
    if (!bytes) {
        const int line = static_cast<int>(QStringView(content).left(unencodable).count(QLatin1Char('\n'))) + 1;
        const auto answer = KMessageBox::show(
            tr("%1 is written in Latin-1, which cannot hold the character \"%2\" in line %3.\n"
               "Save the file in UTF-8 instead?")
                .arg(shown, content.mid(unencodable, content.at(unencodable).isHighSurrogate() ? 2 : 1))
                .arg(line),
            KMessageBox::Icon::Warning, QMessageBox::Yes | QMessageBox::No, parent);
        if (answer != QMessageBox::Yes)
            return false;
        format.encoding = ProgramText::Encoding::Utf8;
        format.byteOrderMark = false;
        bytes = ProgramText::encode(content, format, ends);
    }

    if (!mayReplace(path, ownPath, parent))
        return false;
    const FileSave::Result saved = FileSave::writeReplacing(path, *bytes);
    if (!saved.ok) {
        KMessageBox::show(tr("Cannot save %1.\n%2").arg(shown, saved.reason), KMessageBox::Icon::Stop, QMessageBox::Ok,
                          parent);
        return false;
    }
    m_format = format;
    m_diskStamp = FileSave::stampOf(path);
    return true;
}

bool ProgramFile::mayReplace(const QString& path, const QString& ownPath, QWidget* parent) const
{
    // Save As onto another file was confirmed in the file dialog; a new document has no file yet.
    if (ownPath.isEmpty() || QFileInfo(path).absoluteFilePath() != ownPath)
        return true;
    const FileSave::Stamp now = FileSave::stampOf(path);
    if (now == m_diskStamp)
        return true;
    const QString shown = QDir::toNativeSeparators(path);
    const QString question = now.exists
                                 ? tr("%1 has been changed by another program since it was opened or last saved.\n"
                                      "Replace it with the text in the editor?")
                                       .arg(shown)
                                 : tr("%1 has been deleted or moved since it was opened or last saved.\n"
                                      "Save the text in the editor there again?")
                                       .arg(shown);
    return KMessageBox::show(question, KMessageBox::Icon::Warning, QMessageBox::Yes | QMessageBox::No, parent) ==
           QMessageBox::Yes;
}
