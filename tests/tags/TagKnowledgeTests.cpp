#include "tags/TagKnowledge.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// A kernel that records every question and answers only when told to (deliver()), as a real one
// answers later; its model is a small table of blocks and tags.
class RecordingKernel : public TagSource
{
public:
    struct Asked
    {
        QString kernel;
        TagQuery query;
        std::function<void(const TagAnswer&)> done;
    };
    std::map<QString, QStringList> tags = {
        {QStringLiteral("T101"), {QStringLiteral("LEVEL"), QStringLiteral("TEMP"), QStringLiteral("FEED")}},
        {QStringLiteral("T201"), {QStringLiteral("LEVEL")}},
        {QStringLiteral("P101"), {QStringLiteral("SPEED"), QStringLiteral("OUT")}},
        {QStringLiteral("FV101"), {QStringLiteral("POS")}},
    };
    bool silent = false; // a kernel that never answers
    std::vector<Asked> asked;
    std::vector<Asked> open;

    void ask(const QString& kernel, const TagQuery& query, std::function<void(const TagAnswer&)> done) override
    {
        asked.push_back({kernel, query, {}});
        open.push_back({kernel, query, std::move(done)});
    }
    TagAnswer answerTo(const TagQuery& q) const
    {
        TagAnswer a;
        a.ok = true;
        switch (q.kind) {
        case TagQuery::Blocks:
            for (const auto& [block, list] : tags)
                a.names.append(block);
            break;
        case TagQuery::Tags: // the kernel reads names without regard to letter case
            for (const auto& [block, list] : tags) {
                if (block.compare(q.name, Qt::CaseInsensitive) == 0)
                    a.names = list;
            }
            break;
        case TagQuery::Inspect:
            a.type = q.name.endsWith(QLatin1String(":FEED")) ? 14 : 1;
            if (q.name.endsWith(QLatin1String(".x")))
                a.names = QStringList{QStringLiteral("WATER"), QStringLiteral("OIL")};
            break;
        case TagQuery::Read:
            a.type = 1;
            a.value = QStringLiteral("12.5");
            a.description = QStringLiteral("Buffer tank line 1");
            break;
        }
        return a;
    }
    // Answers every open question, and those the answers bring, until none is left.
    void deliver()
    {
        while (!open.empty() && !silent) {
            Asked a = std::move(open.front());
            open.erase(open.begin());
            a.done(answerTo(a.query));
        }
    }
    int count(TagQuery::Kind kind) const
    {
        int n = 0;
        for (const Asked& a : asked)
            n += a.query.kind == kind;
        return n;
    }
};

QStringList texts(const std::vector<TagCandidate>& list)
{
    QStringList out;
    for (const TagCandidate& c : list)
        out.append(c.text);
    return out;
}

const QString kKernel = QStringLiteral("simhost:3");

TEST(TagPosition, StepsOfAName)
{
    const QString line = QStringLiteral("at (5) {T101:FEED.x[1");
    struct Case
    {
        int caret;
        TagStep step;
        const char* base;
        const char* typed;
        int from;
    };
    const Case cases[] = {
        {7, TagStep::None, "", "", 0},                  // before the brace
        {8, TagStep::Block, "", "", 8},                 // right after "{"
        {10, TagStep::Block, "", "T1", 8},              // inside the block name
        {13, TagStep::Tag, "T101", "", 13},             // after ":"
        {15, TagStep::Tag, "T101", "FE", 13},           // inside the tag
        {18, TagStep::Member, "T101:FEED", "", 18},     // after a stream tag's "."
        {20, TagStep::Element, "T101:FEED.x", "", 20},  // inside brackets
        {21, TagStep::Element, "T101:FEED.x", "1", 20}, // an index typed
    };
    for (const Case& c : cases) {
        const TagPosition p = tagPositionAt(line, c.caret);
        EXPECT_EQ(p.step, c.step) << c.caret;
        EXPECT_EQ(p.base, QLatin1String(c.base)) << c.caret;
        EXPECT_EQ(p.typed, QLatin1String(c.typed)) << c.caret;
        if (c.step != TagStep::None) {
            EXPECT_EQ(p.from, c.from) << c.caret;
        }
    }
}

TEST(TagPosition, ClosedBracesAndLaterTags)
{
    // After a closed tag the caret is outside; a "}" ahead marks the name as closed.
    EXPECT_EQ(tagPositionAt(QStringLiteral("{T101:LEVEL} = 2"), 14).step, TagStep::None);
    const TagPosition inside = tagPositionAt(QStringLiteral("{T1} = {P1}"), 2);
    EXPECT_EQ(inside.step, TagStep::Block);
    EXPECT_TRUE(inside.closed);
    EXPECT_FALSE(tagPositionAt(QStringLiteral("{T1 = {P1}"), 3).closed);
    EXPECT_EQ(tagPositionAt(QStringLiteral("{T1} = {P"), 9).typed, QStringLiteral("P"));
    // Out-of-range carets are clamped, never read past the line.
    EXPECT_EQ(tagPositionAt(QStringLiteral("{T"), 99).typed, QStringLiteral("T"));
    EXPECT_EQ(tagPositionAt(QString(), -3).step, TagStep::None);
}

TEST(TagRanking, PrefixBeforeSubstringIgnoringCase)
{
    std::vector<TagCandidate> all;
    for (const char* name : {"P101", "T101", "t201", "XT1", "FV101"})
        all.push_back({QLatin1String(name), QLatin1String(name), {}, false});
    EXPECT_EQ(texts(rankCandidates(all, QStringLiteral("t"))),
              (QStringList{QStringLiteral("T101"), QStringLiteral("t201"), QStringLiteral("XT1")}));
    EXPECT_EQ(texts(rankCandidates(all, QStringLiteral("101"))),
              (QStringList{QStringLiteral("P101"), QStringLiteral("T101"), QStringLiteral("FV101")}));
    EXPECT_EQ(texts(rankCandidates(all, QStringLiteral("fv1"))), QStringList{QStringLiteral("FV101")});
    EXPECT_EQ(rankCandidates(all, QString()).size(), all.size());
    EXPECT_TRUE(rankCandidates(all, QStringLiteral("zz")).empty());
}

TEST(TagKnowledge, CandidatesForEachStepOnceAnswered)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    k.setKernel(kKernel);

    TagKnowledge::Completion c = k.complete(QStringLiteral("{T"), 2);
    EXPECT_TRUE(c.pending);
    EXPECT_TRUE(c.candidates.empty());
    kernel.deliver();
    c = k.complete(QStringLiteral("{T"), 2);
    EXPECT_FALSE(c.pending);
    EXPECT_EQ(texts(c.candidates), (QStringList{QStringLiteral("T101"), QStringLiteral("T201")}));
    EXPECT_EQ(c.candidates.front().type, QStringLiteral("Block"));
    EXPECT_EQ(texts(k.complete(QStringLiteral("{101"), 4).candidates),
              (QStringList{QStringLiteral("FV101"), QStringLiteral("P101"), QStringLiteral("T101")}));

    k.complete(QStringLiteral("{T101:"), 6);
    kernel.deliver();
    c = k.complete(QStringLiteral("{T101:LE"), 8);
    EXPECT_EQ(texts(c.candidates), QStringList{QStringLiteral("LEVEL")});
    EXPECT_TRUE(c.candidates.front().type.isEmpty()); // asked now, shown once answered
    kernel.deliver();
    EXPECT_EQ(k.complete(QStringLiteral("{T101:LE"), 8).candidates.front().type, QStringLiteral("DBLE"));

    // A stream tag's members are the property table's; ".x" is inspected for its elements.
    k.complete(QStringLiteral("{T101:FEED."), 11);
    kernel.deliver();
    c = k.complete(QStringLiteral("{T101:FEED.t"), 12);
    ASSERT_FALSE(c.candidates.empty());
    EXPECT_EQ(c.candidates.front().text, QStringLiteral("t"));
    EXPECT_EQ(c.candidates.front().type, QStringLiteral("Temparature"));
    EXPECT_EQ(k.complete(QStringLiteral("{T101:FEED."), 11).candidates.size(), 13u);
    k.complete(QStringLiteral("{T101:FEED.x["), 13);
    kernel.deliver();
    c = k.complete(QStringLiteral("{T101:FEED.x["), 13);
    ASSERT_EQ(c.candidates.size(), 2u);
    EXPECT_EQ(c.candidates[1].insert, QStringLiteral("1]"));
    EXPECT_EQ(c.candidates[1].type, QStringLiteral("OIL"));
    // Thermo parameters need no question: their labels are fixed.
    const int before = int(kernel.asked.size());
    c = k.complete(QStringLiteral("{T101:FEED.v["), 13);
    EXPECT_EQ(c.candidates.size(), 13u);
    EXPECT_EQ(c.candidates[0].type, QStringLiteral("Cp"));
    EXPECT_EQ(int(kernel.asked.size()), before);
}

TEST(TagKnowledge, TagListNamesAreMarkedAndOfferedLoggedOff)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    k.setTagList({{QStringLiteral("T1"), QStringLiteral("P101:FLOW"), QStringLiteral("Feed flow in")}});
    const TagKnowledge::Completion c = k.complete(QStringLiteral("{p1"), 3);
    ASSERT_EQ(c.candidates.size(), 1u);
    EXPECT_TRUE(c.candidates.front().fromTagList);
    EXPECT_EQ(c.candidates.front().insert, QStringLiteral("P101:FLOW"));
    EXPECT_FALSE(c.pending);
    EXPECT_TRUE(kernel.asked.empty()); // logged off: nothing is asked
}

TEST(TagKnowledge, CacheAnswersAgainAndIsDroppedForAnotherKernelOrModel)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    int changes = 0;
    k.setChanged([&] { ++changes; });
    k.setKernel(kKernel);
    k.complete(QStringLiteral("{T"), 2);
    kernel.deliver();
    EXPECT_GT(changes, 0);
    for (int i = 0; i < 20; ++i)
        k.complete(QStringLiteral("{T"), 2);
    EXPECT_EQ(kernel.count(TagQuery::Blocks), 1);
    EXPECT_EQ(kernel.asked.front().kernel, kKernel);

    // The same kernel again keeps the cache; another drops it and asks that one.
    k.setKernel(kKernel);
    k.complete(QStringLiteral("{T"), 2);
    EXPECT_EQ(kernel.count(TagQuery::Blocks), 1);
    k.setKernel(QStringLiteral("otherhost:0"));
    EXPECT_TRUE(k.complete(QStringLiteral("{T"), 2).pending);
    EXPECT_EQ(kernel.count(TagQuery::Blocks), 2);
    EXPECT_EQ(kernel.asked.back().kernel, QStringLiteral("otherhost:0"));
    kernel.deliver();

    // A changed model: the old answer still on its way is dropped, the new one counts.
    kernel.tags.erase(QStringLiteral("T201"));
    k.invalidate();
    k.complete(QStringLiteral("{T"), 2);
    kernel.deliver();
    EXPECT_EQ(texts(k.complete(QStringLiteral("{T"), 2).candidates), QStringList{QStringLiteral("T101")});
    EXPECT_EQ(kernel.count(TagQuery::Blocks), 3);
}

TEST(TagKnowledge, AnAnswerForAnOldKernelIsDropped)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    k.setKernel(kKernel);
    k.complete(QStringLiteral("{T"), 2); // asked of simhost:3, not answered yet
    k.setKernel(QStringLiteral("otherhost:0"));
    kernel.tags = {{QStringLiteral("Q9"), {}}};
    RecordingKernel::Asked stale = std::move(kernel.open.front());
    kernel.open.erase(kernel.open.begin());
    TagAnswer old;
    old.ok = true;
    old.names = QStringList{QStringLiteral("T101")};
    stale.done(old);
    k.complete(QStringLiteral("{"), 1);
    kernel.deliver();
    EXPECT_EQ(texts(k.complete(QStringLiteral("{"), 1).candidates), QStringList{QStringLiteral("Q9")});
}

TEST(TagKnowledge, UnknownTagsAgainstTheRecordingKernel)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    // Logged off nothing is unknown, and nothing is asked.
    EXPECT_EQ(k.known(QStringLiteral("T1O1:LEVEL")), TagKnowledge::Known::Pending);
    EXPECT_TRUE(kernel.asked.empty());

    k.setKernel(kKernel);
    EXPECT_EQ(k.known(QStringLiteral("T1O1:LEVEL")), TagKnowledge::Known::Pending);
    kernel.deliver();
    EXPECT_EQ(k.known(QStringLiteral("T1O1:LEVEL")), TagKnowledge::Known::No);
    EXPECT_EQ(k.unknownWarning(QStringLiteral("T1O1:LEVEL")),
              QStringLiteral("T1O1:LEVEL is not a tag of the kernel at simhost:3"));
    EXPECT_EQ(k.known(QStringLiteral("T101:LEVEL")), TagKnowledge::Known::Pending);
    kernel.deliver();
    EXPECT_EQ(k.known(QStringLiteral("T101:LEVEL")), TagKnowledge::Known::Yes);
    EXPECT_EQ(k.known(QStringLiteral(" t101:level ")), TagKnowledge::Known::Yes); // letter case aside
    EXPECT_EQ(k.known(QStringLiteral("T101:FEED.x[2]")), TagKnowledge::Known::Yes);
    EXPECT_EQ(k.known(QStringLiteral("T101:LEVLE")), TagKnowledge::Known::No);
    EXPECT_EQ(k.known(QStringLiteral("T101")), TagKnowledge::Known::Yes);
    EXPECT_TRUE(k.unknownWarning(QStringLiteral("T101:LEVEL")).isEmpty());

    // A changed model settles names afresh: a tag that went is unknown from then on.
    EXPECT_EQ(k.known(QStringLiteral("T201:LEVEL")), TagKnowledge::Known::Pending);
    kernel.deliver();
    EXPECT_EQ(k.known(QStringLiteral("T201:LEVEL")), TagKnowledge::Known::Yes);
    kernel.tags.erase(QStringLiteral("T201"));
    k.invalidate();
    k.known(QStringLiteral("T201:LEVEL"));
    kernel.deliver();
    EXPECT_EQ(k.known(QStringLiteral("T201:LEVEL")), TagKnowledge::Known::No);

    // A kernel that gives no answer makes nothing unknown.
    RecordingKernel mute;
    TagKnowledge m(mute);
    m.setKernel(kKernel);
    m.known(QStringLiteral("X:Y"));
    TagAnswer none;
    mute.open.front().done(none);
    EXPECT_EQ(m.known(QStringLiteral("X:Y")), TagKnowledge::Known::Pending);
}

TEST(TagKnowledge, LineWarningsAreTheLexersUnknownTags)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    const QString line = QStringLiteral("at (5) {T101:LEVEL} = {T1O1:LEVEL}");
    EXPECT_TRUE(k.lineWarnings(line).empty()); // logged off
    k.setKernel(kKernel);
    // Until the answers are in, nothing is unknown.
    while (!kernel.open.empty()) {
        EXPECT_TRUE(k.lineWarnings(line).empty());
        kernel.deliver();
    }
    k.lineWarnings(line);
    kernel.deliver();
    const std::vector<TagKnowledge::LineWarning> warnings = k.lineWarnings(line);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].start, 22);
    EXPECT_EQ(warnings[0].length, 12);
    EXPECT_EQ(warnings[0].message, QStringLiteral("T1O1:LEVEL is not a tag of the kernel at simhost:3"));

    // Braces that are no tags (a comment, a send argument) are not checked; an unclosed tag is.
    EXPECT_TRUE(k.lineWarnings(QStringLiteral("* {T1O1:LEVEL}")).empty());
    EXPECT_TRUE(k.lineWarnings(QStringLiteral("// {X:Y} and {T101:LEVEL}")).empty());
    EXPECT_TRUE(k.lineWarnings(QStringLiteral("at (5) send(3, {T1O1:LEVEL})")).empty());
    const std::vector<TagKnowledge::LineWarning> open = k.lineWarnings(QStringLiteral("at (5) {T1O1:LEVEL"));
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].length, 11);
    // Known tags only: nothing, also around a stray brace in a comment behind them.
    EXPECT_TRUE(k.lineWarnings(QStringLiteral("at (5) {t101:level} = 2 // {")).empty());
}

TEST(TagKnowledge, RequestsStayBoundedWhileTypingALongLine)
{
    // Typed character by character, the live check and the completion both asking after each key.
    QString line;
    while (line.size() < 200)
        line += QStringLiteral("when {T101:LEVEL} > 2 ramp {P101:SPEED.x[0]} to {T201:LEVEL} ");
    line.truncate(200);

    RecordingKernel kernel; // answers between the keys
    TagKnowledge k(kernel);
    k.setKernel(kKernel);
    RecordingKernel mute;
    mute.silent = true; // answers never
    TagKnowledge slow(mute);
    slow.setKernel(kKernel);
    for (int caret = 1; caret <= line.size(); ++caret) {
        const QString typed = line.left(caret);
        for (TagKnowledge* each : {&k, &slow}) {
            each->complete(typed, caret);
            for (const QString& part : typed.split(QLatin1Char('{')))
                each->known(part.section(QLatin1Char('}'), 0, 0));
        }
        kernel.deliver();
        EXPECT_LE(int(mute.open.size()), TagKnowledge::MaxInFlight);
    }
    // One question per block list, tag list and inspection named, whatever the number of keys.
    EXPECT_EQ(kernel.count(TagQuery::Blocks), 1);
    EXPECT_LE(kernel.count(TagQuery::Tags), 4); // T101, P101, T201, and the prefixes typed after ":"
    EXPECT_LE(int(kernel.asked.size()), 30);
    EXPECT_EQ(int(mute.asked.size()), 1); // a mute kernel holds one question, and no more are sent
}

TEST(TagKnowledge, ReadsGoPastTheCache)
{
    RecordingKernel kernel;
    TagKnowledge k(kernel);
    std::vector<TagKnowledge::Reading> got;
    k.read(QStringLiteral("T101:LEVEL"), [&](const TagKnowledge::Reading& r) { got.push_back(r); });
    EXPECT_TRUE(kernel.asked.empty()); // logged off
    k.setKernel(kKernel);
    for (int i = 0; i < 2; ++i) {
        k.read(QStringLiteral("T101:LEVEL"), [&](const TagKnowledge::Reading& r) { got.push_back(r); });
        kernel.deliver();
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(kernel.count(TagQuery::Read), 2);
    EXPECT_TRUE(got[0].ok);
    EXPECT_EQ(got[0].value, QStringLiteral("12.5"));
    EXPECT_EQ(got[0].type, QStringLiteral("DBLE"));
    EXPECT_EQ(got[0].description, QStringLiteral("Buffer tank line 1"));
}

} // namespace
