#include "sim/kernel/KernelService.h"

#include <gtest/gtest.h>

namespace {

using vmsg::Divider;
using vmsg::Value;
using Values = std::vector<Value>;
using Names = std::vector<std::string>;

constexpr double wallNow = 1700000000.0;

vmsg::Message request(int kind, Values values)
{
    vmsg::Message m;
    m.kind = kind;
    m.requestId = 1;
    m.values = std::move(values);
    return m;
}

SimOptions optionsWith(KernelState state, bool longStatus = false)
{
    SimOptions o;
    o.instance = 4;
    o.state = state;
    o.longStatus = longStatus;
    o.speed = 2.0;
    return o;
}

// The code of an error reply ("is"), or 0 when the reply is no error.
int errorCode(const vmsg::Message& reply)
{
    if (!reply.checkTemplate("is"))
        return 0;
    const int code = std::get<std::int32_t>(reply.values[0]);
    return code < 0 ? code : 0;
}

} // namespace

TEST(KernelService, StatusInBothLayouts)
{
    KernelService shortService(optionsWith(KernelState::Paused), wallNow);
    EXPECT_EQ(shortService.status().values, (Values{0.0, Divider{}, 2, Divider{}}));

    KernelService longService(optionsWith(KernelState::Running, true), wallNow);
    longService.tick(1.5);
    EXPECT_EQ(longService.status().values,
              (Values{4, Divider{}, std::string("demo plant"), Divider{}, 3.0, Divider{}, 1, Divider{}}));
    const KernelService::Outcome asked = longService.handle(request(32, {}), wallNow);
    EXPECT_TRUE(asked.reply.checkTemplate("ivsvrviv"));

    KernelService empty(optionsWith(KernelState::NoModel, true), wallNow);
    EXPECT_EQ(empty.status().values, (Values{4, Divider{}, std::string(""), Divider{}, 0.0, Divider{}, 0, Divider{}}));
    EXPECT_EQ(empty.model(), nullptr);
}

TEST(KernelService, ControlRequestsChangeStateAndSayWhenTheyDid)
{
    KernelService service(optionsWith(KernelState::NoModel), wallNow);
    KernelService::Outcome o = service.handle(request(40, {}), wallNow);
    EXPECT_EQ(errorCode(o.reply), KernelError::NoModel);
    EXPECT_FALSE(o.stateChanged);

    o = service.handle(request(42, {}), wallNow);
    EXPECT_TRUE(o.stateChanged);
    EXPECT_EQ(o.reply.values, (Values{0.0, Divider{}, 2, Divider{}}));
    EXPECT_FALSE(service.tick(5.0));

    o = service.handle(request(40, {}), wallNow);
    EXPECT_TRUE(o.stateChanged);
    EXPECT_EQ(service.clock().state(), KernelState::Running);
    EXPECT_FALSE(service.handle(request(40, {}), wallNow).stateChanged);
    EXPECT_TRUE(service.tick(0.5)); // speed 2: one simulated second
    EXPECT_FALSE(service.tick(0.2));
    EXPECT_TRUE(service.tick(0.3));

    o = service.handle(request(41, {}), wallNow);
    EXPECT_TRUE(o.stateChanged);
    EXPECT_EQ(o.reply.values, (Values{2.0, Divider{}, 2, Divider{}}));
    EXPECT_FALSE(service.tick(10.0));

    o = service.handle(request(43, {}), wallNow);
    EXPECT_TRUE(o.stateChanged);
    EXPECT_EQ(o.reply.values, (Values{0.0, Divider{}, 0, Divider{}}));
    EXPECT_EQ(errorCode(service.handle(request(64, {std::string("$top@B_n_lst"), -1}), wallNow).reply),
              KernelError::NoModel);
}

TEST(KernelService, ReadsAndWritesTagValues)
{
    KernelService service(optionsWith(KernelState::Paused), wallNow);
    KernelService::Outcome o = service.handle(request(50, {std::string("FV101:POS")}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 1, 50.0}));
    o = service.handle(request(51, {std::string("FV101:POS"), Divider{}, 20, Divider{}}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 1, 20.0}));
    o = service.handle(request(51, {std::string("T101:DESC"), std::string("renamed")}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 9, std::string("renamed")}));
    o = service.handle(request(50, {std::string("P101:CURVE"), Divider{}}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 3, 4.0, 3.9, 3.6, 3.0, 2.2}));
    o = service.handle(request(50, {std::string("T101:ALMSTATE")}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 7, 0, 0, 0, 0}));
    o = service.handle(request(50, {std::string("FV101:OUT.nx")}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{0, 10, Names{"H2O", "C6H14", "CH4", "CO2"}}));

    EXPECT_EQ(errorCode(service.handle(request(50, {std::string("NOPE:X")}), wallNow).reply),
              KernelError::NoSuchVariable);
    EXPECT_EQ(errorCode(service.handle(request(50, {std::string("FV101:OUT")}), wallNow).reply),
              KernelError::NotAValue);
    EXPECT_EQ(errorCode(service.handle(request(51, {std::string("T101:VOLUME"), 1.0}), wallNow).reply),
              KernelError::ReadOnly);
    EXPECT_EQ(errorCode(service.handle(request(51, {std::string("FV101:POS"), 500.0}), wallNow).reply),
              KernelError::OutOfRange);
    EXPECT_EQ(errorCode(service.handle(request(51, {std::string("FV101:POS"), Names{"a"}}), wallNow).reply),
              KernelError::TypeMismatch);
    EXPECT_EQ(errorCode(service.handle(request(51, {std::string("P101:RUN"), 0.5}), wallNow).reply),
              KernelError::TypeMismatch);
}

TEST(KernelService, AnswersTheModelQueriesPartByPart)
{
    KernelService service(optionsWith(KernelState::Running), wallNow);
    KernelService::Outcome o = service.handle(request(10, {std::string("$top"), -1}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{Names{"FEED", "PUMP", "VALVE", "TANK", "PIDC"}}));

    o = service.handle(request(64, {std::string("P101:$top@name(*)@vr_tp(dble)@B_tags"), -1}), wallNow);
    EXPECT_EQ(o.reply.values, (Values{Names{"SPEED", "DP", "POWER", "HOURS"}}));

    // An inspection as the model browser sends it, answered as it pops: two integers and an array.
    o = service.handle(request(64, {std::string("P101:CURVE@V_compat"), 1, Divider{}, std::string("P101:CURVE@V_type"),
                                    Divider{}, std::string("P101:CURVE@V_array")}),
                       wallNow);
    EXPECT_EQ(
        o.reply.values,
        (Values{0, 3, Names{"P101:CURVE[0]", "P101:CURVE[1]", "P101:CURVE[2]", "P101:CURVE[3]", "P101:CURVE[4]"}}));
}

TEST(KernelService, MalformedRequestsGetAnErrorReply)
{
    KernelService service(optionsWith(KernelState::Running), wallNow);
    const std::vector<std::pair<int, Values>> bad = {
        {99, {}},
        {64, {}},
        {64, {7}},
        {64, {std::string("$top@B_n_lst"), std::string("$top@B_n_lst")}},
        {64, {std::string("$top@B_n_lst"), 1, 2}},
        {64, {std::string("$top@B_n_lst"), 1.5}},
        {64, {std::string("$top@B_n_lst"), Divider{}, Divider{}}},
        {64, {std::string("no query")}},
        {10, {}},
        {10, {std::string("P101"), -1}},
        {50, {}},
        {50, {std::string("T101:LEVEL"), std::string("extra")}},
        {51, {std::string("T101:LEVEL")}},
        {51, {std::string("T101:LEVEL"), 1.0, 2.0}},
        {51, {5, 1.0}},
    };
    for (const auto& [kind, values] : bad) {
        const KernelService::Outcome o = service.handle(request(kind, values), wallNow);
        EXPECT_TRUE(o.reply.checkTemplate("is")) << kind << " " << describeValues(request(kind, values));
        EXPECT_LT(std::get<std::int32_t>(o.reply.values.at(0)), 0);
        EXPECT_FALSE(o.stateChanged);
    }
    EXPECT_EQ(errorCode(service.handle(request(99, {}), wallNow).reply), KernelError::UnknownKind);
    EXPECT_EQ(service.clock().state(), KernelState::Running);
}

TEST(KernelService, DescribesValuesOnOneLine)
{
    const vmsg::Message m = request(64, {std::string("a\nb\"c"), 3, Divider{}, 1.5, Names{"x", "y"}});
    EXPECT_EQ(describeValues(m), "\"a\\x0ab\\x22c\" 3 | 1.5 [2 strings]");
    EXPECT_EQ(describeValues(request(32, {})), "(no values)");
    const std::string longText = describeValues(request(64, {std::string(10000, 'x')}));
    EXPECT_LT(longText.size(), 200u);
}
