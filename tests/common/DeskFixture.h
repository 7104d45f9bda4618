#pragma once

#include "app/CKelmDeskApp.h"
#include "framework/MessageBox.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <string>

// KelmDesk started in this process as the user would (no switches, so its message port listens),
// with every message box answered OK and its text kept in boxes.
class DeskFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        m_previousBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            return QMessageBox::Ok;
        });
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
        address = qgetenv("VMSG_ADDRESS").toStdString();
        ASSERT_FALSE(address.empty());
    }

    void TearDown() override
    {
        app.reset();
        KMessageBox::setHook(std::move(m_previousBox));
    }

    std::unique_ptr<CKelmDeskApp> app;
    std::string address; // of KelmDesk's message port, "127.0.0.1:PORT"
    QStringList boxes;

private:
    KMessageBox::Hook m_previousBox;
};
