#pragma once

#include "app/CKelmDeskApp.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/KernelConnection.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"
#include "tests/e2e/SimProcess.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// KelmDesk in this process, with one norvexsim (paused, so values stay put) on a loopback port of
// its own for the whole suite. Message boxes are recorded; modal dialogs go to onDialog by class.
class ModelDialogFixture : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_base = freePortBase(2);
        ASSERT_NE(s_base, 0);
        s_sim = new SimProcess(s_base, {QStringLiteral("--state"), QStringLiteral("paused")});
        ASSERT_TRUE(s_sim->waitUntilListening()) << s_sim->log().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
    }

    void SetUp() override
    {
        resetSettings();
        qputenv("NORVEX_PORT_BASE", QByteArray::number(s_base));
        m_oldBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            messages << r.text;
            return QMessageBox::Ok;
        });
        m_oldDialog = Modal::setDialogHook([this](QDialog& d) {
            dialogs.push_back(d.metaObject()->className());
            if (onDialog)
                onDialog(d);
        });
    }

    void TearDown() override
    {
        onDialog = nullptr;
        Modal::setDialogHook(std::move(m_oldDialog));
        app.reset();
        KMessageBox::setHook(std::move(m_oldBox));
        qunsetenv("NORVEX_PORT_BASE");
        resetSettings();
    }

    void startDesk(const QStringList& switches = {})
    {
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance(QStringList{QStringLiteral("kelmdesk")} + switches));
    }
    bool logOn() { return LogOnKernel(QStringLiteral("127.0.0.1"), 0, false); }

    // A file of the test's own folder holding bytes; returns its path.
    QString writeFile(const QString& name, const QByteArray& bytes);

    template <typename T> static T& child(QWidget& parent, const char* name)
    {
        T* w = parent.findChild<T*>(QLatin1String(name));
        if (!w)
            throw std::runtime_error(std::string("no control ") + name);
        return *w;
    }
    static QPushButton& button(QWidget& parent, const char* name) { return child<QPushButton>(parent, name); }
    static void click(QWidget& parent, const char* name) { QTest::mouseClick(&button(parent, name), Qt::LeftButton); }

    static QStringList items(const QListWidget& list)
    {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i)
            texts << list.item(i)->text();
        return texts;
    }
    static QStringList comboItems(QWidget& parent, const char* name);

    // A click, or a double click as Qt delivers it: the press and release of the first click, then
    // the double-click press and its release. What the first press does happens in between.
    static void doubleClickAt(QWidget* widget, QPoint at, bool twice = true)
    {
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
        if (!twice)
            return;
        QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
        QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
    }

    // Clicks (or double-clicks) the item with text in list, as the user would.
    static void clickItem(QListWidget& list, const QString& text, bool twice = false)
    {
        const QList<QListWidgetItem*> found = list.findItems(text, Qt::MatchExactly);
        if (found.isEmpty())
            throw std::runtime_error("no item " + text.toStdString());
        list.scrollToItem(found.front());
        const QPoint at = list.visualItemRect(found.front()).center();
        doubleClickAt(list.viewport(), at, twice);
    }

    // With KELMDESK_SCREENSHOTS set to a folder, saves what widget shows as NAME.png there.
    static void screenshot(QWidget& widget, const char* name);

    static int s_base;
    static SimProcess* s_sim;

    std::unique_ptr<CKelmDeskApp> app;
    QStringList messages;
    std::vector<std::string> dialogs;
    std::function<void(QDialog&)> onDialog;
    QTemporaryDir dir;

private:
    KMessageBox::Hook m_oldBox;
    Modal::DialogHook m_oldDialog;
};
