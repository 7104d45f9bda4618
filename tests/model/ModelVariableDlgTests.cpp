#include "tests/model/ModelDialogFixture.h"

#include "model/CBlockPropertiesDlg.h"
#include "model/CModelBrowser.h"
#include "model/CModelVariableDlg.h"
#include "model/ModelQueries.h"
#include "tests/model/FakeKernel.h"

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
    QListWidget& blocks(QWidget& d) { return child<QListWidget>(d, "blocks"); }
    QListWidget& tags(QWidget& d) { return child<QListWidget>(d, "tags"); }
    QString name(QWidget& d) { return child<QLineEdit>(d, "name").text(); }
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
    EXPECT_TRUE(child<QLineEdit>(dlg, "name").isReadOnly());
    EXPECT_FALSE(button(dlg, "ok1").isEnabled());
    EXPECT_FALSE(button(dlg, "properties").isEnabled());
    EXPECT_TRUE(button(dlg, "cancel2").isEnabled());
    EXPECT_TRUE(child<QRadioButton>(dlg, "sortName").isChecked());
    EXPECT_EQ(child<QLineEdit>(dlg, "blockFilter").text(), "*");
    EXPECT_EQ(child<QLineEdit>(dlg, "tagFilter").text(), "*");
    EXPECT_EQ(comboItems(dlg, "blockType"), QStringList({"Any", "FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    EXPECT_EQ(comboItems(dlg, "tagType"), tagTypeLabels());
    EXPECT_EQ(child<QComboBox>(dlg, "tagType").currentText(), "Any");
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
        EXPECT_TRUE(button(d, "properties").isEnabled());
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

// The first press of a double click selects the item, and that selection replaces the tag list (a
// stream, an array, a member with members): the item double-clicked is the one returned, not what
// the new list puts under the pointer.
TEST_F(ModelVariableDlgTest, DoubleClickingATagThatReplacesTheListClosesWithThatTag)
{
    startDesk();
    ASSERT_TRUE(logOn());
    struct Case
    {
        const char* block;
        QStringList clicks;
        const char* doubleClicked;
        const char* name;
    };
    const Case cases[] = {
        {"FEED1", {}, "OUT", "FEED1:OUT"},
        {"P101", {}, "CURVE", "P101:CURVE"},
        {"T201", {"OUT"}, "Compositions", "T201:OUT.x"},
        {"P101", {"OUT"}, "Thermo parameters", "P101:OUT.v"},
        {"P201", {"OUT"}, "Physical properties", "P201:OUT.c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CModelVariableDlg dlg;
        QStringList listAfter;
        onDialog = [&](QDialog& d) {
            clickItem(blocks(d), c.block);
            for (const QString& tag : c.clicks)
                clickItem(tags(d), tag);
            clickItem(tags(d), c.doubleClicked, true);
            listAfter = items(tags(d));
        };
        EXPECT_EQ(Modal::run(dlg), QDialog::Accepted);
        EXPECT_EQ(dlg.name, c.name);
        EXPECT_FALSE(listAfter.contains(c.doubleClicked)) << "the first press replaced the list";
    }
}

TEST_F(ModelVariableDlgTest, SingleClicksAndKeysStillSelectWhatTheNewListShows)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    dlg.show();
    clickItem(blocks(dlg), "FEED1");
    QListWidget& list = tags(dlg);
    const QPoint at = list.visualItemRect(list.findItems("OUT", Qt::MatchExactly).front()).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(name(dlg), "FEED1:OUT");
    ASSERT_EQ(items(list), propertyLabels());
    const QListWidgetItem* under = list.itemAt(at);
    ASSERT_NE(under, nullptr);
    const int row = propertyRowAt(list.row(under));
    ASSERT_GE(row, 0);
    // A second click, too late to make a double click, selects what is under the pointer now.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(name(dlg), QStringLiteral("FEED1:OUT") + QLatin1String(kProperties[row].suffix));
    EXPECT_TRUE(dlg.isVisible());

    // Keys: a selection that replaces the list, then one in the new list, then Enter for OK.
    clickItem(blocks(dlg), "P101");
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Home);
    EXPECT_EQ(name(dlg), "P101:OUT");
    EXPECT_EQ(items(list), propertyLabels());
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(name(dlg), "P101:OUT.f");
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(name(dlg), "P101:OUT.m");
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.name, "P101:OUT.m");
}

// A kernel of the test's own answers the inspection of a scalar with 0 and an empty array, which
// empties the list under the pointer, and fails that of a stream's compositions, which keeps the
// list but leaves the block level's rules in force for the next selection.
TEST_F(ModelVariableDlgTest, DoubleClicksCloseWithTheTagWhateverItsInspectionAnswers)
{
    startDesk();
    FakeKernel kernel;
    kernel.setAnswer([](const FakeKernel::Request& r) -> std::optional<vmsg::Message> {
        const std::string* text = r.values.empty() ? nullptr : std::get_if<std::string>(&r.values.front());
        if (text && *text == "LC201:SP@V_compat")
            return FakeKernel::inspection(0, 2, std::vector<std::string>{});
        if (text && *text == "P101:OUT.x@V_compat")
            return FakeKernel::inspection(1, 0);
        return std::nullopt;
    });
    qputenv("NORVEX_PORT_BASE", QByteArray::number(kernel.port()));
    ASSERT_TRUE(logOn());

    CModelVariableDlg scalar;
    QStringList listAfter;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "LC201");
        clickItem(tags(d), "SP", true);
        listAfter = items(tags(d));
    };
    EXPECT_EQ(Modal::run(scalar), QDialog::Accepted);
    EXPECT_EQ(scalar.name, "LC201:SP");
    EXPECT_EQ(listAfter, QStringList());

    CModelVariableDlg member;
    onDialog = [&](QDialog& d) {
        clickItem(blocks(d), "P101");
        clickItem(tags(d), "OUT");
        clickItem(tags(d), "Compositions", true);
        listAfter = items(tags(d));
    };
    EXPECT_EQ(Modal::run(member), QDialog::Accepted);
    EXPECT_EQ(member.name, "P101:OUT.x") << "composed once, not again by the block level's rules";
    EXPECT_EQ(listAfter, propertyLabels());
    EXPECT_EQ(member.browser().mode(), BrowseMode::BlockTags);
}

TEST_F(ModelVariableDlgTest, FiltersWaitForAQueryAndExecutionShowsTheKernelsOrder)
{
    startDesk();
    ASSERT_TRUE(logOn());
    CModelVariableDlg dlg;
    dlg.show();
    clickItem(blocks(dlg), "P101");
    child<QLineEdit>(dlg, "blockFilter").setText("f*");
    EXPECT_EQ(items(blocks(dlg)), blocksByName) << "a changed filter waits for the next query";

    QTest::mouseClick(&child<QRadioButton>(dlg, "sortExecution"), Qt::LeftButton);
    EXPECT_EQ(items(blocks(dlg)), QStringList({"FEED1", "FV101", "FV102", "FEED2", "FV201", "FV202"}));
    EXPECT_EQ(items(tags(dlg)), pumpTags) << "the tag list is left alone";
    EXPECT_EQ(name(dlg), "P101");
    QTest::mouseClick(&child<QRadioButton>(dlg, "sortName"), Qt::LeftButton);
    EXPECT_EQ(items(blocks(dlg)), QStringList({"FEED1", "FEED2", "FV101", "FV102", "FV201", "FV202"}));

    child<QLineEdit>(dlg, "blockFilter").setText("");
    child<QComboBox>(dlg, "blockType").setCurrentText("PUMP");
    click(dlg, "refresh");
    EXPECT_EQ(items(blocks(dlg)), QStringList({"P101", "P201"})) << "an empty filter is sent as *";

    child<QLineEdit>(dlg, "blockFilter").setText("nothing*");
    click(dlg, "refresh");
    EXPECT_EQ(items(blocks(dlg)), QStringList({"no match"}));
    clickItem(blocks(dlg), "no match", true);
    EXPECT_TRUE(dlg.isVisible()) << "\"no match\" selects nothing";
    EXPECT_EQ(name(dlg), "P101");

    // The tag filters apply at the next block selection.
    child<QLineEdit>(dlg, "blockFilter").setText("*");
    child<QComboBox>(dlg, "blockType").setCurrentText("Any");
    child<QLineEdit>(dlg, "tagFilter").setText("*e*");
    child<QComboBox>(dlg, "tagType").setCurrentText("DBLE");
    click(dlg, "refresh");
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
    click(dlg, "refresh");
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
        EXPECT_EQ(comboItems(d, "blockType"), QStringList({"Any"}));
        EXPECT_FALSE(button(d, "ok1").isEnabled());
        click(d, "ok1");
        click(d, "refresh");
        QTest::keyClick(&child<QLineEdit>(d, "name"), Qt::Key_Return);
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
        click(d, "properties");
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
