#include "editor/ProgramAutosave.h"

#include "editor/Autosave.h"
#include "editor/ProgramFile.h"

#include <QTextDocument>
#include <QTimer>

ProgramAutosave::ProgramAutosave(QTextDocument* text, Source source, QObject* parent)
    : QObject(parent), m_text(text), m_source(std::move(source)), m_delayTimer(new QTimer(this)),
      m_idleTimer(new QTimer(this))
{
    // The side file follows the text at most DelayMs behind while the user types on, and catches up
    // in the first pause of IdleMs; nothing is written while it holds the text.
    m_delayTimer->setSingleShot(true);
    m_delayTimer->setInterval(DelayMs);
    connect(m_delayTimer, &QTimer::timeout, this, &ProgramAutosave::writeIfBehind);
    m_idleTimer->setSingleShot(true);
    m_idleTimer->setInterval(IdleMs);
    connect(m_idleTimer, &QTimer::timeout, this, &ProgramAutosave::writeIfBehind);
    connect(m_text, &QTextDocument::contentsChange, this, &ProgramAutosave::changed);
    connect(m_text, &QTextDocument::modificationChanged, this, [this](bool modified) {
        if (!modified)
            writeNow();
    });
}

ProgramAutosave::~ProgramAutosave()
{
    Autosave::remove(m_file);
}

void ProgramAutosave::changed()
{
    if (m_source.ignoreChange && m_source.ignoreChange())
        return;
    m_behind = true;
    if (!m_delayTimer->isActive())
        m_delayTimer->start();
    m_idleTimer->start();
}

void ProgramAutosave::writeIfBehind()
{
    if (m_behind)
        writeNow();
}

void ProgramAutosave::writeNow()
{
    m_delayTimer->stop();
    m_idleTimer->stop();
    m_behind = false;
    if (!m_text->isModified()) {
        Autosave::remove(m_file);
        m_file.clear();
        return;
    }
    const QString written =
        Autosave::write(m_file, m_source.originalPath(), m_source.encodingName(), ProgramFile::plainText(*m_text));
    if (!written.isEmpty())
        m_file = written;
}
