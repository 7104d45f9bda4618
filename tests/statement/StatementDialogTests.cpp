#include "statement/CStatementDlg.h"

#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <optional>
#include <stdexcept>
#include <vector>

namespace {

class StatementDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KMessageBox::setHook([this](const KMessageBox::Request& request) {
            messages << request.text;
            return QMessageBox::Ok;
        });
    }
    void TearDown() override
    {
        KMessageBox::setHook({});
        Modal::setDialogHook({});
    }

    template <typename T> T& child(const char* name)
    {
        T* w = dlg.findChild<T*>(QLatin1String(name));
        if (!w)
            throw std::runtime_error(std::string("no control ") + name);
        return *w;
    }
    QLineEdit& edit(const char* name) { return child<QLineEdit>(name); }
    QComboBox& combo(const char* name) { return child<QComboBox>(name); }
    QString previewText() { return edit("preview").text(); }
    bool enabled(const char* name) { return child<QWidget>(name).isEnabled(); }

    void expectEnabled(std::initializer_list<const char*> names, bool state)
    {
        for (const char* name : names)
            EXPECT_EQ(enabled(name), state) << name;
    }

    QStringList messages;
    CStatementDlg dlg;
};

const std::initializer_list<const char*> kTimeControls = {"hours",     "minutes",     "seconds",
                                                          "spinHours", "spinMinutes", "spinSeconds"};

TEST_F(StatementDialog, FreshDialogShowsDefaults)
{
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Insert/Edit Statement...");
    EXPECT_EQ(previewText(), "at (0) {} = ");
    EXPECT_EQ(dlg.preview, "at (0) {} = ");
    EXPECT_TRUE(messages.isEmpty());

    QStringList triggers, operations;
    for (int i = 0; i < combo("trigger").count(); ++i)
        triggers << combo("trigger").itemText(i);
    for (int i = 0; i < combo("operation").count(); ++i)
        operations << combo("operation").itemText(i);
    EXPECT_EQ(triggers, QStringList({"after", "at", "when"}));
    EXPECT_EQ(operations, QStringList({"ramp", "send", "set", "stop"}));
    EXPECT_EQ(combo("trigger").currentText(), "at");
    EXPECT_EQ(combo("operation").currentText(), "set");
    EXPECT_EQ(combo("opcode").currentText(), "SetVariable");

    expectEnabled({"trigger", "date", "operation", "tag", "value", "insert1", "cancel2"}, true);
    expectEnabled(kTimeControls, true);
    expectEnabled({"expression", "insertTag", "tagsButton", "rampTime", "rampStep", "arguments", "opcode", "replace"},
                  false);

    QLineEdit& preview = edit("preview");
    EXPECT_TRUE(preview.isReadOnly());
    EXPECT_EQ(preview.font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    QTest::keyClicks(&preview, "xyz");
    EXPECT_EQ(previewText(), "at (0) {} = ");
}

TEST_F(StatementDialog, TriggerAndOperationRules)
{
    dlg.show();
    QTest::keyClicks(&edit("date"), "01-02-03");
    QTest::keyClick(&combo("trigger"), Qt::Key_Down);
    ASSERT_EQ(combo("trigger").currentText(), "when");
    expectEnabled({"expression"}, true);
    expectEnabled(kTimeControls, false);
    expectEnabled({"date", "insertTag"}, false);
    QTest::keyClicks(&edit("expression"), "{A} > 1 ");
    EXPECT_EQ(previewText(), "when ({A} > 1 ) {} = ");

    QTest::keyClick(&combo("operation"), Qt::Key_Down);
    ASSERT_EQ(combo("operation").currentText(), "stop");
    expectEnabled({"tag", "tagsButton", "value", "rampTime", "rampStep", "arguments", "opcode"}, false);
    EXPECT_EQ(previewText(), "when ({A} > 1 ) stop");

    // The disabled date still makes the "after" time bracketed.
    combo("trigger").setCurrentIndex(0);
    expectEnabled(kTimeControls, true);
    expectEnabled({"date", "expression"}, false);
    EXPECT_EQ(edit("date").text(), "01-02-03");
    EXPECT_EQ(previewText(), "after ([00.00]) stop");

    combo("operation").setCurrentIndex(1);
    expectEnabled({"arguments", "opcode"}, true);
    expectEnabled({"tag", "value", "rampTime", "rampStep"}, false);
    EXPECT_EQ(previewText(), "after ([00.00]) send(SetVariable)");
    combo("opcode").lineEdit()->clear();
    QTest::keyClicks(combo("opcode").lineEdit(), "Set");
    QTest::keyClicks(&edit("arguments"), "a, 2");
    EXPECT_EQ(previewText(), "after ([00.00]) send(Set, a, 2)");

    combo("operation").setCurrentIndex(0);
    expectEnabled({"tag", "value", "rampTime", "rampStep"}, true);
    expectEnabled({"arguments", "opcode", "tagsButton"}, false);
    EXPECT_EQ(previewText(), "after ([00.00]) ramp({}, , , )");
}

TEST_F(StatementDialog, RulesTakeBackWhatTheyEnabled)
{
    dlg.show();
    combo("trigger").setCurrentText("when");
    expectEnabled({"expression"}, true);
    combo("trigger").setCurrentText("at");
    expectEnabled({"date"}, true);
    expectEnabled(kTimeControls, true);
    expectEnabled({"expression", "insertTag"}, false);

    combo("operation").setCurrentText("ramp");
    expectEnabled({"rampTime", "rampStep"}, true);
    QTest::keyClicks(&edit("rampTime"), "5");
    combo("operation").setCurrentText("set");
    expectEnabled({"tag", "value"}, true);
    expectEnabled({"rampTime", "rampStep", "arguments", "opcode"}, false);
    EXPECT_EQ(edit("rampTime").text(), "5"); // a disabled box keeps its text
    EXPECT_EQ(previewText(), "at (0) {} = ");
}

TEST_F(StatementDialog, SpinsWriteIntoTheirBoxes)
{
    dlg.show();
    auto& hoursUp = *child<QWidget>("spinHours").findChild<QToolButton*>("up");
    QTest::mouseClick(&hoursUp, Qt::LeftButton);
    EXPECT_EQ(edit("hours").text(), "1");
    EXPECT_EQ(previewText(), "at ([1:00:00.00]) {} = ");

    edit("minutes").setText(" 7x");
    QTest::keyClick(&edit("minutes"), Qt::Key_Up);
    EXPECT_EQ(edit("minutes").text(), "8");
    EXPECT_EQ(previewText(), "at ([1:08:00.00]) {} = ");

    auto& secondsDown = *child<QWidget>("spinSeconds").findChild<QToolButton*>("down");
    QTest::mouseClick(&secondsDown, Qt::LeftButton);
    EXPECT_EQ(edit("seconds").text(), "0");
    edit("seconds").setText("40000");
    QTest::mouseClick(&secondsDown, Qt::LeftButton);
    EXPECT_EQ(edit("seconds").text(), "32766");
}

TEST_F(StatementDialog, ParsedLineFillsControls)
{
    const QString longValue(40000, QLatin1Char('9'));
    dlg.statementText = "when (({A} > 1)) ramp({T1}, " + longValue + ", 2, 3)";
    dlg.show();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(combo("trigger").currentText(), "when");
    EXPECT_EQ(combo("operation").currentText(), "ramp");
    EXPECT_EQ(edit("expression").text(), "({A} > 1)");
    EXPECT_EQ(edit("value").text(), longValue);
    expectEnabled({"expression", "tag", "value", "rampTime", "rampStep", "replace"}, true);
    expectEnabled(kTimeControls, false);
    expectEnabled({"arguments", "opcode", "insertTag", "tagsButton"}, false);
    EXPECT_EQ(previewText(), dlg.statementText);
}

TEST_F(StatementDialog, OpcodeListFollowsTheParsedOpcode)
{
    dlg.statementText = "after (5) send(ModelRun, a)";
    dlg.show();
    EXPECT_EQ(combo("opcode").currentText(), "ModelRun");
    EXPECT_EQ(combo("opcode").currentIndex(), combo("opcode").findText("ModelRun"));
    EXPECT_EQ(previewText(), "after (5) send(ModelRun, a)");
}

TEST_F(StatementDialog, UnlistedOpcodeIsKeptAsTyped)
{
    dlg.statementText = "after (5) send(Reload)";
    dlg.show();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(combo("opcode").currentText(), "Reload");
    EXPECT_EQ(previewText(), "after (5) send(Reload)");
}

TEST_F(StatementDialog, ParseFailureShowsMessageOnceAndKeepsDefaults)
{
    dlg.statementText = "after (5) {T1} 2";
    dlg.show();
    dlg.hide();
    dlg.show();
    EXPECT_EQ(messages, QStringList({"Equal operator expected but not found."}));
    EXPECT_EQ(combo("trigger").currentText(), "at");
    EXPECT_EQ(edit("tag").text(), "");
    EXPECT_EQ(previewText(), "at (0) {} = ");
    EXPECT_TRUE(enabled("replace"));

    Modal::setDialogHook([this](QDialog&) { QTest::mouseClick(&child<QPushButton>("replace"), Qt::LeftButton); });
    messages.clear();
    dlg.hide();
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_EQ(messages, QStringList({"A tag name must be entered."}));
}

TEST_F(StatementDialog, InsertValidatesAndStaysOpen)
{
    bool visibleAfterFailure = false;
    Modal::setDialogHook([&](QDialog& d) {
        QTest::mouseClick(&child<QPushButton>("insert1"), Qt::LeftButton);
        visibleAfterFailure = d.isVisible();
    });
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_TRUE(visibleAfterFailure);
    EXPECT_EQ(messages, QStringList({"A tag name must be entered."}));

    Modal::setDialogHook([this](QDialog&) {
        QTest::keyClicks(&edit("tag"), "T");
        QTest::keyClicks(&edit("value"), "1");
        QTest::mouseClick(&child<QPushButton>("insert1"), Qt::LeftButton);
    });
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_TRUE(dlg.insertRequested);
    EXPECT_EQ(dlg.preview, "at (0) {T} = 1");
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(StatementDialog, ReplaceAndCancel)
{
    dlg.insertRequested = true;
    dlg.statementText = "after ([1:2:3]) send(ModelRun, )";
    Modal::setDialogHook([this](QDialog&) { QTest::mouseClick(&child<QPushButton>("replace"), Qt::LeftButton); });
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_FALSE(dlg.insertRequested);
    EXPECT_EQ(dlg.preview, "after ([1:02:03.00]) send(ModelRun)");
    EXPECT_TRUE(messages.isEmpty());

    bool closedByCancel = false;
    Modal::setDialogHook([&](QDialog& d) {
        d.setResult(QDialog::Accepted);
        QTest::keyClicks(&edit("seconds"), "0");
        QTest::mouseClick(&child<QPushButton>("cancel2"), Qt::LeftButton);
        closedByCancel = !d.isVisible();
    });
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_TRUE(closedByCancel);
}

// Tag buttons with a picker installed, as the application installs one.
class StatementTagButtons : public StatementDialog
{
protected:
    void SetUp() override
    {
        StatementDialog::SetUp();
        m_previous = CStatementDlg::setTagPicker([this](QWidget* parent) {
            pickerParents.push_back(parent);
            return answer;
        });
    }
    void TearDown() override
    {
        CStatementDlg::setTagPicker(std::move(m_previous));
        StatementDialog::TearDown();
    }
    void showActive()
    {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg, scaledMs(5000)));
    }

    std::optional<QString> answer = QStringLiteral("P101:FLOW");
    std::vector<QWidget*> pickerParents;

private:
    CStatementDlg::TagPicker m_previous;
};

TEST_F(StatementTagButtons, EnabledWithTheirBoxesOnceAPickerIsInstalled)
{
    dlg.show();
    expectEnabled({"tagsButton"}, true);
    expectEnabled({"insertTag"}, false);
    combo("trigger").setCurrentText("when");
    expectEnabled({"insertTag"}, true);
    combo("trigger").setCurrentText("after");
    expectEnabled({"insertTag"}, false);
    for (const char* operation : {"stop", "send"}) {
        combo("operation").setCurrentText(operation);
        expectEnabled({"tagsButton"}, false);
    }
    combo("operation").setCurrentText("ramp");
    expectEnabled({"tagsButton"}, true);
}

TEST_F(StatementTagButtons, InsertTagPutsTheBracedNameInPlaceOfTheExpressionsSelection)
{
    showActive();
    combo("trigger").setCurrentText("when");
    QLineEdit& expression = edit("expression");
    expression.setFocus();
    QTest::keyClicks(&expression, "{A} > 1 and B");
    expression.setSelection(12, 1);
    // The click takes the focus, and with it the line edit's visible selection.
    QTest::mouseClick(&child<QPushButton>("insertTag"), Qt::LeftButton);
    ASSERT_EQ(pickerParents, std::vector<QWidget*>{&dlg});
    EXPECT_EQ(expression.text(), "{A} > 1 and {P101:FLOW}");
    EXPECT_TRUE(expression.hasFocus());
    EXPECT_EQ(previewText(), "when ({A} > 1 and {P101:FLOW}) {} = ");

    // At the caret when nothing is selected.
    expression.setCursorPosition(0);
    QTest::mouseClick(&child<QPushButton>("insertTag"), Qt::LeftButton);
    EXPECT_EQ(expression.text(), "{P101:FLOW}{A} > 1 and {P101:FLOW}");

    answer.reset();
    child<QPushButton>("insertTag").setFocus();
    QTest::mouseClick(&child<QPushButton>("insertTag"), Qt::LeftButton);
    EXPECT_EQ(expression.text(), "{P101:FLOW}{A} > 1 and {P101:FLOW}") << "nothing chosen, nothing changes";
    EXPECT_FALSE(expression.hasFocus());
}

TEST_F(StatementTagButtons, TagsReplacesTheTagBoxWithoutBracesAndMovesToTheValue)
{
    showActive();
    QLineEdit& tag = edit("tag");
    QTest::keyClicks(&tag, "OLD:TAG");
    QTest::mouseClick(&child<QPushButton>("tagsButton"), Qt::LeftButton);
    EXPECT_EQ(tag.text(), "P101:FLOW");
    EXPECT_TRUE(edit("value").hasFocus());
    EXPECT_EQ(previewText(), "at (0) {P101:FLOW} = ");

    answer.reset();
    tag.setFocus();
    QTest::mouseClick(&child<QPushButton>("tagsButton"), Qt::LeftButton);
    EXPECT_EQ(tag.text(), "P101:FLOW");
    EXPECT_EQ(pickerParents.size(), 2u);
}

} // namespace
