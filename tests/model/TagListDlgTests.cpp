#include "tests/model/ModelDialogFixture.h"

#include "model/CTagListDlg.h"

#include <QHeaderView>

namespace {

class TagListDlgTest : public ModelDialogFixture
{
protected:
    QString writeList(const QByteArray& bytes) { return writeFile(QStringLiteral("tags.txt"), bytes); }
    static QTreeWidget& list(QWidget& d) { return child<QTreeWidget>(d, "list"); }
    static QStringList row(QTreeWidget& l, int i)
    {
        const QTreeWidgetItem* item = l.topLevelItem(i);
        return item ? QStringList({item->text(0), item->text(1), item->text(2)}) : QStringList();
    }
    static void doubleClickRow(QTreeWidget& l, int i)
    {
        const QRect rect = l.visualItemRect(l.topLevelItem(i));
        doubleClickAt(l.viewport(), rect.center());
    }
};

} // namespace

TEST_F(TagListDlgTest, ShowsTheFileInThreeColumnsAndADoubleClickReturnsTheKernelTag)
{
    CTagListDlg dlg;
    dlg.filePath = writeList("T1  P101:FLOW  \"Feed flow in\"\n"
                             "T2  P201:FLOW  Feed flow in\n"
                             "\n"
                             "T4\tLC101:SP\t\"Level setpoint\"");
    onDialog = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Tag List");
        QTreeWidget& l = list(d);
        ASSERT_EQ(l.columnCount(), 3);
        EXPECT_EQ(l.headerItem()->text(0), "Tag");
        EXPECT_EQ(l.headerItem()->text(1), "Description");
        EXPECT_EQ(l.headerItem()->text(2), " Kernel Tag");
        EXPECT_EQ(l.columnWidth(0), 100);
        EXPECT_EQ(l.columnWidth(1), 300);
        EXPECT_EQ(l.columnWidth(2), 100);
        ASSERT_EQ(l.topLevelItemCount(), 4);
        EXPECT_EQ(row(l, 0), QStringList({"T1", "Feed flow in", "P101:FLOW"}));
        EXPECT_EQ(row(l, 1), QStringList({"T2", "Feed", "P201:FLOW"}));
        EXPECT_EQ(row(l, 2), QStringList({"", "", ""}));
        EXPECT_EQ(row(l, 3), QStringList({"T4", "Level setpoint", "LC101:SP"}));
        EXPECT_EQ(l.geometry(), d.rect()) << "the list covers the whole window";
        screenshot(d, "tag-list");

        // Below the last row there is nothing to return: the dialog stays.
        doubleClickAt(l.viewport(), QPoint(20, l.viewport()->height() - 5));
        EXPECT_TRUE(d.isVisible());
        doubleClickRow(l, 0);
    };
    ASSERT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.result, "P101:FLOW");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(TagListDlgTest, ALongLineDoesNotEndTheList)
{
    CTagListDlg dlg;
    dlg.filePath = writeList("T1 K:1 \"" + QByteArray(600, 'x') + "\"\nT2 K:2 two\nT3 K:3 three\n");
    onDialog = [&](QDialog& d) {
        ASSERT_EQ(list(d).topLevelItemCount(), 3);
        EXPECT_EQ(list(d).topLevelItem(0)->text(1).size(), 600);
        doubleClickRow(list(d), 2);
    };
    ASSERT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.result, "K:3");
}

TEST_F(TagListDlgTest, AFileThatCannotBeOpenedGivesTheMessageAndAnEmptyTable)
{
    CTagListDlg dlg;
    dlg.filePath = dir.filePath("missing.txt");
    onDialog = [&](QDialog& d) {
        EXPECT_EQ(list(d).topLevelItemCount(), 0);
        EXPECT_EQ(list(d).columnCount(), 3);
        d.close();
    };
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_EQ(messages, QStringList({"Cannot open " + dir.filePath("missing.txt")}));
    EXPECT_EQ(dlg.result, "");

    CTagListDlg folder;
    folder.filePath = dir.path();
    EXPECT_EQ(Modal::run(folder), QDialog::Rejected);
    EXPECT_EQ(messages.last(), "Cannot open " + dir.path() + "\nIt is not a regular file.");
}

TEST_F(TagListDlgTest, TheListFollowsTheWindowsSize)
{
    CTagListDlg dlg;
    dlg.filePath = writeList("T1 K:1\n");
    dlg.show();
    EXPECT_TRUE(dlg.ready);
    dlg.resize(720, 480);
    EXPECT_EQ(list(dlg).geometry(), QRect(0, 0, 720, 480));
    dlg.resize(300, 200);
    EXPECT_EQ(list(dlg).geometry(), QRect(0, 0, 300, 200));
}
