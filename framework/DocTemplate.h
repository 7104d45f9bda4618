#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class CDocument;
class CChildFrame;
class QMdiArea;

// One kind of document: its document string, how its document and frame are made, its menu, and
// the list of its open documents (which it owns).
class DocTemplate
{
public:
    enum Field { WindowTitle, DocName, FileNewName, FilterName, FilterExt, RegFileTypeId, RegFileTypeName };

    using DocumentFactory = std::function<std::unique_ptr<CDocument>()>;
    using FrameFactory = std::function<CChildFrame*(CDocument*)>;

    DocTemplate(int resourceId, const QString& docString, DocumentFactory makeDocument, FrameFactory makeFrame);
    ~DocTemplate();
    DocTemplate(const DocTemplate&) = delete;
    DocTemplate& operator=(const DocTemplate&) = delete;

    int resourceId() const { return m_resourceId; }
    QString field(Field f) const;
    // "KELM Files (*.kelm)" and the like, or empty when the kind has no files.
    QString fileDialogFilter() const;

    // Frames are added to this area; without one they stay top-level (tests).
    static void setMdiArea(QMdiArea* area);
    // The size a new window that is not maximized opens at: three quarters of the MDI area.
    static QSize newFrameSize();

    // When a new document's window shows: at once; once the event loop turns, so that its layout
    // and first paint come in passes of their own, after what made it; or not at all.
    enum class Show { Now, Later, Never };
    // An empty path creates a new untitled document; otherwise the file is opened, or the window
    // of an already open document with that path is activated. Null on failure.
    CDocument* openDocumentFile(const QString& path, Show show = Show::Now);
    CChildFrame* createNewFrame(CDocument* document);
    std::vector<CDocument*> documents() const;
    // Destroys the document (its views must be gone).
    void closeDocument(CDocument* document);

private:
    CDocument* adopt(std::unique_ptr<CDocument> document);

    int m_resourceId;
    QStringList m_fields;
    DocumentFactory m_makeDocument;
    FrameFactory m_makeFrame;
    std::vector<std::unique_ptr<CDocument>> m_documents;
    int m_untitledCount = 0;
};
