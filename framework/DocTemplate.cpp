#include "framework/DocTemplate.h"

#include "framework/CChildFrame.h"
#include "framework/CDocument.h"
#include "framework/CView.h"

#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {
QPointer<QMdiArea>& mdiArea()
{
    static QPointer<QMdiArea> area;
    return area;
}

// A new window opens maximized when the active one is, else at a size that shows a useful part of
// a document, cascaded below the existing windows.
void showFrame(CChildFrame* frame)
{
    QMdiArea* area = mdiArea();
    QMdiSubWindow* active = area ? area->activeSubWindow() : nullptr;
    if (active && active != frame && active->isMaximized()) {
        frame->showMaximized();
        return;
    }
    if (area) {
        const QSize space = area->viewport()->size();
        // Below the modulus, so it fits an int.
        const int offset = static_cast<int>(24 * (area->subWindowList().size() - 1) % std::max(1, space.height() / 3));
        frame->resize(DocTemplate::newFrameSize());
        frame->move(offset, offset);
    }
    frame->show();
}
} // namespace

QSize DocTemplate::newFrameSize()
{
    const QMdiArea* area = mdiArea();
    const QSize space = area ? area->viewport()->size() : QSize();
    return QSize(std::max(320, space.width() * 3 / 4), std::max(240, space.height() * 3 / 4));
}

DocTemplate::DocTemplate(int resourceId, const QString& docString, DocumentFactory makeDocument, FrameFactory makeFrame)
    : m_resourceId(resourceId), m_fields(docString.split(QLatin1Char('\n'))), m_makeDocument(std::move(makeDocument)),
      m_makeFrame(std::move(makeFrame))
{
    while (m_fields.size() < 7)
        m_fields.append(QString());
}

DocTemplate::~DocTemplate()
{
    // Frames may outlive the template at exit; they must not reach destroyed documents.
    for (auto& d : m_documents) {
        for (CChildFrame* f : d->frames()) {
            std::unique_ptr<CChildFrame> doomed(f);
        }
    }
}

QString DocTemplate::field(Field f) const
{
    return m_fields.at(static_cast<int>(f));
}

QString DocTemplate::fileDialogFilter() const
{
    return field(FilterName);
}

void DocTemplate::setMdiArea(QMdiArea* area)
{
    mdiArea() = area;
}

CDocument* DocTemplate::openDocumentFile(const QString& path, Show show)
{
    if (!path.isEmpty()) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        for (auto& d : m_documents) {
            if (d->pathName() == absolute) {
                const QList<CChildFrame*> frames = d->frames();
                if (!frames.isEmpty() && mdiArea())
                    mdiArea()->setActiveSubWindow(frames.constFirst());
                return d.get();
            }
        }
    }
    std::unique_ptr<CDocument> owned = m_makeDocument();
    if (!owned)
        return nullptr;
    owned->m_template = this;
    if (path.isEmpty())
        owned->setTitle(field(DocName) + QString::number(m_untitledCount + 1));
    CDocument* document = adopt(std::move(owned));
    CChildFrame* frame = m_makeFrame(document);
    const bool ok = path.isEmpty() ? document->onNewDocument() : document->onOpenDocument(path);
    if (!ok) {
        std::unique_ptr<CChildFrame> failed(frame);
        failed.reset();
        closeDocument(document);
        return nullptr;
    }
    if (path.isEmpty())
        ++m_untitledCount;
    else
        document->setPathName(path);
    document->setModified(false);
    if (frame) {
        frame->updateTitle();
        if (mdiArea())
            mdiArea()->addSubWindow(frame);
        for (CView* v : frame->views())
            v->onInitialUpdate();
        auto showAndFocus = [frame] {
            showFrame(frame);
            if (CView* v = frame->activeView())
                v->widget()->setFocus();
        };
        if (show == Show::Now)
            showAndFocus();
        else if (show == Show::Later)
            // A timer, not a posted call: input and timers already due come first.
            QTimer::singleShot(1, frame, showAndFocus);
    }
    return document;
}

CChildFrame* DocTemplate::createNewFrame(CDocument* document)
{
    CChildFrame* frame = m_makeFrame(document);
    if (!frame)
        return nullptr;
    if (mdiArea())
        mdiArea()->addSubWindow(frame);
    for (CView* v : frame->views())
        v->onInitialUpdate();
    for (CChildFrame* f : document->frames())
        f->updateTitle();
    showFrame(frame);
    return frame;
}

std::vector<CDocument*> DocTemplate::documents() const
{
    std::vector<CDocument*> result;
    result.reserve(m_documents.size());
    for (const auto& d : m_documents)
        result.push_back(d.get());
    return result;
}

void DocTemplate::closeDocument(CDocument* document)
{
    auto it = std::find_if(m_documents.begin(), m_documents.end(),
                           [document](const std::unique_ptr<CDocument>& d) { return d.get() == document; });
    if (it == m_documents.end())
        return;
    std::unique_ptr<CDocument> doomed = std::move(*it);
    m_documents.erase(it);
    doomed.reset();
}

CDocument* DocTemplate::adopt(std::unique_ptr<CDocument> document)
{
    m_documents.push_back(std::move(document));
    return m_documents.back().get();
}
