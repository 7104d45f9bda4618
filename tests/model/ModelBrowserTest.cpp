#include "model/CModelBrowser.h"

#include "model/ModelQueries.h"
#include "tests/common/QtPrinting.h"
#include "tests/model/FakeKernel.h"

#include <gtest/gtest.h>

namespace {

const QStringList pumpTags = {"OUT", "RUN", "SPEED", "DP", "POWER", "CURVE", "HOURS", "DESC"};

// Browsing the simulator's model; some answers are scripted where the model has no such case.
class ModelBrowser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        handle = kernel.logOn();
        ASSERT_GT(handle, 0);
    }

    // Selects block P101, then its stream OUT (a property set).
    void enterPumpStream()
    {
        ASSERT_EQ(browser.SelectBlock("P101", "", 0), pumpTags);
        const CModelBrowser::ItemResult out = browser.SelectItem(0, "OUT");
        ASSERT_TRUE(out.taken);
        ASSERT_EQ(out.list, propertyLabels());
        ASSERT_EQ(browser.mode(), BrowseMode::PropertySet);
        kernel.clearRequests();
    }

    void expectState(BrowseMode mode, const QString& base, const QString& name)
    {
        EXPECT_EQ(browser.mode(), mode);
        EXPECT_EQ(browser.baseName(), base);
        EXPECT_EQ(browser.name(), name);
    }

    FakeKernel kernel;
    int handle = 0;
    CModelBrowser browser{[this] { return handle; }};
};

} // namespace

TEST(ModelTables, PropertyListHidesRowElevenAndKeepsTheLabelsAsTheyAre)
{
    const QStringList labels = propertyLabels();
    ASSERT_EQ(labels.size(), 13);
    EXPECT_EQ(labels.at(2), "Temparature");
    EXPECT_EQ(labels.at(10), "Compositions");
    EXPECT_EQ(labels.at(11), "Thermo parameters");
    EXPECT_FALSE(labels.contains("Component names"));
    EXPECT_EQ(propertyRowAt(10), 10);
    EXPECT_EQ(propertyRowAt(11), 12);
    EXPECT_EQ(propertyRowAt(12), 13);
    EXPECT_EQ(propertyRowAt(13), -1);
    EXPECT_EQ(propertyRowAt(-1), -1);
    EXPECT_EQ(thermoParameterLabels().size(), 13);
    EXPECT_EQ(thermoParameterLabels().back(), "VF(min Tdew)");
    EXPECT_EQ(physicalPropertyLabels(), QStringList({"Thermo table no.", "Interation tolerance", "Maximum iteration",
                                                     "Error code", "Error/Iteration count", "Elevation"}));
}

TEST_F(ModelBrowser, BlockSelectionStartsAtTheBlockWithItsFilteredTags)
{
    expectState(BrowseMode::BlockTags, "", "");
    EXPECT_EQ(browser.SelectBlock("P101", "", 0), pumpTags);
    expectState(BrowseMode::BlockTags, "P101", "P101");
    EXPECT_EQ(kernel.queryTexts().back(), "P101:$top@name(*)@vr_tp(*)@B_tags");

    EXPECT_EQ(browser.SelectBlock("T101", "AL*", 3), QStringList({"ALMLIM"}));
    EXPECT_EQ(kernel.queryTexts().back(), "T101:$top@name(AL*)@vr_tp(dbar)@B_tags");
    expectState(BrowseMode::BlockTags, "T101", "T101");
}

TEST_F(ModelBrowser, ModeZeroJoinsTagsToTheBlockOrTakesANameWithAColonWhole)
{
    browser.SelectBlock("P101", "", 0);
    kernel.clearRequests();
    // A scalar: the inspection fails, the list stays.
    CModelBrowser::ItemResult r = browser.SelectItem(2, "SPEED");
    EXPECT_TRUE(r.taken);
    EXPECT_FALSE(r.list);
    expectState(BrowseMode::BlockTags, "P101", "P101:SPEED");
    EXPECT_EQ(kernel.queryTexts(), (std::vector<std::string>{"P101:SPEED@V_compat"}));

    // An array: its elements replace the list; mode and base stay.
    r = browser.SelectItem(5, "CURVE");
    ASSERT_TRUE(r.list);
    EXPECT_EQ(r.list->size(), 5);
    EXPECT_EQ(r.list->at(4), "P101:CURVE[4]");
    expectState(BrowseMode::BlockTags, "P101", "P101:CURVE");

    r = browser.SelectItem(3, "P101:CURVE[3]");
    expectState(BrowseMode::BlockTags, "P101", "P101:CURVE[3]");
    r = browser.SelectItem(0, "FV101:POS");
    EXPECT_EQ(browser.name(), "FV101:POS") << "not joined to the block";
}

TEST_F(ModelBrowser, PropertySetRowsComposeSuffixesAndOnlyCompositionsAsksTheKernel)
{
    enterPumpStream();
    expectState(BrowseMode::PropertySet, "P101:OUT", "P101:OUT");

    CModelBrowser::ItemResult r = browser.SelectItem(2, "Temparature");
    EXPECT_TRUE(r.taken);
    EXPECT_FALSE(r.list);
    expectState(BrowseMode::PropertySet, "P101:OUT", "P101:OUT.t");
    browser.SelectItem(9, "Volume Flow");
    EXPECT_EQ(browser.name(), "P101:OUT.q");
    EXPECT_TRUE(kernel.requests().empty()) << "rows 0 to 9 are final";

    // Position 10: compositions, back in mode 0 and inspected: the element names are the list.
    r = browser.SelectItem(10, "Compositions");
    ASSERT_TRUE(r.list);
    EXPECT_EQ(*r.list, QStringList({"P101:OUT.x[0]", "P101:OUT.x[1]", "P101:OUT.x[2]", "P101:OUT.x[3]"}));
    expectState(BrowseMode::BlockTags, "P101:OUT", "P101:OUT.x");
    EXPECT_EQ(kernel.queryTexts(), (std::vector<std::string>{"P101:OUT.x@V_compat"}));
    browser.SelectItem(1, "P101:OUT.x[1]");
    EXPECT_EQ(browser.name(), "P101:OUT.x[1]");
}

TEST_F(ModelBrowser, ThermoParametersAndPhysicalPropertiesIndexByListPosition)
{
    enterPumpStream();
    // Position 11 is row 12: ".v", not the hidden ".nx".
    CModelBrowser::ItemResult r = browser.SelectItem(11, "Thermo parameters");
    ASSERT_TRUE(r.list);
    EXPECT_EQ(*r.list, thermoParameterLabels());
    expectState(BrowseMode::ThermoElements, "P101:OUT.v", "P101:OUT.v");
    EXPECT_TRUE(kernel.requests().empty());

    r = browser.SelectItem(0, "Cp");
    EXPECT_FALSE(r.list) << "an element has nothing below it";
    expectState(BrowseMode::ThermoElements, "P101:OUT.v", "P101:OUT.v[0]");
    browser.SelectItem(12, "VF(min Tdew)");
    EXPECT_EQ(browser.name(), "P101:OUT.v[12]");
    EXPECT_EQ(kernel.queryTexts().back(), "P101:OUT.v[12]@V_compat");

    enterPumpStream();
    r = browser.SelectItem(12, "Physical properties");
    ASSERT_TRUE(r.list);
    EXPECT_EQ(*r.list, physicalPropertyLabels());
    expectState(BrowseMode::PhysicalElements, "P101:OUT.c", "P101:OUT.c");
    browser.SelectItem(5, "Elevation");
    expectState(BrowseMode::PhysicalElements, "P101:OUT.c", "P101:OUT.c[5]");
}

TEST_F(ModelBrowser, AFailedInspectionLeavesTheListAndTypeFourteenReplacesIt)
{
    browser.SelectBlock("P101", "", 0);
    kernel.answerAll([] { return FakeKernel::inspection(2, 3, std::vector<std::string>{"never shown"}); });
    CModelBrowser::ItemResult r = browser.SelectItem(5, "CURVE");
    EXPECT_TRUE(r.taken);
    EXPECT_FALSE(r.list);
    expectState(BrowseMode::BlockTags, "P101", "P101:CURVE");

    // Compositions whose inspection fails: the mode set to 0 stays.
    kernel.setAnswer({});
    enterPumpStream();
    kernel.answerAll([] { return FakeKernel::inspection(1, 3); });
    r = browser.SelectItem(10, "Compositions");
    EXPECT_FALSE(r.list);
    expectState(BrowseMode::BlockTags, "P101:OUT", "P101:OUT.x");

    // Any variable answering type 14 becomes a property set.
    kernel.answerAll([] { return FakeKernel::inspection(0, 14); });
    r = browser.SelectItem(0, "T101:OUT");
    ASSERT_TRUE(r.list);
    EXPECT_EQ(*r.list, propertyLabels());
    expectState(BrowseMode::PropertySet, "T101:OUT", "T101:OUT");
}

TEST_F(ModelBrowser, NoMatchItemsAndOverlongNamesChangeNothing)
{
    EXPECT_EQ(browser.SelectBlock("FEED1", "NONE", 0), QStringList({"no match"}));
    kernel.clearRequests();
    EXPECT_FALSE(browser.SelectBlock("no match", "", 0));
    EXPECT_FALSE(browser.SelectItem(0, "no match").taken);
    expectState(BrowseMode::BlockTags, "FEED1", "FEED1");

    enterPumpStream();
    EXPECT_FALSE(browser.SelectItem(13, "beyond the list").taken);
    EXPECT_FALSE(browser.SelectItem(-1, "Cp").taken);
    expectState(BrowseMode::PropertySet, "P101:OUT", "P101:OUT");

    // Names of up to 99 bytes are taken (their requests may still be too long to send).
    const QString block(95, QLatin1Char('B'));
    kernel.clearRequests();
    EXPECT_EQ(browser.SelectBlock(block, "", 0), QStringList());
    EXPECT_TRUE(browser.SelectItem(0, "TAG").taken);
    EXPECT_EQ(browser.name(), block + ":TAG");
    EXPECT_FALSE(browser.SelectItem(0, "TAGS").taken);
    EXPECT_EQ(browser.name(), block + ":TAG");
    EXPECT_TRUE(kernel.requests().empty()) << "the tag query and the inspection are over 99 bytes";
    EXPECT_FALSE(browser.SelectBlock(QString(100, QLatin1Char('B')), "", 0));
    EXPECT_EQ(browser.block(), block);
    EXPECT_EQ(browser.mode(), BrowseMode::BlockTags);
}

TEST_F(ModelBrowser, TheNameIsComposedBeforeTheInspectionIsSent)
{
    browser.SelectBlock("P101", "", 0);
    kernel.clearRequests();
    std::size_t requestsWhenComposed = 99;
    QString composed;
    browser.SelectItem(0, "OUT", [&](const QString& name) {
        composed = name;
        requestsWhenComposed = kernel.requests().size();
    });
    EXPECT_EQ(composed, "P101:OUT");
    EXPECT_EQ(requestsWhenComposed, 0u);
    EXPECT_EQ(kernel.requests().size(), 1u);
}

TEST_F(ModelBrowser, RefreshListsTheSelectedBlocksTagsAgainAtTheBlocksLevel)
{
    EXPECT_FALSE(browser.refreshTags("", 0)) << "no block selected yet";
    enterPumpStream();
    browser.SelectItem(11, "Thermo parameters");
    browser.SelectItem(3, "U");
    const std::optional<QStringList> tags = browser.refreshTags("S*", 0);
    EXPECT_EQ(tags, QStringList({"SPEED"}));
    EXPECT_EQ(kernel.queryTexts().back(), "P101:$top@name(S*)@vr_tp(*)@B_tags");
    expectState(BrowseMode::BlockTags, "P101", "P101:OUT.v[3]");
    browser.SelectItem(0, "SPEED");
    EXPECT_EQ(browser.name(), "P101:SPEED");
}
