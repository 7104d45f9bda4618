#pragma once

#include "editor/CEditorDoc.h"
#include "editor/CEditorFrame.h"
#include "editor/CEditorView.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>
#include <memory>
#include <vector>

// A program template without a main frame, with every message box and modal dialog answered by the
// test: messages are recorded and answered with nextAnswer, dialogs go to onDialog (none: Cancel),
// Save As gets saveAsName.
class EditorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        clearSettings();
        m_template = std::make_unique<DocTemplate>(
            129,
            QStringLiteral("\nProgram\nKELM Program File\nKELM Files (*.kelm)\n.kelm\nKELM.Document\nKELM Document"),
            [] { return std::make_unique<CEditorDoc>(); }, [](CDocument* d) { return new CEditorFrame(d); });
        m_previousBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            messages.push_back(r);
            return nextAnswer;
        });
        m_previousDialog = Modal::setDialogHook([this](QDialog& d) {
            dialogTitles.push_back(d.windowTitle());
            if (onDialog)
                onDialog(d);
            else
                d.reject();
        });
        m_previousFile = Modal::setFileHook([this](const QString&, const QString&, const QString&) {
            ++saveAsRequests;
            return saveAsName;
        });
    }

    void TearDown() override
    {
        m_template.reset();
        KMessageBox::setHook(m_previousBox);
        Modal::setDialogHook(m_previousDialog);
        Modal::setFileHook(m_previousFile);
        clearSettings();
    }

    static void clearSettings()
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vantrel"),
                        QStringLiteral("kelmdesk"));
        store.remove(QStringLiteral("settings"));
        store.sync();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }

    static QByteArray readBytes(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    CEditorDoc* open(const QString& file) { return qobject_cast<CEditorDoc*>(m_template->openDocumentFile(file)); }
    CEditorDoc* newDocument() { return qobject_cast<CEditorDoc*>(m_template->openDocumentFile(QString())); }
    CEditorDoc* withText(const QString& text)
    {
        CEditorDoc* doc = newDocument();
        doc->textDocument()->setPlainText(text);
        doc->setModified(false);
        setCaret(viewOf(doc), 0);
        return doc;
    }

    static CEditorView* viewOf(CEditorDoc* doc) { return doc->currentView(); }

    static void setCaret(CEditorView* view, int position)
    {
        QTextCursor c = view->textCursor();
        c.setPosition(position);
        view->setTextCursor(c);
    }

    static int lineStart(CEditorDoc* doc, int line) { return doc->textDocument()->findBlockByNumber(line).position(); }

    static bool run(CommandTarget* target, int id)
    {
        const CommandTarget::Handler* h = target->findHandler(id);
        if (!h || (h->enabled && !h->enabled()))
            return false;
        h->run();
        return true;
    }

    static bool enabled(CommandTarget* target, int id)
    {
        const CommandTarget::Handler* h = target->findHandler(id);
        return h && (!h->enabled || h->enabled());
    }

    QTemporaryDir m_dir;
    std::unique_ptr<DocTemplate> m_template;
    std::vector<KMessageBox::Request> messages;
    QMessageBox::StandardButton nextAnswer = QMessageBox::Ok;
    std::function<void(QDialog&)> onDialog;
    std::vector<QString> dialogTitles;
    QString saveAsName;
    int saveAsRequests = 0;

private:
    KMessageBox::Hook m_previousBox;
    Modal::DialogHook m_previousDialog;
    Modal::FileHook m_previousFile;
};
