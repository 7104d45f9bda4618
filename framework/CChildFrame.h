#pragma once

#include "framework/CommandTarget.h"

#include <QMdiSubWindow>

class CDocument;
class CView;

// A document window inside the main frame. Subclasses create their views in the constructor and
// put them into the frame with setWidget().
class CChildFrame : public QMdiSubWindow, public CommandTarget
{
    Q_OBJECT
public:
    explicit CChildFrame(CDocument* document, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CDocument* document() const { return m_document; }
    QList<CView*> views() const;
    // The view that has the focus, else the first one.
    CView* activeView() const;

    // Moves the focus to the next or previous view of a split frame.
    void activateNextView(bool forward);

    void updateTitle();
    // The title as the user reads it (windowTitle() holds it escaped, see literalTitle).
    QString shownTitle() const { return m_title; }
    // text for setWindowTitle: Qt takes "[*]" in a title as the place of the modified mark and drops
    // it; a program or file name shows as it is.
    static QString literalTitle(QString text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CDocument* m_document;
    QString m_title;
};
