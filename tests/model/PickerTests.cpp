#include "tests/model/ModelDialogFixture.h"

#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "framework/DocTemplate.h"
#include "kernel/CLogOnDlg.h"
#include "model/CModelVariableDlg.h"
#include "model/CTagListDlg.h"
#include "res/Resource.h"
#include "statement/CStatementDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTextCursor>

namespace {

// The statement dialog's tag buttons and the editor's Insert Model Variable with the pickers the
// application installs.
class PickerTest : public ModelDialogFixture
{
protected:
    void setTagList(const QByteArray& bytes)
    {
        const QString path = writeFile(QStringLiteral("tags.txt"), bytes);
        CSettingsKey key;
        ASSERT_TRUE(key.open(CSettingsKey::Write));
        key.write(SettingName::TagList, path);
        key.close();
    }

    // Answers the model-variable dialog: block, then a double click on the item.
    void pickInModel(const QString& block, const QString& item)
    {
        onDialog = [this, block, item](QDialog& d) {
            if (qobject_cast<CModelVariableDlg*>(&d)) {
                clickItem(child<QListWidget>(d, "blocks"), block);
                clickItem(child<QListWidget>(d, "tags"), item, true);
            }
        };
    }

    CEditorDoc* newProgram(const QString& text)
    {
        DocTemplate* t = app->findTemplate(QStringLiteral("KELM Program File"));
        auto* doc = qobject_cast<CEditorDoc*>(t ? t->openDocumentFile(QString()) : nullptr);
        if (!doc)
            return nullptr;
        doc->textDocument()->setPlainText(text);
        CEditorView* view = doc->currentView();
        for (QWidget* w = view; w; w = w->parentWidget()) {
            if (auto* sub = qobject_cast<QMdiSubWindow*>(w))
                sub->mdiArea()->setActiveSubWindow(sub);
        }
        view->setFocus();
        return doc;
    }
    static void select(CEditorView* view, int from, int to)
    {
        QTextCursor c = view->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        view->setTextCursor(c);
    }
};

} // namespace

TEST_F(PickerTest, StatementButtonsTakeTheKernelTagFromTheTagListWithoutALogOn)
{
    startDesk();
    setTagList("T1  P101:FLOW  \"Feed flow in\"\n");
    onDialog = [this](QDialog& d) {
        auto& list = child<QTreeWidget>(d, "list");
        doubleClickAt(list.viewport(), list.visualItemRect(list.topLevelItem(0)).center());
    };
    CStatementDlg dlg;
    dlg.show();
    child<QComboBox>(dlg, "trigger").setCurrentText("when");
    click(dlg, "insertTag");
    EXPECT_EQ(child<QLineEdit>(dlg, "expression").text(), "{P101:FLOW}");
    click(dlg, "tagsButton");
    EXPECT_EQ(child<QLineEdit>(dlg, "tag").text(), "P101:FLOW");
    EXPECT_EQ(child<QLineEdit>(dlg, "preview").text(), "when ({P101:FLOW}) {P101:FLOW} = ");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CTagListDlg", "CTagListDlg"}));
    EXPECT_FALSE(IsLoggedOn());

    // Closing the tag list gives nothing.
    onDialog = [](QDialog& d) { d.close(); };
    click(dlg, "tagsButton");
    EXPECT_EQ(child<QLineEdit>(dlg, "tag").text(), "P101:FLOW");
}

TEST_F(PickerTest, WithoutATagListTheButtonsBrowseTheModelLoggingOnFirst)
{
    startDesk();
    std::vector<std::string> seen;
    onDialog = [&](QDialog& d) {
        if (qobject_cast<CLogOnDlg*>(&d)) {
            child<QComboBox>(d, "hostname").setEditText("127.0.0.1");
            child<QLineEdit>(d, "instance").setText("0");
            click(d, "ok1");
            return;
        }
        clickItem(child<QListWidget>(d, "blocks"), "FEED1");
        clickItem(child<QListWidget>(d, "tags"), "FLOW", true);
    };
    CStatementDlg dlg;
    dlg.show();
    click(dlg, "tagsButton");
    EXPECT_EQ(child<QLineEdit>(dlg, "tag").text(), "FEED1:FLOW");
    EXPECT_TRUE(IsLoggedOn());
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CLogOnDlg", "CModelVariableDlg"}));

    // Logged on now: straight to the model.
    pickInModel("P101", "SPEED");
    child<QComboBox>(dlg, "trigger").setCurrentText("when");
    click(dlg, "insertTag");
    EXPECT_EQ(child<QLineEdit>(dlg, "expression").text(), "{P101:SPEED}");
    EXPECT_EQ(dialogs.back(), "CModelVariableDlg");
    EXPECT_EQ(dialogs.size(), 3u);
}

TEST_F(PickerTest, AFailedLogOnEndsTheButtonAndACancelledOneBrowsesWithoutAKernel)
{
    startDesk();
    onDialog = [&](QDialog& d) {
        child<QLineEdit>(d, "instance").setText("1"); // nothing listens there
        child<QComboBox>(d, "hostname").setEditText("127.0.0.1");
        click(d, "ok1");
    };
    CStatementDlg dlg;
    dlg.show();
    click(dlg, "tagsButton");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CLogOnDlg"}));
    EXPECT_TRUE(messages.isEmpty());

    bool listsEmpty = false;
    onDialog = [&](QDialog& d) {
        if (qobject_cast<CLogOnDlg*>(&d)) {
            click(d, "cancel2");
            return;
        }
        listsEmpty = child<QListWidget>(d, "blocks").count() == 0;
        click(d, "cancel2");
    };
    click(dlg, "tagsButton");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CLogOnDlg", "CLogOnDlg", "CModelVariableDlg"}));
    EXPECT_TRUE(listsEmpty);
    EXPECT_EQ(child<QLineEdit>(dlg, "tag").text(), "");
}

TEST_F(PickerTest, EditOnlyWithoutATagListSaysSoAndOpensNothing)
{
    startDesk({QStringLiteral("-editonly")});
    CStatementDlg dlg;
    dlg.show();
    EXPECT_TRUE(button(dlg, "tagsButton").isEnabled());
    click(dlg, "tagsButton");
    EXPECT_EQ(messages, QStringList({"No taglist file set."}));
    EXPECT_TRUE(dialogs.empty());

    setTagList("T9 K:9\n");
    onDialog = [](QDialog& d) { d.close(); };
    click(dlg, "tagsButton");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CTagListDlg"})) << "a tag list works in edit-only mode";

    ASSERT_TRUE(newProgram("at (0) {} = 1\n"));
    EXPECT_FALSE(actionEnabled(Cmd::InsertModelVariable));
}

TEST_F(PickerTest, TheEditorPutsTheBracedNameInPlaceOfTheSelection)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CEditorDoc* doc = newProgram("when (x > 2) stop\n");
    ASSERT_TRUE(doc);
    select(doc->currentView(), 6, 7);
    pickInModel("T101", "LEVEL");
    ASSERT_TRUE(triggerAction(Cmd::InsertModelVariable));
    EXPECT_EQ(doc->text(), "when ({T101:LEVEL} > 2) stop\n");
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CModelVariableDlg"}));

    // Cancelled: nothing changes.
    onDialog = [](QDialog& d) { d.reject(); };
    ASSERT_TRUE(triggerAction(Cmd::InsertModelVariable));
    EXPECT_EQ(doc->text(), "when ({T101:LEVEL} > 2) stop\n");
}

TEST_F(PickerTest, TheEditorLogsOnFirstAndStopsWhenTheLogOnFails)
{
    startDesk();
    CEditorDoc* doc = newProgram("at (0) ");
    ASSERT_TRUE(doc);
    select(doc->currentView(), 7, 7);
    onDialog = [&](QDialog& d) {
        if (qobject_cast<CLogOnDlg*>(&d)) {
            child<QComboBox>(d, "hostname").setEditText("127.0.0.1");
            child<QLineEdit>(d, "instance").setText("1");
            click(d, "ok1");
        }
    };
    ASSERT_TRUE(triggerAction(Cmd::InsertModelVariable));
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CLogOnDlg"}));
    EXPECT_EQ(doc->text(), "at (0) ");

    onDialog = [&](QDialog& d) {
        if (qobject_cast<CLogOnDlg*>(&d)) {
            child<QLineEdit>(d, "instance").setText("0");
            click(d, "ok1");
            return;
        }
        clickItem(child<QListWidget>(d, "blocks"), "LC101");
        click(d, "ok1");
    };
    ASSERT_TRUE(triggerAction(Cmd::InsertModelVariable));
    EXPECT_EQ(dialogs, (std::vector<std::string>{"CLogOnDlg", "CLogOnDlg", "CModelVariableDlg"}));
    EXPECT_EQ(doc->text(), "at (0) {LC101}");
}
