#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTextDocument;
class QTimer;

// The side file of a program's unsaved changes, kept while the text is modified: written IdleMs
// after the typing stops, and no later than DelayMs after the first change it does not hold yet;
// gone once the text is back to the file's (saved or undone) and when this object ends.
class ProgramAutosave : public QObject
{
    Q_OBJECT
public:
    static constexpr int DelayMs = 30000;
    static constexpr int IdleMs = 3000;

    struct Source
    {
        std::function<QString()> originalPath; // empty for a program never saved
        std::function<QString()> encodingName;
        std::function<bool()> ignoreChange; // a change of formats only, not of the text
    };
    ProgramAutosave(QTextDocument* text, Source source, QObject* parent);
    ~ProgramAutosave() override;

    QString file() const { return m_file; }
    // Brings the side file up to date now: written while the text is modified, removed otherwise.
    void writeNow();

private:
    void changed();
    void writeIfBehind();

    QTextDocument* m_text;
    Source m_source;
    QTimer* m_delayTimer;
    QTimer* m_idleTimer;
    bool m_behind = false; // the text changed since the side file was written
    QString m_file;
};
