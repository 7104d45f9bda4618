#include "sim/kernel/ModelQuery.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

Names namesOf(const ProcessModel& model, const std::string& query)
{
    const QueryResult r = answerQueries(model, {QueryPart{query, -1}});
    EXPECT_TRUE(r.error.empty()) << query << ": " << r.error;
    if (r.answers.size() != 1 || !std::holds_alternative<Names>(r.answers[0]))
        return {"<no list>"};
    return std::get<Names>(r.answers[0]);
}

std::string errorOf(const ProcessModel& model, const std::string& query)
{
    return answerQueries(model, {QueryPart{query, -1}}).error;
}

} // namespace

TEST(GlobMatch, StarsQuestionMarksAndCase)
{
    EXPECT_TRUE(globMatch("*", ""));
    EXPECT_TRUE(globMatch("*", "P101"));
    EXPECT_TRUE(globMatch("P1*", "P101"));
    EXPECT_TRUE(globMatch("p1*", "P101"));
    EXPECT_TRUE(globMatch("?V101", "FV101"));
    EXPECT_TRUE(globMatch("*01", "FV101"));
    EXPECT_TRUE(globMatch("*a", "*xa"));
    EXPECT_TRUE(globMatch("a*b*c", "axxbyyc"));
    EXPECT_TRUE(globMatch("", ""));
    EXPECT_FALSE(globMatch("", "a"));
    EXPECT_FALSE(globMatch("P1?", "P101"));
    EXPECT_FALSE(globMatch("a*b*c", "axxbyy"));
    EXPECT_FALSE(globMatch("T*", "FV101"));
}

TEST(ParseQuery, SplitsPathFiltersAndOperation)
{
    const auto q = parseQuery("P101:$top@name(F*)@vr_tp(dble)@B_tags");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->path, "P101:$top");
    ASSERT_EQ(q->filters.size(), 2u);
    EXPECT_EQ(q->filters[0], (std::pair<std::string, std::string>{"name", "F*"}));
    EXPECT_EQ(q->filters[1], (std::pair<std::string, std::string>{"vr_tp", "dble"}));
    EXPECT_EQ(q->operation, "B_tags");

    for (const char* bad : {"", "P101", "@B_tags", "x@", "x@name(*", "x@@B_tags", "x@B_tags@name(*)", "x@B_tags@V_type",
                            "x@name(*)", "x@name(*)junk@B_tags", "x@(*)@B_tags"})
        EXPECT_FALSE(parseQuery(bad)) << bad;
}

TEST(BlockQuery, FiltersByNameTypeAndTags)
{
    ProcessModel model;
    const Names all = namesOf(model, "$top<x>@name(*)@type(*)@tagname(*)@tagvalue(*)@B_n_lst");
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all[0], "FEED1");
    EXPECT_EQ(all[3], "T101");
    EXPECT_EQ(all[11], "FV202");
    EXPECT_EQ(namesOf(model, "$top@B_n_lst"), all);
    EXPECT_EQ(namesOf(model, "$top<x>@name(*)@type(TANK)@tagname(*)@tagvalue(*)@B_n_lst"), (Names{"T101", "T201"}));
    EXPECT_EQ(namesOf(model, "$top<x>@name(fv*)@type(*)@B_n_lst"), (Names{"FV101", "FV102", "FV201", "FV202"}));
    EXPECT_EQ(namesOf(model, "$top<x>@name(ZZ*)@type(*)@tagname(*)@tagvalue(*)@B_n_lst"), (Names{"no match"}));
    EXPECT_EQ(namesOf(model, "$top<x>@name(*)@type(*)@tagname(RUN)@tagvalue(*)@B_n_lst"), (Names{"P101", "P201"}));
    EXPECT_EQ(namesOf(model, "$top<x>@name(*)@type(*)@tagname(PVTAG)@tagvalue(T2*)@B_n_lst"), (Names{"LC201"}));
    EXPECT_EQ(namesOf(model, "$top<x>@name(*)@type(*)@tagname(*)@tagvalue(Outlet*)@B_n_lst"),
              (Names{"FV102", "FV202"}));

    EXPECT_FALSE(errorOf(model, "$top<x>@colour(*)@B_n_lst").empty());
    EXPECT_FALSE(errorOf(model, "$top<x>@name(*)@name(*)@B_n_lst").empty());
    EXPECT_FALSE(errorOf(model, "P101:$top@B_n_lst").empty());
    EXPECT_FALSE(errorOf(model, "$top<x@B_n_lst").empty());
    EXPECT_FALSE(errorOf(model, "$top<x>@B_everything").empty());
}

TEST(TagQuery, ListsTagsOfOneBlockByNameAndType)
{
    ProcessModel model;
    EXPECT_EQ(namesOf(model, "P101:$top@name(*)@vr_tp(*)@B_tags"),
              (Names{"OUT", "RUN", "SPEED", "DP", "POWER", "CURVE", "HOURS", "DESC"}));
    EXPECT_EQ(namesOf(model, "P101:$top@name(*)@vr_tp(dble)@B_tags"), (Names{"SPEED", "DP", "POWER", "HOURS"}));
    EXPECT_EQ(namesOf(model, "P101:$top@name(*)@vr_tp(dbar)@B_tags"), (Names{"CURVE"}));
    EXPECT_EQ(namesOf(model, "T101:$top@name(*)@vr_tp(star)@B_tags"), (Names{"ALARMS"}));
    EXPECT_EQ(namesOf(model, "T101:$top@name(*)@vr_tp(inar)@B_tags"), (Names{"ALMSTATE"}));
    EXPECT_EQ(namesOf(model, "p101:$top@name(s*)@vr_tp(*)@B_tags"), (Names{"SPEED"}));
    EXPECT_EQ(namesOf(model, "P101:$top@name(*)@vr_tp(dbia)@B_tags"), (Names{"no match"}));
    EXPECT_EQ(namesOf(model, "NOPE:$top@name(*)@vr_tp(*)@B_tags"), (Names{"no match"}));
    EXPECT_FALSE(errorOf(model, "P101@name(*)@vr_tp(*)@B_tags").empty());
    EXPECT_FALSE(errorOf(model, "P101:$top@type(*)@B_tags").empty());
}

TEST(Inspection, AnswersCompatTypeAndElementsPerPart)
{
    ProcessModel model;
    const auto inspect = [&](const std::string& v) {
        return answerQueries(model, {QueryPart{v + "@V_compat", 1}, QueryPart{v + "@V_type", std::nullopt},
                                     QueryPart{v + "@V_array", std::nullopt}});
    };
    QueryResult r = inspect("FV101:OUT");
    ASSERT_TRUE(r.error.empty());
    ASSERT_EQ(r.answers.size(), 3u);
    EXPECT_EQ(std::get<int>(r.answers[0]), 0);
    EXPECT_EQ(std::get<int>(r.answers[1]), 14);
    EXPECT_EQ(std::get<Names>(r.answers[2]).size(), 14u);

    r = inspect("FV101:OUT.x");
    EXPECT_EQ(std::get<int>(r.answers[0]), 0);
    EXPECT_EQ(std::get<int>(r.answers[1]), 3);
    EXPECT_EQ(std::get<Names>(r.answers[2]),
              (Names{"FV101:OUT.x[0]", "FV101:OUT.x[1]", "FV101:OUT.x[2]", "FV101:OUT.x[3]"}));

    r = inspect("T101:LEVEL");
    EXPECT_EQ(std::get<int>(r.answers[0]), 1);
    EXPECT_EQ(std::get<int>(r.answers[1]), 1);
    EXPECT_TRUE(std::get<Names>(r.answers[2]).empty());

    r = inspect("FV101:OUT.v[3]");
    EXPECT_EQ(std::get<int>(r.answers[0]), 1);

    r = inspect("NOPE:X");
    EXPECT_EQ(std::get<int>(r.answers[0]), 2);
    EXPECT_EQ(std::get<int>(r.answers[1]), 0);

    // The level asked for decides: a stream has two below it, an array one.
    r = answerQueries(model, {QueryPart{"FV101:OUT@V_compat", 2}, QueryPart{"P101:CURVE@V_compat", 2},
                              QueryPart{"T101:LEVEL@V_compat", 0}});
    EXPECT_EQ(std::get<int>(r.answers[0]), 0);
    EXPECT_EQ(std::get<int>(r.answers[1]), 1);
    EXPECT_EQ(std::get<int>(r.answers[2]), 0);

    EXPECT_FALSE(answerQueries(model, {QueryPart{"T101:LEVEL@name(*)@V_type", std::nullopt}}).error.empty());
    EXPECT_FALSE(answerQueries(model, {}).error.empty());
}

TEST(BlockTypes, AreAskedOfTop)
{
    ProcessModel model;
    QueryResult r = answerBlockTypes(model, QueryPart{"$top", -1});
    ASSERT_TRUE(r.error.empty());
    EXPECT_EQ(std::get<Names>(r.answers.at(0)), (Names{"FEED", "PUMP", "VALVE", "TANK", "PIDC"}));
    EXPECT_FALSE(answerBlockTypes(model, QueryPart{"P101", -1}).error.empty());
}

TEST(BlockQuery, AnswersBeyondOneFrameAreRefusedAsAWhole)
{
    ProcessModel model;
    const std::string all = "$top@B_n_lst";
    const std::size_t listBytes = 5 + [&] {
        std::size_t n = 0;
        for (const std::string& name : namesOf(model, all))
            n += 4 + name.size();
        return n;
    }();
    const std::size_t fitting = maxAnswerBytes / listBytes;
    const QueryResult fits = answerQueries(model, std::vector<QueryPart>(fitting, QueryPart{all, -1}));
    EXPECT_TRUE(fits.error.empty()) << fits.error;
    EXPECT_EQ(fits.answers.size(), fitting);

    // A request that asks for the whole model thousands of times stops growing at the bound.
    const QueryResult tooLarge = answerQueries(model, std::vector<QueryPart>(fitting + 1, QueryPart{all, -1}));
    EXPECT_EQ(tooLarge.error, "answer too large");
    EXPECT_TRUE(tooLarge.answers.empty());
}
