#include "tests/model/ModelDialogFixture.h"

#include "model/CBlockPropertiesDlg.h"
#include "model/CModelVariableDlg.h"
#include "model/ModelQueries.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>

namespace {

const QStringList blocksByName = {"FEED1", "FEED2", "FV101", "FV102", "FV201", "FV202",
                                  "LC101", "LC201", "P101",  "P201",  "T101",  "T201"};
const QStringList pumpTags = {"OUT", "RUN", "SPEED", "DP", "POWER", "CURVE", "HOURS", "DESC"};

class ModelVariableDlgTest : public ModelDialogFixture
{
protected:
    QListWidget& blocks(QWidget& d) { return child<QListWidget>(d, "blocks1003"); }
    QListWidget& tags(QWidget& d) { return child<QListWidget>(d, "tags1010"); }
    QString name(QWidget& d) { return child<QLineEdit>(d, "name1014").text(); }
};

} // namespace

TEST_F(ModelVariableDlgTest, OpensWithTheBlocksSortedByNameAndOkDisabled)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Insert Model Variable");
    EXPECT_EQ(items(blocks(dlg)), blocksByName);
    EXPECT_EQ(tags(dlg).count(), 0);
    EXPECT_EQ(name(dlg), "");
    EXPECT_TRUE(child<QLineEdit>(dlg, "name1014").isReadOnly());
    EXPECT_FALSE(button(dlg, "ok1").isEnabled());
    EXPECT_FALSE(button(dlg, "properties1008").isEnabled());
    EXPECT_TRUE(button(dlg, "cancel2").isEnabled());
    EXPECT_TRUE(child<QRadioButton>(dlg, "sortName1006").isChecked());
    EXPECT_EQ(child<QLineEdit>(dlg, "blockFilter1004").text(), "*");
    EXPECT_EQ(child<QLineEdit>(dlg, "tagFilter1012").text(), "*");
    EXPECT_EQ(comboItems(dlg, "blockType1005"), QStringList({"Any", "FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    EXPECT_EQ(comboItems(dlg, "tagType1013"), tagTypeLabels());
    EXPECT_EQ(child<QComboBox>(dlg, "tagType1013").currentText(), "Any");
}

TEST_F(ModelVariableDlgTest, SelectingABlockShowsItsNameAndTagsAndOkReturnsIt)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "P101");
        EXPECT_EQ(name(d), "P101");
        EXPECT_EQ(items(tags(d)), pumpTags);
        EXPECT_TRUE(button(d, "ok1").isEnabled());
        EXPECT_TRUE(button(d, "properties1008").isEnabled());
        screenshot(d, "model-variable-block");
        click(d, "ok1");
    };
    ASSERT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.name, "P101");
}

TEST_F(ModelVariableDlgTest, DescendingIntoAStreamComposesMembersAndIndexedElements)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "P101");
        clickItem(tags(d), "OUT");
        EXPECT_EQ(name(d), "P101:OUT");
        EXPECT_EQ(items(tags(d)), propertyLabels());
        clickItem(tags(d), "Temparature");
        EXPECT_EQ(name(d), "P101:OUT.t");
        EXPECT_EQ(items(tags(d)), propertyLabels());
        clickItem(tags(d), "Thermo parameters");
        EXPECT_EQ(name(d), "P101:OUT.v");
        EXPECT_EQ(items(tags(d)), thermoParameterLabels());
        clickItem(tags(d), "Z");
        EXPECT_EQ(name(d), "P101:OUT.v[4]");
        screenshot(d, "model-variable-thermo");
        click(d, "ok1");
    };
    ASSERT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.name, "P101:OUT.v[4]");

    // Compositions come back as full element names, taken whole.
    CModelVariableDlg again;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "T201");
        clickItem(tags(d), "OUT");
        clickItem(tags(d), "Compositions");
        EXPECT_EQ(items(tags(d)), QStringList({"T201:OUT.x[0]", "T201:OUT.x[1]", "T201:OUT.x[2]", "T201:OUT.x[3]"}));
        clickItem(tags(d), "T201:OUT.x[2]", true);
    };
    ASSERT_EQ(Modal::run(again), QDialog::Accepted);
    EXPECT_EQ(again.name, "T201:OUT.x[2]");
}

TEST_F(ModelVariableDlgTest, DoubleClickingATagClosesWithItsName)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "LC201");
        clickItem(tags(d), "SP", true);
    };
    ASSERT_EQ(Modal::run(dlg), QDialog::Accepted);
    EXPECT_EQ(dlg.name, "LC201:SP");

    CModelVariableDlg byBlock;
    onDialog = [&](QDialog& d) { clickItem(blocks(d), "FV202", true); };
    ASSERT_EQ(Modal::run(byBlock), QDialog::Accepted);
    EXPECT_EQ(byBlock.name, "FV202");
}

TEST_F(ModelVariableDlgTest, FiltersWaitForAQueryAndExecutionShowsTheKernelsOrder)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    dlg.show();
    clickItem(blocks(dlg), "P101");
    child<QLineEdit>(dlg, "blockFilter1004").setText("f*");
    EXPECT_EQ(items(blocks(dlg)), blocksByName) << "a changed filter waits for the next query";

    QTest::mouseClick(&child<QRadioButton>(dlg, "sortExecution1007"), Qt::LeftButton);
    EXPECT_EQ(items(blocks(dlg)), QStringList({"FEED1", "FV101", "FV102", "FEED2", "FV201", "FV202"}));
    EXPECT_EQ(items(tags(dlg)), pumpTags) << "the tag list is left alone";
    EXPECT_EQ(name(dlg), "P101");
    QTest::mouseClick(&child<QRadioButton>(dlg, "sortName1006"), Qt::LeftButton);
    EXPECT_EQ(items(blocks(dlg)), QStringList({"FEED1", "FEED2", "FV101", "FV102", "FV201", "FV202"}));

    child<QLineEdit>(dlg, "blockFilter1004").setText("");
    child<QComboBox>(dlg, "blockType1005").setCurrentText("PUMP");
    click(dlg, "refresh1009");
    EXPECT_EQ(items(blocks(dlg)), QStringList({"P101", "P201"})) << "an empty filter is sent as *";

    child<QLineEdit>(dlg, "blockFilter1004").setText("nothing*");
    click(dlg, "refresh1009");
    EXPECT_EQ(items(blocks(dlg)), QStringList({"no match"}));
    clickItem(blocks(dlg), "no match", true);
    EXPECT_TRUE(dlg.isVisible()) << "\"no match\" selects nothing";
    EXPECT_EQ(name(dlg), "P101");

    // The tag filters apply at the next block selection.
    child<QLineEdit>(dlg, "blockFilter1004").setText("*");
    child<QComboBox>(dlg, "blockType1005").setCurrentText("Any");
    child<QLineEdit>(dlg, "tagFilter1012").setText("*e*");
    child<QComboBox>(dlg, "tagType1013").setCurrentText("DBLE");
    click(dlg, "refresh1009");
    clickItem(blocks(dlg), "T101");
    EXPECT_EQ(items(tags(dlg)), QStringList({"LEVEL", "VOLUME", "AREA", "HEIGHT", "TEMP"}));
}

TEST_F(ModelVariableDlgTest, RefreshListsTheSelectedBlocksTagsAgainAfterADescent)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    dlg.show();
    clickItem(blocks(dlg), "P101");
    clickItem(tags(dlg), "OUT");
    clickItem(tags(dlg), "Physical properties");
    clickItem(tags(dlg), "Elevation");
    EXPECT_EQ(name(dlg), "P101:OUT.c[5]");
    click(dlg, "refresh1009");
    EXPECT_EQ(items(blocks(dlg)), blocksByName);
    EXPECT_EQ(items(tags(dlg)), pumpTags);
    EXPECT_EQ(name(dlg), "P101:OUT.c[5]");
    clickItem(tags(dlg), "HOURS");
    EXPECT_EQ(name(dlg), "P101:HOURS");
}

TEST_F(ModelVariableDlgTest, WithoutAKernelTheListsStayEmptyAndOnlyCancelEndsIt)
{
    startDesk();
    CModelVariableDlg dlg;
    bool openAfterOk = false;
    onDialog = [&](QDialog& d) {
        EXPECT_EQ(blocks(d).count(), 0);
        EXPECT_EQ(tags(d).count(), 0);
        EXPECT_EQ(comboItems(d, "blockType1005"), QStringList({"Any"}));
        EXPECT_FALSE(button(d, "ok1").isEnabled());
        click(d, "ok1");
        click(d, "refresh1009");
        QTest::keyClick(&child<QLineEdit>(d, "name1014"), Qt::Key_Return);
        openAfterOk = d.isVisible();
        click(d, "cancel2");
    };
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(dlg.name, "");
}

TEST_F(ModelVariableDlgTest, PropertiesListsTheBlocksTagsWithTypesAndCurrentValues)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    QStringList rows;
    QString title;
    onDialog = [&](QDialog& d) {
        if (qobject_cast<CBlockPropertiesDlg*>(&d)) {
            title = d.windowTitle();
            auto& list = child<QTreeWidget>(d, "tagValues");
            for (int i = 0; i < list.topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list.topLevelItem(i);
                rows << item->text(0) + " | " + item->text(1) + " | " + item->text(2);
            }
            screenshot(d, "block-properties");
            click(d, "close");
            return;
        }
        clickItem(blocks(d), "P101");
        click(d, "properties1008");
        click(d, "cancel2");
    };
    EXPECT_EQ(Modal::run(dlg), QDialog::Rejected);
    EXPECT_EQ(title, "Properties of P101");
    ASSERT_EQ(rows.size(), 8);
    // The pressure rise and the power follow from the flow; they are positive numbers.
    EXPECT_TRUE(QRegularExpression("DP \\| DBLE \\| [1-9][0-9.]*").match(rows[3]).hasMatch()) << rows[3].toStdString();
    EXPECT_TRUE(QRegularExpression("POWER \\| DBLE \\| [1-9][0-9.]*").match(rows[4]).hasMatch())
        << rows[4].toStdString();
    rows.removeAt(4);
    rows.removeAt(3);
    EXPECT_EQ(rows, QStringList({"OUT | Property set | ", "RUN | INTG | 1", "SPEED | DBLE | 100",
                                 "CURVE | DBAR | 4, 3.9, 3.6, 3, 2.2", "HOURS | DBLE | 0",
                                 "DESC | STRN | Feed pump line 1"}));
}
