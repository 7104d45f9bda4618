#pragma once

#include "app/CKelmDeskApp.h"
#include "core/CSettingsKey.h"
#include "framework/CStatusBar.h"
#include "framework/MessageBox.h"
#include "kernel/KernelTime.h"
#include "res/Resource.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <ctime>
#include <memory>

// An application with its main frame, no stored settings, message boxes counted instead of shown,
// and a fixed workstation clock in UTC.
class AppFixture : public ::testing::Test
{
protected:
    static constexpr std::time_t fixedNow = 1173103389; // 2007-03-05 14:03:09 UTC

    void SetUp() override
    {
        resetSettings();
        const char* tz = std::getenv("TZ");
        m_oldTz = tz ? std::make_unique<std::string>(tz) : nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        m_oldClock = setKernelClock([] { return fixedNow; });
        m_oldHook = KMessageBox::setHook([this](const KMessageBox::Request&) {
            ++messageBoxes;
            return QMessageBox::Ok;
        });
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
        ASSERT_NE(app->statusBar(), nullptr);
    }

    void TearDown() override
    {
        app.reset();
        KMessageBox::setHook(std::move(m_oldHook));
        setKernelClock(std::move(m_oldClock));
        if (m_oldTz)
            ::setenv("TZ", m_oldTz->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
        resetSettings();
    }

    QString pane(int index) const { return app->statusBar()->paneText(index); }
    void setPane(int index, const QString& text) { app->statusBar()->SetPaneText(index, text); }

    std::unique_ptr<CKelmDeskApp> app;
    int messageBoxes = 0;

private:
    std::unique_ptr<std::string> m_oldTz;
    KernelClock m_oldClock;
    KMessageBox::Hook m_oldHook;
};
