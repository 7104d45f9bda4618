#pragma once

#include "framework/CommandTarget.h"

#include <QList>
#include <QObject>
#include <QString>

class CView;
class CChildFrame;
class DocTemplate;

// Base of the document kinds: title, path, modified flag, views, and the standard Save, Save As
// and Close commands.
class CDocument : public QObject, public CommandTarget
{
    Q_OBJECT
public:
    CDocument();
    ~CDocument() override;

    DocTemplate* docTemplate() const { return m_template; }

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    QString pathName() const { return m_pathName; }
    // Sets the path and the title from it; adds the path to the recent-file list.
    void setPathName(const QString& path, bool addToRecent = true);

    virtual bool isModified() const { return m_modified; }
    virtual void setModified(bool modified);

    // Hooks of the document kinds. The defaults create an empty document and refuse files.
    virtual bool onNewDocument();
    virtual bool onOpenDocument(const QString& path);
    virtual bool onSaveDocument(const QString& path);

    // Writes the document to path, asking for a name first when path is empty. False when the
    // user cancelled or the save failed (the document then stays modified).
    bool doSave(const QString& path);
    bool doFileSave();
    // Asks whether to save a modified document. False when the user cancelled or a save failed.
    virtual bool saveModified();
    // Called before a frame of this document closes.
    virtual bool canCloseFrame(CChildFrame* frame);

    const QList<CView*>& views() const { return m_views; }
    QList<CChildFrame*> frames() const;

signals:
    void titleChanged();
    void modifiedChanged(bool modified);

private:
    friend class CView;
    friend class DocTemplate;
    void addView(CView* view);
    void removeView(CView* view);

    DocTemplate* m_template = nullptr;
    QString m_title;
    QString m_pathName;
    bool m_modified = false;
    QList<CView*> m_views;
};
