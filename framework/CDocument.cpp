#include "framework/CDocument.h"

#include "framework/CChildFrame.h"
#include "framework/CView.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/RecentFileList.h"

#include <QFileInfo>
#include <QPointer>

CDocument::CDocument()
{
    onCommand(Cmd::FileSave, [this] { doFileSave(); });
    onCommand(Cmd::FileSaveAs, [this] { doSave(QString()); });
    onCommand(Cmd::FileClose, [this] {
        if (!saveModified())
            return;
        // Frames close one by one; the last one destroys this document.
        QPointer<CDocument> self(this);
        setModified(false);
        for (CChildFrame* f : frames()) {
            f->close();
            if (!self)
                return;
        }
    });
}

CDocument::~CDocument() = default;

void CDocument::setTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    emit titleChanged();
}

void CDocument::setPathName(const QString& path, bool addToRecent)
{
    m_pathName = QFileInfo(path).absoluteFilePath();
    setTitle(QFileInfo(path).fileName());
    if (addToRecent)
        RecentFileList::instance().add(m_pathName);
}

void CDocument::setModified(bool modified)
{
    if (modified == m_modified)
        return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

bool CDocument::onNewDocument()
{
    setModified(false);
    return true;
}

bool CDocument::onOpenDocument(const QString&)
{
    return false;
}

bool CDocument::onSaveDocument(const QString&)
{
    return false;
}

bool CDocument::doSave(const QString& path)
{
    QString target = path;
    if (target.isEmpty()) {
        QString proposed = m_pathName;
        if (proposed.isEmpty() && m_template) {
            proposed = m_title;
            const QString ext = m_template->field(DocTemplate::FilterExt);
            if (!ext.isEmpty() && !proposed.endsWith(ext))
                proposed += ext;
        }
        const QString filter = m_template ? m_template->fileDialogFilter() : QString();
        target = Modal::getSaveFileName(nullptr, QObject::tr("Save As"), proposed, filter);
        if (target.isEmpty())
            return false;
        if (m_template && QFileInfo(target).suffix().isEmpty()) {
            const QString ext = m_template->field(DocTemplate::FilterExt);
            if (!ext.isEmpty() && !QFileInfo::exists(target))
                target += ext;
        }
    }
    if (!onSaveDocument(target))
        return false;
    setPathName(target);
    setModified(false);
    return true;
}

bool CDocument::doFileSave()
{
    return doSave(m_pathName.isEmpty() ? QString() : m_pathName);
}

bool CDocument::saveModified()
{
    if (!isModified())
        return true;
    const QString name = m_pathName.isEmpty() ? m_title : m_pathName;
    const auto answer = KMessageBox::show(QObject::tr("Save changes to %1?").arg(name), KMessageBox::Icon::Warning,
                                          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel)
        return false;
    if (answer == QMessageBox::Yes)
        return doFileSave();
    return true;
}

bool CDocument::canCloseFrame(CChildFrame* frame)
{
    const QList<CChildFrame*> all = frames();
    if (all.size() > 1 || (all.size() == 1 && all.constFirst() != frame))
        return true;
    return saveModified();
}

QList<CChildFrame*> CDocument::frames() const
{
    QList<CChildFrame*> result;
    for (CView* v : m_views) {
        CChildFrame* f = v->frame();
        if (f && !result.contains(f))
            result.append(f);
    }
    return result;
}

void CDocument::addView(CView* view)
{
    if (!m_views.contains(view))
        m_views.append(view);
}

void CDocument::removeView(CView* view)
{
    m_views.removeAll(view);
}
