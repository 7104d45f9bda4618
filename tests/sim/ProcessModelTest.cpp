#include "sim/kernel/ProcessModel.h"
#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace {

double value(const ProcessModel& model, const std::string& name)
{
    PlainValue v;
    EXPECT_EQ(model.read(name, v), ModelError::None) << name;
    if (const double* d = std::get_if<double>(&v))
        return *d;
    if (const int* i = std::get_if<int>(&v))
        return *i;
    ADD_FAILURE() << name << " is not a number";
    return 0.0;
}

bool allFinite(const ProcessModel& model)
{
    for (const Block& b : model.blocks()) {
        for (const Tag& t : b.tags) {
            if (const double* d = std::get_if<double>(&t.value); d && !std::isfinite(*d))
                return false;
            if (const Stream* s = std::get_if<Stream>(&t.value)) {
                for (double m : {s->f, s->m, s->t, s->p, s->h, s->r, s->w, s->g, s->a, s->q})
                    if (!std::isfinite(m))
                        return false;
                for (const auto* a : {&s->x, &s->v, &s->c})
                    for (double e : *a)
                        if (!std::isfinite(e))
                            return false;
            }
        }
    }
    return true;
}

} // namespace

TEST(ProcessModel, HasTwelveBlocksOfFiveTypes)
{
    ProcessModel model;
    EXPECT_EQ(model.blocks().size(), 12u);
    EXPECT_EQ(model.blockTypes(), (std::vector<std::string>{"FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    EXPECT_EQ(model.blocks().front().name, "FEED1");
}

TEST(ProcessModel, TankLevelRisesWhileTheInletValveIsOpenAndFallsWhenItCloses)
{
    ProcessModel model;
    const double start = value(model, "T101:LEVEL");
    model.step(60.0);
    const double filled = value(model, "T101:LEVEL");
    EXPECT_GT(filled, start + 0.1);
    EXPECT_GT(value(model, "P101:HOURS"), 0.0);
    EXPECT_NEAR(value(model, "FEED1:TOTAL"), 12.0 * 60.0, 1e-6);

    ASSERT_EQ(model.write("FV101:POS", 0), ModelError::None);
    ASSERT_EQ(model.write("LC101:OP", 100.0), ModelError::None);
    model.step(120.0);
    EXPECT_LT(value(model, "T101:LEVEL"), filled);
    EXPECT_EQ(value(model, "FV101:TRAVEL"), 0.0);
    EXPECT_EQ(value(model, "FV101:OUT.f"), 0.0);
    EXPECT_EQ(value(model, "FV102:POS"), 100.0); // the manual output drives its valve

    // Filled without an outlet the tank stops at its height.
    model.write("LC101:OP", 0.0);
    model.write("FV101:POS", 100.0);
    model.step(3600.0);
    EXPECT_EQ(value(model, "T101:LEVEL"), value(model, "T101:HEIGHT"));
    PlainValue alarms;
    ASSERT_EQ(model.read("T101:ALARMS", alarms), ModelError::None);
    EXPECT_EQ(std::get<std::vector<std::string>>(alarms), (std::vector<std::string>{"HI", "HIHI"}));
}

TEST(ProcessModel, TheAutomaticControllerHoldsItsSetpoint)
{
    ProcessModel model;
    EXPECT_LT(value(model, "T201:LEVEL"), 1.0);
    model.step(2400.0);
    EXPECT_NEAR(value(model, "T201:LEVEL"), 2.0, 0.25);
    EXPECT_NEAR(value(model, "LC201:PV"), value(model, "T201:LEVEL"), 0.05);
    PlainValue trend;
    ASSERT_EQ(model.read("LC201:TREND", trend), ModelError::None);
    for (double sample : std::get<std::vector<double>>(trend))
        EXPECT_NEAR(sample, 2.0, 0.5);
}

TEST(ProcessModel, ResolvesNamesOfTagsMembersAndElements)
{
    ProcessModel model;
    const auto typeOf = [&](const std::string& name) {
        const auto ref = model.resolve(name);
        return ref ? int(model.typeOf(*ref)) : 0;
    };
    EXPECT_EQ(typeOf("T101:LEVEL"), 1);
    EXPECT_EQ(typeOf("t101:level"), 1);
    EXPECT_EQ(typeOf("P101:RUN"), 5);
    EXPECT_EQ(typeOf("T101:DESC"), 9);
    EXPECT_EQ(typeOf("P101:CURVE"), 3);
    EXPECT_EQ(typeOf("P101:CURVE[4]"), 1);
    EXPECT_EQ(typeOf("T101:ALMSTATE"), 7);
    EXPECT_EQ(typeOf("T101:ALMSTATE[0]"), 5);
    EXPECT_EQ(typeOf("T101:ALARMS"), 10);
    EXPECT_EQ(typeOf("FV101:OUT"), 14);
    EXPECT_EQ(typeOf("FV101:OUT.t"), 1);
    EXPECT_EQ(typeOf("FV101:OUT.x"), 3);
    EXPECT_EQ(typeOf("FV101:OUT.x[3]"), 1);
    EXPECT_EQ(typeOf("FV101:OUT.v[12]"), 1);
    EXPECT_EQ(typeOf("FV101:OUT.c[5]"), 1);
    EXPECT_EQ(typeOf("FV101:OUT.nx"), 10);
    EXPECT_EQ(typeOf("FV101:OUT.nx[1]"), 9);
    EXPECT_EQ(model.nameOf(*model.resolve("fv101:out.x[2]")), "FV101:OUT.x[2]");

    for (const char* bad :
         {"P101", "P101:", ":RUN", "P101:CURVE[5]", "P101:CURVE[-1]", "P101:CURVE[]", "P101:CURVE[1", "P101:CURVE[1]x",
          "P101:RUN[0]", "P101:RUN.t", "FV101:OUT.zz", "FV101:OUT.x[4]", "FV101:OUT.v[13]", "FV101:OUT.t[0]",
          "NOPE:RUN", "P101:NOPE", "P101:CURVE[99999999999]", "FV101:OUT."})
        EXPECT_FALSE(model.resolve(bad)) << bad;
}

TEST(ProcessModel, ListsElementsOfArraysAndMembersOfStreams)
{
    ProcessModel model;
    EXPECT_EQ(model.elementNames(*model.resolve("P101:CURVE")),
              (std::vector<std::string>{"P101:CURVE[0]", "P101:CURVE[1]", "P101:CURVE[2]", "P101:CURVE[3]",
                                        "P101:CURVE[4]"}));
    EXPECT_EQ(model.elementNames(*model.resolve("FV101:OUT.nx")).size(), 4u);
    const auto members = model.elementNames(*model.resolve("FV101:OUT"));
    ASSERT_EQ(members.size(), 14u);
    EXPECT_EQ(members.front(), "FV101:OUT.f");
    EXPECT_EQ(members.back(), "FV101:OUT.c");
    EXPECT_TRUE(model.elementNames(*model.resolve("T101:LEVEL")).empty());
    EXPECT_TRUE(model.elementNames(*model.resolve("P101:CURVE[0]")).empty());
    EXPECT_EQ(model.depthOf(*model.resolve("FV101:OUT")), 2);
    EXPECT_EQ(model.depthOf(*model.resolve("FV101:OUT.v")), 1);
    EXPECT_EQ(model.depthOf(*model.resolve("FV101:OUT.v[0]")), 0);
}

TEST(ProcessModel, WritesKeepTypesRangesAndPermissions)
{
    ProcessModel model;
    EXPECT_EQ(model.write("FV101:POS", 75.5), ModelError::None);
    EXPECT_EQ(value(model, "FV101:POS"), 75.5);
    EXPECT_EQ(model.write("FV101:POS", 80), ModelError::None);
    EXPECT_EQ(value(model, "FV101:POS"), 80.0);
    EXPECT_EQ(model.write("P101:RUN", 0), ModelError::None);
    EXPECT_EQ(model.write("P101:RUN", 1.0), ModelError::None);
    EXPECT_EQ(model.write("P101:CURVE[2]", 3.3), ModelError::None);
    EXPECT_EQ(value(model, "P101:CURVE[2]"), 3.3);
    EXPECT_EQ(model.write("T101:DESC", std::string("new text")), ModelError::None);

    EXPECT_EQ(model.write("P101:RUN", 0.5), ModelError::TypeMismatch);
    EXPECT_EQ(model.write("P101:RUN", 2), ModelError::OutOfRange);
    EXPECT_EQ(model.write("FV101:POS", 100.5), ModelError::OutOfRange);
    EXPECT_EQ(model.write("FV101:POS", std::numeric_limits<double>::quiet_NaN()), ModelError::OutOfRange);
    EXPECT_EQ(model.write("FV101:POS", std::string("open")), ModelError::TypeMismatch);
    EXPECT_EQ(model.write("T101:DESC", 5), ModelError::TypeMismatch);
    EXPECT_EQ(model.write("T101:DESC", std::string(100, 'x')), ModelError::OutOfRange);
    EXPECT_EQ(model.write("T101:VOLUME", 1.0), ModelError::ReadOnly);
    EXPECT_EQ(model.write("FV101:OUT.t", 1.0), ModelError::ReadOnly);
    EXPECT_EQ(model.write("P101:CURVE", 1.0), ModelError::TypeMismatch);
    EXPECT_EQ(model.write("NOPE:X", 1.0), ModelError::NoSuchVariable);
    EXPECT_EQ(value(model, "P101:RUN"), 1.0);

    PlainValue v;
    EXPECT_EQ(model.read("FV101:OUT", v), ModelError::NotAValue);
    EXPECT_EQ(model.read("FV101:OUT.nx[0]", v), ModelError::None);
    EXPECT_EQ(std::get<std::string>(v), "H2O");
}

TEST(ProcessModel, StaysFiniteUnderExtremeSettingsAndSteps)
{
    ProcessModel model;
    for (const auto& [name, v] : std::vector<std::pair<std::string, double>>{{"T101:AREA", 0.05},
                                                                             {"FV102:CV", 1000},
                                                                             {"T201:LEVEL", 1000},
                                                                             {"FEED1:FLOW", 100},
                                                                             {"FEED2:PRESS", 0.5},
                                                                             {"LC201:KP", 1000},
                                                                             {"LC201:TI", 0},
                                                                             {"LC201:TD", 1e4},
                                                                             {"P101:SPEED", 120},
                                                                             {"FEED1:COMP[0]", 0},
                                                                             {"FEED1:COMP[1]", 0},
                                                                             {"FEED1:COMP[2]", 0},
                                                                             {"FEED1:COMP[3]", 0},
                                                                             {"FV202:LIMITS[0]", 100},
                                                                             {"FV202:LIMITS[1]", 0}})
        ASSERT_EQ(model.write(name, v), ModelError::None) << name;
    model.write("LC101:PVTAG", std::string("garbage"));
    model.write("LC201:OPTAG", std::string("LC201:DESC"));
    model.write("LC101:MODE", 1);
    for (double dt : {0.01, 1e6, -5.0, std::numeric_limits<double>::quiet_NaN(),
                      std::numeric_limits<double>::infinity(), 1e300, 3.0})
        model.step(dt);
    EXPECT_TRUE(allFinite(model));
    EXPECT_LE(value(model, "T201:LEVEL"), value(model, "T201:HEIGHT"));
    EXPECT_GE(value(model, "T101:LEVEL"), 0.0);
}

TEST(GeneratedModel, LinesOfSixBlocksBehindTheBuiltInOnesWithStableNames)
{
    ProcessModel model(GeneratedModel{15, 0});
    ASSERT_EQ(model.blocks().size(), 27u);
    std::vector<std::string> names, types;
    for (std::size_t i = 12; i < model.blocks().size(); ++i) {
        names.push_back(model.blocks()[i].name);
        types.push_back(model.blocks()[i].type);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"F00001", "P00001", "FI00001", "T00001", "LC00001", "FO00001", "F00002",
                                               "P00002", "FI00002", "T00002", "LC00002", "FO00002", "F00003", "P00003",
                                               "FI00003"}));
    EXPECT_EQ(types, (std::vector<std::string>{"FEED", "PUMP", "VALVE", "TANK", "PIDC", "VALVE", "FEED", "PUMP",
                                               "VALVE", "TANK", "PIDC", "VALVE", "FEED", "PUMP", "VALVE"}));
    EXPECT_EQ(model.blockTypes(), (std::vector<std::string>{"FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    // Each generated block has its type's tags, like the built-in block of the same type.
    for (std::size_t i = 12; i < model.blocks().size(); ++i) {
        const Block& b = model.blocks()[i];
        const Block* builtIn = nullptr;
        for (const Block& other : model.blocks())
            if (!builtIn && other.type == b.type)
                builtIn = &other;
        ASSERT_EQ(b.tags.size(), builtIn->tags.size()) << b.name;
        for (std::size_t t = 0; t < b.tags.size(); ++t)
            EXPECT_EQ(b.tags[t].name, builtIn->tags[t].name) << b.name;
    }
    EXPECT_TRUE(model.resolve("fo00002:out.v[12]"));
    EXPECT_EQ(model.block("T00002")->upstream, "FI00002");

    // The generated lines are simulated: the controller measures its own tank.
    model.write("LC00001:MODE", 1);
    model.step(30.0);
    EXPECT_EQ(value(model, "LC00001:PV"), value(model, "T00001:LEVEL"));
    EXPECT_GT(value(model, "T00001:LEVEL"), 0.0);
    EXPECT_TRUE(allFinite(model));

    ProcessModel wide(GeneratedModel{10, 50});
    const Block* feed = wide.block("F00001");
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->tags.size(), 50u);
    EXPECT_EQ(feed->tags[8].name, "AUX001");
    EXPECT_EQ(feed->tags[49].name, "AUX042");
    EXPECT_EQ(wide.block("LC00001")->tags[12].name, "AUX001");
    EXPECT_EQ(wide.block("FEED1")->tags.size(), 8u) << "the built-in blocks keep their tags";
    EXPECT_EQ(ProcessModel(GeneratedModel{6, 3}).block("F00001")->tags.size(), 8u);
}

TEST(GeneratedModel, TenThousandBlocksStepAndResolveQuickly)
{
    ProcessModel model(GeneratedModel{10000, 0});
    ASSERT_EQ(model.blocks().size(), 10012u);
    EXPECT_TRUE(model.block("T01667"));
    EXPECT_FALSE(model.block("LC01667")) << "10000 blocks end with the tank of line 1667";
    const auto start = std::chrono::steady_clock::now();
    model.step(60.0); // one coarse substep, not 240
    model.step(0.05);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, scaled(std::chrono::milliseconds(500)));
    EXPECT_TRUE(allFinite(model));
}
