#pragma once

#include "tests/e2e/SimProcess.h"

#include "app/CKelmDeskApp.h"
#include "framework/MessageBox.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/Monitor.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextDocument>

#include <memory>

// KelmDesk in this process, logging on at start to norvexsim as a real process (instance 0, 40
// times real time), with the runner kelm as the program runner; message boxes are collected in
// boxes instead of shown.
class SimDeskFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetSettings();
        base = freePortBase(1);
        ASSERT_NE(base, 0);
        qputenv("NORVEX_PORT_BASE", QByteArray::number(base));
        m_oldBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            return QMessageBox::Ok;
        });
        startSim();
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({"kelmdesk", "-host", "127.0.0.1", "-instance", "0", "-kelm", KELM_PATH}));
    }

    void TearDown() override
    {
        // A runner still going ends with its kernel.
        sim.reset();
        app.reset();
        KMessageBox::setHook(std::move(m_oldBox));
        qunsetenv("NORVEX_PORT_BASE");
        resetSettings();
    }

    void startSim()
    {
        sim = std::make_unique<SimProcess>(base, QStringList{"--speed", "40"});
        ASSERT_TRUE(sim->waitUntilListening()) << sim->log().toStdString();
    }

    // Writes text to name in the test's folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& text) { return writeFileIn(m_dir.path(), name, text); }

    static QString consoleText(const MonitorRecord* r) { return r->document->console().toPlainText(); }

    QTemporaryDir m_dir;
    int base = 0;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CKelmDeskApp> app;
    QStringList boxes;

private:
    KMessageBox::Hook m_oldBox;
};
