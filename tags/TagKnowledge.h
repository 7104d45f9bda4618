#pragma once

#include <QString>
#include <QHash>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// What the program editor knows of the logged-on kernel's names: the completion candidates for a
// place in a line, whether a model-variable name is a tag of the kernel, and a tag's live value.
// Everything is answered from a cache per kernel where it can be; what is missing is asked of a
// TagSource, which answers later, so nothing here ever waits for the kernel.

// The step of a model-variable name that the text before the caret is in.
enum class TagStep {
    None,    // not inside braces
    Block,   // after "{": block names (and the tag-list file's names)
    Tag,     // after "BLOCK:": the block's tags
    Member,  // after "BLOCK:TAG.": the members of a property set
    Element, // after "NAME[": the elements of an array
};

struct TagPosition
{
    TagStep step = TagStep::None;
    QString base;        // the name the step belongs to: the block (Tag), the variable (Member, Element)
    QString typed;       // what is typed of the step so far
    int from = 0;        // where the typed text starts in the line; a candidate replaces [from, caret)
    bool closed = false; // a "}" follows the caret before any "{"
};

// The step at caret (a position in line, 0 to its length).
TagPosition tagPositionAt(const QString& line, int caret);

struct TagCandidate
{
    QString text;   // what the list shows and the filter matches
    QString insert; // what replaces the typed text
    QString type;   // the kernel type's label, a member's label, or "Block"; may be empty
    bool fromTagList = false;
};

// Candidates whose text starts with typed come first, then those that only contain it, each group in
// the order given; letter case is ignored. Empty typed keeps all.
std::vector<TagCandidate> rankCandidates(const std::vector<TagCandidate>& all, const QString& typed);

// A row of the tag-list file as completion uses it.
struct TagListName
{
    QString tag;
    QString kernelTag;
    QString description;
};

struct TagQuery
{
    enum Kind { Blocks, Tags, Inspect, Read };
    Kind kind = Blocks;
    QString name; // the block (Tags) or the variable (Inspect, Read)
    bool operator<(const TagQuery& o) const { return kind != o.kind ? kind < o.kind : name < o.name; }
    bool operator==(const TagQuery& o) const { return kind == o.kind && name == o.name; }
};

struct TagAnswer
{
    bool ok = false;     // false: no reply (the kernel is slow, gone, or refused)
    QStringList names;   // Blocks, Tags; Inspect: the "@V_array" elements
    int type = 0;        // Inspect, Read
    QString value;       // Read: the value as text
    QString description; // Read: the block's description
    QString error;       // Read: the kernel's refusal
};

// Where questions go: the kernel, or a fake. ask() returns at once; done runs later on the caller's
// thread (never inside ask), at most once.
class TagSource
{
public:
    virtual ~TagSource() = default;
    virtual void ask(const QString& kernel, const TagQuery& query, std::function<void(const TagAnswer&)> done) = 0;
};

class TagKnowledge
{
public:
    // At most this many questions wait for an answer at once, and this many wait to be asked; a newer
    // question pushes the oldest waiting one out (it is asked again when it is needed again).
    static constexpr int MaxInFlight = 1;
    static constexpr int MaxWaiting = 4;
    // Candidates whose type is asked for, from the top of a list of tags.
    static constexpr int TypedCandidates = 8;
    // Names whose answer known() keeps at most; more start the record afresh.
    static constexpr int MaxSettled = 100000;

    explicit TagKnowledge(TagSource& source);
    ~TagKnowledge();
    TagKnowledge(const TagKnowledge&) = delete;
    TagKnowledge& operator=(const TagKnowledge&) = delete;

    // The kernel asked ("HOST:N"); empty while logged off. Another kernel drops what is known.
    void setKernel(const QString& kernel);
    const QString& kernel() const { return m_kernel; }
    // The kernel's model changed: drops what is known, and answers still on their way.
    void invalidate();
    // The tag-list file's rows; offered in the Block step, marked as such.
    void setTagList(std::vector<TagListName> names);
    // Runs whenever an answer adds to what is known.
    void setChanged(std::function<void()> changed) { m_changed = std::move(changed); }

    struct Completion
    {
        TagPosition position;
        std::vector<TagCandidate> candidates; // ranked
        bool pending = false;                 // some are still being asked for
    };
    Completion complete(const QString& line, int caret);

    enum class Known { Yes, No, Pending };
    // Whether name (without braces) is a tag of the kernel: its block and the block's tag. A member
    // or element after the tag is not checked. Pending while the answer is not in, and always while
    // logged off.
    Known known(const QString& name);
    // The warning of an unknown name; empty when it is known or not known yet.
    QString unknownWarning(const QString& name);

    // A tag of a line that the kernel does not know.
    struct LineWarning
    {
        int start = 0; // the tag's braces included
        int length = 0;
        QString message;
        bool operator==(const LineWarning& o) const
        {
            return start == o.start && length == o.length && message == o.message;
        }
    };
    // The unknown tags of a program line, as the lexer finds its tags.
    std::vector<LineWarning> lineWarnings(const QString& line);

    struct Reading
    {
        bool ok = false;
        QString value;
        QString type;
        QString description;
        QString error;
    };
    // Reads name's current value, type and its block's description, never from the cache.
    void read(const QString& name, std::function<void(const Reading&)> done);

    // Questions handed to the source so far.
    int asked() const { return m_asked; }

private:
    struct Entry
    {
        bool answered = false;
        TagAnswer answer;
        QHash<QString, QString> folded; // Blocks, Tags: each name in lower case, and as the kernel spells it
    };
    struct Waiting
    {
        TagQuery query;
        std::function<void(const TagAnswer&)> done; // set for reads, which bypass the cache
    };
    // The cached answer, or null after asking for it.
    const TagAnswer* lookup(const TagQuery& query);
    // The answered name of query that is name, letter case aside (empty: none); null: not answered yet.
    std::optional<QString> spelling(const TagQuery& query, const QString& name);
    Known settle(const QString& name);
    void enqueue(Waiting waiting);
    void pump();
    void answered(int generation, const TagQuery& query, const TagAnswer& answer, bool cached);
    std::vector<TagCandidate> candidatesFor(const TagPosition& position, bool& pending);

    TagSource& m_source;
    QString m_kernel;
    int m_generation = 0;
    std::map<TagQuery, Entry> m_cache; // asked or answered
    // Names as written, with what known() settled for them: answers stay for the generation, so a
    // name once known or unknown stays so until the cache is dropped.
    QHash<QString, bool> m_settled;
    std::deque<Waiting> m_waiting;
    int m_inFlight = 0;
    int m_asked = 0;
    std::vector<TagListName> m_tagList;
    std::function<void()> m_changed;
    std::shared_ptr<bool> m_alive;
};
