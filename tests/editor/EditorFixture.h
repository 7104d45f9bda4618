#pragma once

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorFrame.h"
#include "editor/CEditorView.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/CView.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>
#include <memory>
#include <vector>

// The application with its main frame and program template, with every message box and modal dialog
// answered by the test: messages are recorded and answered with nextAnswer, dialogs go to onDialog
// (none: Cancel), Save As gets saveAsName. Commands go through the main frame's real actions.
class EditorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetSettings();
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
        // After the hooks: a start may already offer side files left by a killed process.
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
        m_template = app->findTemplate(QStringLiteral("KELM Program File"));
        ASSERT_NE(m_template, nullptr);
    }

    void TearDown() override
    {
        m_template = nullptr;
        app.reset();
        KMessageBox::setHook(m_previousBox);
        Modal::setDialogHook(m_previousDialog);
        Modal::setFileHook(m_previousFile);
        resetSettings();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        return writeFileIn(m_dir.path(), name, bytes);
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

    // Makes the window of target (a document or a view) the active one and fires the command's
    // action, as the user would; false when the action is missing or disabled.
    bool run(CommandTarget* target, int id)
    {
        activate(target);
        return triggerAction(id);
    }

    bool enabled(CommandTarget* target, int id)
    {
        activate(target);
        return actionEnabled(id);
    }

    void activate(CommandTarget* target)
    {
        CView* view = dynamic_cast<CView*>(target);
        if (!view) {
            auto* doc = dynamic_cast<CEditorDoc*>(target);
            view = doc ? doc->currentView() : nullptr;
        }
        auto* widget = dynamic_cast<QWidget*>(view);
        if (!widget)
            return;
        for (QWidget* w = widget; w; w = w->parentWidget()) {
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w)) {
                app->mainFrame()->mdiArea()->setActiveSubWindow(sub);
                break;
            }
        }
        widget->setFocus();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CKelmDeskApp> app;
    DocTemplate* m_template = nullptr;
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
