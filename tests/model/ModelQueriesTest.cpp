#include "model/ModelQueries.h"

#include "tests/common/QtPrinting.h"
#include "tests/model/FakeKernel.h"

#include <gtest/gtest.h>

namespace {

using vmsg::Divider;
using Values = std::vector<vmsg::Value>;

class ModelQueries : public ::testing::Test
{
protected:
    void SetUp() override
    {
        handle = kernel.logOn();
        ASSERT_GT(handle, 0);
    }
    void answerWith(std::function<vmsg::Message()> make) { kernel.answerAll(std::move(make)); }

    FakeKernel kernel;
    int handle = 0;
};

} // namespace

TEST(ModelQueryTexts, EmptyFiltersAndAnyAreSentAsStars)
{
    EXPECT_EQ(blockQueryText("", "Any"), "$top<x>@name(*)@type(*)@tagname(*)@tagvalue(*)@B_n_lst");
    EXPECT_EQ(blockQueryText("P*", "PUMP"), "$top<x>@name(P*)@type(PUMP)@tagname(*)@tagvalue(*)@B_n_lst");
    EXPECT_EQ(blockQueryText("*", "any"), "$top<x>@name(*)@type(any)@tagname(*)@tagvalue(*)@B_n_lst")
        << "only the exact choice Any stands for every type";
    EXPECT_EQ(tagQueryText("P101", "", 1), "P101:$top@name(*)@vr_tp(dble)@B_tags");
    EXPECT_EQ(tagQueryText("P101", "S*", 0), "P101:$top@name(S*)@vr_tp(*)@B_tags");
    EXPECT_EQ(tagQueryText("T101", "*", 13), "T101:$top@name(*)@vr_tp(tsoa)@B_tags");

    ASSERT_EQ(tagTypeLabels().size(), 14);
    EXPECT_EQ(tagTypeLabels().front(), "Any");
    EXPECT_EQ(tagTypeLabels().at(9), "STRN");
    EXPECT_EQ(tagTypeName(3), "DBAR");
    EXPECT_EQ(tagTypeName(14), "Property set");
    EXPECT_EQ(tagTypeName(0), "0");
}

TEST_F(ModelQueries, EachRequestGoesOutWithItsKindValuesAndDividers)
{
    EXPECT_EQ(QueryBlockTypes(handle), QStringList({"FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    EXPECT_EQ(QueryBlocks(handle, "T*", "TANK", false), QStringList({"T101", "T201"}));
    EXPECT_EQ(QueryTags(handle, "LC101", "", 9), QStringList({"PVTAG", "OPTAG", "DESC"}));
    const Inspection array = InspectVariable(handle, "P101:CURVE");
    EXPECT_TRUE(array.ok);
    EXPECT_EQ(array.type, 3);
    EXPECT_EQ(array.elements,
              QStringList({"P101:CURVE[0]", "P101:CURVE[1]", "P101:CURVE[2]", "P101:CURVE[3]", "P101:CURVE[4]"}));

    const std::vector<FakeKernel::Request> requests = kernel.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].kind, 10);
    EXPECT_EQ(requests[0].values, (Values{std::string("$top"), -1}));
    EXPECT_EQ(requests[1].kind, 64);
    EXPECT_EQ(requests[1].values,
              (Values{std::string("$top<x>@name(T*)@type(TANK)@tagname(*)@tagvalue(*)@B_n_lst"), -1}));
    EXPECT_EQ(requests[2].kind, 64);
    EXPECT_EQ(requests[2].values, (Values{std::string("LC101:$top@name(*)@vr_tp(strn)@B_tags"), -1}));
    EXPECT_EQ(requests[3].kind, 64);
    EXPECT_EQ(requests[3].values,
              (Values{std::string("P101:CURVE@V_compat"), 1, Divider{}, std::string("P101:CURVE@V_type"), Divider{},
                      std::string("P101:CURVE@V_array")}));
}

TEST_F(ModelQueries, BlocksSortByNameWithoutRegardToCaseOrKeepTheKernelsOrder)
{
    answerWith([] { return FakeKernel::names({"b2", "A1", "a3"}); });
    EXPECT_EQ(QueryBlocks(handle, "", "Any", true), QStringList({"A1", "a3", "b2"}));
    EXPECT_EQ(QueryBlocks(handle, "", "Any", false), QStringList({"b2", "A1", "a3"}));
    // Bytes compare after folding A to Z only: "_" (0x5F) sorts after digits and before letters, and
    // UTF-8 text by its bytes, after every ASCII name.
    answerWith([] { return FakeKernel::names({"Zeta", "\xC3\x84sche", "a_1", "A01", "a"}); });
    EXPECT_EQ(QueryBlocks(handle, "", "Any", true), QStringList({"a", "A01", "a_1", "Zeta", "\u00C4sche"}));
    // Tags keep the reply order.
    answerWith([] { return FakeKernel::names({"b2", "A1", "a3"}); });
    EXPECT_EQ(QueryTags(handle, "X", "", 0), QStringList({"b2", "A1", "a3"}));
}

TEST_F(ModelQueries, NoReplyOrAnotherShapeGivesEmptyAnswers)
{
    EXPECT_TRUE(QueryBlockTypes(0).isEmpty());
    EXPECT_TRUE(QueryBlocks(0, "*", "Any", true).isEmpty());
    EXPECT_TRUE(QueryTags(0, "P101", "*", 0).isEmpty());
    EXPECT_FALSE(InspectVariable(0, "P101:OUT").ok);
    EXPECT_TRUE(kernel.requests().empty()) << "handle 0 reaches no kernel";

    // An error reply ("is") holds no string array, and one integer is no inspection.
    answerWith([] {
        vmsg::Message m;
        m.push(-2);
        m.push("malformed");
        return m;
    });
    EXPECT_TRUE(QueryBlockTypes(handle).isEmpty());
    EXPECT_TRUE(QueryTags(handle, "P101", "*", 0).isEmpty());
    EXPECT_FALSE(InspectVariable(handle, "P101:OUT").ok);
    answerWith([] {
        vmsg::Message m;
        m.push(0);
        return m;
    });
    EXPECT_FALSE(InspectVariable(handle, "P101:OUT").ok);
}

TEST_F(ModelQueries, InspectionFailsUnlessCompatIsZeroAndReadsNoArrayForAPropertySet)
{
    EXPECT_FALSE(InspectVariable(handle, "P101:SPEED").ok) << "a scalar has no level below it";
    EXPECT_FALSE(InspectVariable(handle, "P101:NOTHING").ok);

    const Inspection stream = InspectVariable(handle, "P101:OUT");
    EXPECT_TRUE(stream.ok);
    EXPECT_EQ(stream.type, 14);
    EXPECT_TRUE(stream.elements.isEmpty()) << "the members come from the fixed table, not the reply";

    answerWith([] { return FakeKernel::inspection(0, 10); });
    const Inspection noArray = InspectVariable(handle, "X:Y");
    EXPECT_TRUE(noArray.ok) << "a missing array still succeeds, with an empty list";
    EXPECT_TRUE(noArray.elements.isEmpty());

    answerWith([] { return FakeKernel::inspection(0, 7, std::vector<std::string>{"e0", "e1"}); });
    EXPECT_EQ(InspectVariable(handle, "X:Y").elements, QStringList({"e0", "e1"}));
}

TEST_F(ModelQueries, RequestsLongerThanTheBufferAreNotSent)
{
    // "$top<x>@name(" and ")@type(*)@tagname(*)@tagvalue(*)@B_n_lst" take 53 bytes: 46 are left.
    const QString longest(46, QLatin1Char('P'));
    answerWith([] { return FakeKernel::names({"P1"}); });
    EXPECT_EQ(QueryBlocks(handle, longest, "Any", true), QStringList({"P1"}));
    EXPECT_TRUE(QueryBlocks(handle, longest + "P", "Any", true).isEmpty());
    // Bytes count, not characters: each of these takes two.
    EXPECT_TRUE(QueryBlocks(handle, QString(24, QChar(0xE9)), "Any", true).isEmpty());
    EXPECT_EQ(QueryBlocks(handle, QString(23, QChar(0xE9)), "Any", true), QStringList({"P1"}));
    ASSERT_EQ(kernel.requests().size(), 2u);
    EXPECT_EQ(kernel.queryTexts()[0].size(), 99u);

    // An inspection needs room for "@V_compat": a name of 91 bytes is not inspected.
    kernel.clearRequests();
    answerWith([] { return FakeKernel::inspection(0, 3, std::vector<std::string>{"x"}); });
    EXPECT_TRUE(InspectVariable(handle, QString(90, QLatin1Char('n'))).ok);
    EXPECT_FALSE(InspectVariable(handle, QString(91, QLatin1Char('n'))).ok);
    EXPECT_EQ(kernel.requests().size(), 1u);
}

TEST_F(ModelQueries, ReadingAVariableGivesItsTypeAndValueAsText)
{
    VariableReading speed = readVariable(handle, "P101:SPEED");
    EXPECT_TRUE(speed.ok);
    EXPECT_EQ(speed.type, 1);
    EXPECT_EQ(speed.value, "100");
    EXPECT_EQ(kernel.requests().back().kind, 50);

    VariableReading comp = readVariable(handle, "FEED1:COMP");
    EXPECT_EQ(comp.type, 3);
    EXPECT_EQ(comp.value, "0.9, 0.06, 0.02, 0.02");
    EXPECT_EQ(readVariable(handle, "T101:ALMSTATE").value, "0, 0, 0, 0");
    EXPECT_EQ(readVariable(handle, "P101:DESC").value, "Feed pump line 1");
    EXPECT_EQ(readVariable(handle, "P101:RUN").value, "1");

    VariableReading stream = readVariable(handle, "P101:OUT");
    EXPECT_FALSE(stream.ok);
    EXPECT_EQ(stream.error, "not a value");
    EXPECT_FALSE(readVariable(0, "P101:SPEED").ok);
}
