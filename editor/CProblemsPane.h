#pragma once

#include <QDockWidget>
#include <QPointer>

class CEditorDoc;
class QListWidget;
class QListWidgetItem;

// The non-modal list of the live check's faulty lines of one program, "file:line: message" each; a
// double click puts the caret on the line. Empty, it hides, unless the user opened it.
class CProblemsPane : public QDockWidget
{
    Q_OBJECT
public:
    explicit CProblemsPane(QWidget* parent = nullptr);

    // The program whose problems are listed; none clears the list.
    void setDocument(CEditorDoc* document);
    CEditorDoc* document() const { return m_document; }
    // The list of lines, made on first use.
    QListWidget* list();
    // Shown or hidden by the user (the View menu); shown stays shown while empty.
    void setOpenedByUser(bool opened);
    bool openedByUser() const { return m_openedByUser; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void jumpTo(QListWidgetItem* item);

    QListWidget* m_list = nullptr;
    QPointer<CEditorDoc> m_document;
    QMetaObject::Connection m_connection;
    bool m_openedByUser = false;
};
