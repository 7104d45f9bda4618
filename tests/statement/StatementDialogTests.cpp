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
    QString previewText() { return edit("preview1044").text(); }
    bool enabled(const char* name) { return child<QWidget>(name).isEnabled(); }

    void expectEnabled(std::initializer_list<const char*> names, bool state)
    {
        for (const char* name : names)
            EXPECT_EQ(enabled(name), state) << name;
    }

    QStringList messages;
    CStatementDlg dlg;
};

const std::initializer_list<const char*> kTimeControls = {"hours1024",     "minutes1026",     "seconds1028",
                                                          "spinHours1025", "spinMinutes1027", "spinSeconds1029"};

TEST_F(StatementDialog, FreshDialogShowsDefaults)
{
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Insert/Edit Statement...");
    EXPECT_EQ(previewText(), "at (0) {} = ");
    EXPECT_EQ(dlg.preview, "at (0) {} = ");
    EXPECT_TRUE(messages.isEmpty());

    QStringList triggers, operations;
    for (int i = 0; i < combo("trigger1022").count(); ++i)
        triggers << combo("trigger1022").itemText(i);
    for (int i = 0; i < combo("operation1032").count(); ++i)
        operations << combo("operation1032").itemText(i);
    EXPECT_EQ(triggers, QStringList({"after", "at", "when"}));
    EXPECT_EQ(operations, QStringList({"ramp", "send", "set", "stop"}));
    EXPECT_EQ(combo("trigger1022").currentText(), "at");
    EXPECT_EQ(combo("operation1032").currentText(), "set");
    EXPECT_EQ(combo("opcode1037").currentText(), "SetVariable");

    expectEnabled({"trigger1022", "date1049", "operation1032", "tag1042", "value1039", "insert1", "cancel2"}, true);
    expectEnabled(kTimeControls, true);
    expectEnabled({"expression1031", "insertTag1046", "tags1043", "rampTime1040", "rampStep1041", "arguments1038",
                   "opcode1037", "replace1050"},
                  false);

    QLineEdit& preview = edit("preview1044");
    EXPECT_TRUE(preview.isReadOnly());
    EXPECT_EQ(preview.font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    QTest::keyClicks(&preview, "xyz");
    EXPECT_EQ(previewText(), "at (0) {} = ");
}

TEST_F(StatementDialog, TriggerAndOperationRules)
{
    dlg.show();
    QTest::keyClicks(&edit("date1049"), "01-02-03");
    QTest::keyClick(&combo("trigger1022"), Qt::Key_Down);
    ASSERT_EQ(combo("trigger1022").currentText(), "when");
    expectEnabled({"expression1031"}, true);
    expectEnabled(kTimeControls, false);
    expectEnabled({"date1049", "insertTag1046"}, false);
    QTest::keyClicks(&edit("expression1031"), "{A} > 1 ");
    EXPECT_EQ(previewText(), "when ({A} > 1 ) {} = ");

    QTest::keyClick(&combo("operation1032"), Qt::Key_Down);
    ASSERT_EQ(combo("operation1032").currentText(), "stop");
    expectEnabled({"tag1042", "tags1043", "value1039", "rampTime1040", "rampStep1041", "arguments1038", "opcode1037"},
                  false);
    EXPECT_EQ(previewText(), "when ({A} > 1 ) stop");

    // The disabled date still makes the "after" time bracketed.
    combo("trigger1022").setCurrentIndex(0);
    expectEnabled(kTimeControls, true);
    expectEnabled({"date1049", "expression1031"}, false);
    EXPECT_EQ(edit("date1049").text(), "01-02-03");
    EXPECT_EQ(previewText(), "after ([00.00]) stop");

    combo("operation1032").setCurrentIndex(1);
    expectEnabled({"arguments1038", "opcode1037"}, true);
    expectEnabled({"tag1042", "value1039", "rampTime1040", "rampStep1041"}, false);
    EXPECT_EQ(previewText(), "after ([00.00]) send(SetVariable)");
    combo("opcode1037").lineEdit()->clear();
    QTest::keyClicks(combo("opcode1037").lineEdit(), "Set");
    QTest::keyClicks(&edit("arguments1038"), "a, 2");
    EXPECT_EQ(previewText(), "after ([00.00]) send(Set, a, 2)");

    combo("operation1032").setCurrentIndex(0);
    expectEnabled({"tag1042", "value1039", "rampTime1040", "rampStep1041"}, true);
    expectEnabled({"arguments1038", "opcode1037", "tags1043"}, false);
    EXPECT_EQ(previewText(), "after ([00.00]) ramp({}, , , )");
}

TEST_F(StatementDialog, RulesTakeBackWhatTheyEnabled)
{
    dlg.show();
    combo("trigger1022").setCurrentText("when");
    expectEnabled({"expression1031"}, true);
    combo("trigger1022").setCurrentText("at");
    expectEnabled({"date1049"}, true);
    expectEnabled(kTimeControls, true);
    expectEnabled({"expression1031", "insertTag1046"}, false);

    combo("operation1032").setCurrentText("ramp");
    expectEnabled({"rampTime1040", "rampStep1041"}, true);
    QTest::keyClicks(&edit("rampTime1040"), "5");
    combo("operation1032").setCurrentText("set");
    expectEnabled({"tag1042", "value1039"}, true);
    expectEnabled({"rampTime1040", "rampStep1041", "arguments1038", "opcode1037"}, false);
    EXPECT_EQ(edit("rampTime1040").text(), "5"); // a disabled box keeps its text
    EXPECT_EQ(previewText(), "at (0) {} = ");
}

TEST_F(StatementDialog, SpinsWriteIntoTheirBoxes)
{
    dlg.show();
    auto& hoursUp = *child<QWidget>("spinHours1025").findChild<QToolButton*>("up");
    QTest::mouseClick(&hoursUp, Qt::LeftButton);
    EXPECT_EQ(edit("hours1024").text(), "1");
    EXPECT_EQ(previewText(), "at ([1:00:00.00]) {} = ");

    edit("minutes1026").setText(" 7x");
    QTest::keyClick(&edit("minutes1026"), Qt::Key_Up);
    EXPECT_EQ(edit("minutes1026").text(), "8");
    EXPECT_EQ(previewText(), "at ([1:08:00.00]) {} = ");

    auto& secondsDown = *child<QWidget>("spinSeconds1029").findChild<QToolButton*>("down");
    QTest::mouseClick(&secondsDown, Qt::LeftButton);
    EXPECT_EQ(edit("seconds1028").text(), "0");
    edit("seconds1028").setText("40000");
    QTest::mouseClick(&secondsDown, Qt::LeftButton);
    EXPECT_EQ(edit("seconds1028").text(), "32766");
}

TEST_F(StatementDialog, ParsedLineFillsControls)
{
    const QString longValue(40000, QLatin1Char('9'));
    dlg.statementText = "when (({A} > 1)) ramp({T1}, " + longValue + ", 2, 3)";
    dlg.show();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(combo("trigger1022").currentText(), "when");
    EXPECT_EQ(combo("operation1032").currentText(), "ramp");
    EXPECT_EQ(edit("expression1031").text(), "({A} > 1)");
    EXPECT_EQ(edit("value1039").text(), longValue);
    expectEnabled({"expression1031", "tag1042", "value1039", "rampTime1040", "rampStep1041", "replace1050"}, true);
    expectEnabled(kTimeControls, false);
    expectEnabled({"arguments1038", "opcode1037", "insertTag1046", "tags1043"}, false);
    EXPECT_EQ(previewText(), dlg.statementText);
}

TEST_F(StatementDialog, OpcodeListFollowsTheParsedOpcode)
{
    dlg.statementText = "after (5) send(ModelRun, a)";
    dlg.show();
    EXPECT_EQ(combo("opcode1037").currentText(), "ModelRun");
    EXPECT_EQ(combo("opcode1037").currentIndex(), combo("opcode1037").findText("ModelRun"));
    EXPECT_EQ(previewText(), "after (5) send(ModelRun, a)");
}

TEST_F(StatementDialog, UnlistedOpcodeIsKeptAsTyped)
{
    dlg.statementText = "after (5) send(Reload)";
    dlg.show();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(combo("opcode1037").currentText(), "Reload");
    EXPECT_EQ(previewText(), "after (5) send(Reload)");
}

TEST_F(StatementDialog, ParseFailureShowsMessageOnceAndKeepsDefaults)
{
    dlg.statementText = "after (5) {T1} 2";
    dlg.show();
    dlg.hide();
    dlg.show();
    EXPECT_EQ(messages, QStringList({"Equal operator expected but not found."}));
    EXPECT_EQ(combo("trigger1022").currentText(), "at");
    EXPECT_EQ(edit("tag1042").text(), "");
    EXPECT_EQ(previewText(), "at (0) {} = ");
    EXPECT_TRUE(enabled("replace1050"));

    Modal::setDialogHook([this](QDialog&) { QTest::mouseClick(&child<QPushButton>("replace1050"), Qt::LeftButton); });
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
        QTest::keyClicks(&edit("tag1042"), "T");
        QTest::keyClicks(&edit("value1039"), "1");
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
    Modal::setDialogHook([this](QDialog&) { QTest::mouseClick(&child<QPushButton>("replace1050"), Qt::LeftButton); });
    EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_FALSE(dlg.insertRequested);
    EXPECT_EQ(dlg.preview, "after ([1:02:03.00]) send(ModelRun)");
    EXPECT_TRUE(messages.isEmpty());

    bool closedByCancel = false;
    Modal::setDialogHook([&](QDialog& d) {
        d.setResult(QDialog::Accepted);
        QTest::keyClicks(&edit("seconds1028"), "0");
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
    expectEnabled({"tags1043"}, true);
    expectEnabled({"insertTag1046"}, false);
    combo("trigger1022").setCurrentText("when");
    expectEnabled({"insertTag1046"}, true);
    combo("trigger1022").setCurrentText("after");
    expectEnabled({"insertTag1046"}, false);
    for (const char* operation : {"stop", "send"}) {
        combo("operation1032").setCurrentText(operation);
        expectEnabled({"tags1043"}, false);
    }
    combo("operation1032").setCurrentText("ramp");
    expectEnabled({"tags1043"}, true);
}

TEST_F(StatementTagButtons, InsertTagPutsTheBracedNameInPlaceOfTheExpressionsSelection)
{
    showActive();
    combo("trigger1022").setCurrentText("when");
    QLineEdit& expression = edit("expression1031");
    expression.setFocus();
    QTest::keyClicks(&expression, "{A} > 1 and B");
    expression.setSelection(12, 1);
    // The click takes the focus, and with it the line edit's visible selection.
    QTest::mouseClick(&child<QPushButton>("insertTag1046"), Qt::LeftButton);
    ASSERT_EQ(pickerParents, std::vector<QWidget*>{&dlg});
    EXPECT_EQ(expression.text(), "{A} > 1 and {P101:FLOW}");
    EXPECT_TRUE(expression.hasFocus());
    EXPECT_EQ(previewText(), "when ({A} > 1 and {P101:FLOW}) {} = ");

    // At the caret when nothing is selected.
    expression.setCursorPosition(0);
    QTest::mouseClick(&child<QPushButton>("insertTag1046"), Qt::LeftButton);
    EXPECT_EQ(expression.text(), "{P101:FLOW}{A} > 1 and {P101:FLOW}");

    answer.reset();
    child<QPushButton>("insertTag1046").setFocus();
    QTest::mouseClick(&child<QPushButton>("insertTag1046"), Qt::LeftButton);
    EXPECT_EQ(expression.text(), "{P101:FLOW}{A} > 1 and {P101:FLOW}") << "nothing chosen, nothing changes";
    EXPECT_FALSE(expression.hasFocus());
}

TEST_F(StatementTagButtons, TagsReplacesTheTagBoxWithoutBracesAndMovesToTheValue)
{
    showActive();
    QLineEdit& tag = edit("tag1042");
    QTest::keyClicks(&tag, "OLD:TAG");
    QTest::mouseClick(&child<QPushButton>("tags1043"), Qt::LeftButton);
    EXPECT_EQ(tag.text(), "P101:FLOW");
    EXPECT_TRUE(edit("value1039").hasFocus());
    EXPECT_EQ(previewText(), "at (0) {P101:FLOW} = ");

    answer.reset();
    tag.setFocus();
    QTest::mouseClick(&child<QPushButton>("tags1043"), Qt::LeftButton);
    EXPECT_EQ(tag.text(), "P101:FLOW");
    EXPECT_EQ(pickerParents.size(), 2u);
}

} // namespace
