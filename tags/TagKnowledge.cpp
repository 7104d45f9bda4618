#include "tags/TagKnowledge.h"

#include "model/CModelBrowser.h"
#include "model/ModelQueries.h"
#include "lang/ProgramCheck.h"

#include <algorithm>

namespace {

QString blockOf(const QString& name)
{
    const int colon = int(name.indexOf(QLatin1Char(':')));
    return colon < 0 ? name : name.left(colon);
}

// The tag of BLOCK:TAG.member[i]: what lies between the colon and the first "." or "[".
QString tagOf(const QString& name)
{
    const int colon = int(name.indexOf(QLatin1Char(':')));
    if (colon < 0)
        return QString();
    QString tag = name.mid(colon + 1);
    for (const QChar stop : {QLatin1Char('.'), QLatin1Char('[')}) {
        const int at = int(tag.indexOf(stop));
        if (at >= 0)
            tag.truncate(at);
    }
    return tag;
}

std::vector<TagCandidate> labelled(const QStringList& labels, const QString& closing)
{
    std::vector<TagCandidate> out;
    for (int i = 0; i < labels.size(); ++i)
        out.push_back({QString::number(i), QString::number(i) + closing, labels.at(i), false});
    return out;
}

} // namespace

TagPosition tagPositionAt(const QString& line, int caret)
{
    TagPosition p;
    caret = std::clamp(caret, 0, int(line.size()));
    const int open = int(line.lastIndexOf(QLatin1Char('{'), caret - 1));
    if (caret == 0 || open < 0)
        return p;
    const int shut = int(line.indexOf(QLatin1Char('}'), open));
    if (shut >= 0 && shut < caret)
        return p;
    for (int i = caret; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('{'))
            break;
        if (line.at(i) == QLatin1Char('}')) {
            p.closed = true;
            break;
        }
    }
    const int start = open + 1;
    const QString inner = line.mid(start, caret - start);
    const int colon = int(inner.indexOf(QLatin1Char(':')));
    if (colon < 0) {
        p.step = TagStep::Block;
        p.typed = inner;
        p.from = start;
        return p;
    }
    const QString block = inner.left(colon);
    const QString rest = inner.mid(colon + 1);
    const int restStart = start + colon + 1;
    const int bracket = int(rest.lastIndexOf(QLatin1Char('[')));
    if (bracket >= 0 && rest.indexOf(QLatin1Char(']'), bracket) < 0) {
        p.step = TagStep::Element;
        p.base = block + QLatin1Char(':') + rest.left(bracket);
        p.typed = rest.mid(bracket + 1);
        p.from = restStart + bracket + 1;
        return p;
    }
    const int dot = int(rest.lastIndexOf(QLatin1Char('.')));
    if (dot >= 0) {
        p.step = TagStep::Member;
        p.base = block + QLatin1Char(':') + rest.left(dot);
        p.typed = rest.mid(dot + 1);
        p.from = restStart + dot + 1;
        return p;
    }
    p.step = TagStep::Tag;
    p.base = block;
    p.typed = rest;
    p.from = restStart;
    return p;
}

std::vector<TagCandidate> rankCandidates(const std::vector<TagCandidate>& all, const QString& typed)
{
    std::vector<TagCandidate> prefix;
    std::vector<TagCandidate> inside;
    for (const TagCandidate& c : all) {
        if (c.text.startsWith(typed, Qt::CaseInsensitive))
            prefix.push_back(c);
        else if (c.text.contains(typed, Qt::CaseInsensitive))
            inside.push_back(c);
    }
    prefix.insert(prefix.end(), inside.begin(), inside.end());
    return prefix;
}

TagKnowledge::TagKnowledge(TagSource& source) : m_source(source), m_alive(std::make_shared<bool>(true)) {}

TagKnowledge::~TagKnowledge() = default;

void TagKnowledge::setKernel(const QString& kernel)
{
    if (kernel == m_kernel)
        return;
    m_kernel = kernel;
    invalidate();
}

void TagKnowledge::invalidate()
{
    // Answers still on their way belong to the old generation and are dropped when they come.
    ++m_generation;
    m_cache.clear();
    m_settled.clear();
    m_waiting.clear();
    m_inFlight = 0;
    if (m_changed)
        m_changed();
}

void TagKnowledge::setTagList(std::vector<TagListName> names)
{
    m_tagList = std::move(names);
}

const TagAnswer* TagKnowledge::lookup(const TagQuery& query)
{
    if (m_kernel.isEmpty())
        return nullptr;
    const auto it = m_cache.find(query);
    if (it != m_cache.end())
        return it->second.answered ? &it->second.answer : nullptr;
    m_cache.emplace(query, Entry());
    enqueue({query, {}});
    return nullptr;
}

void TagKnowledge::enqueue(Waiting waiting)
{
    if (waiting.done) {
        m_waiting.push_front(std::move(waiting)); // the user waits for a read
    } else {
        m_waiting.push_back(std::move(waiting));
    }
    while (int(m_waiting.size()) > MaxWaiting) {
        // The oldest question that is only about the cache goes; it is asked again when needed.
        auto oldest = std::find_if(m_waiting.begin(), m_waiting.end(), [](const Waiting& w) { return !w.done; });
        if (oldest == m_waiting.end())
            oldest = m_waiting.begin();
        m_cache.erase(oldest->query);
        m_waiting.erase(oldest);
    }
    pump();
}

void TagKnowledge::pump()
{
    while (m_inFlight < MaxInFlight && !m_waiting.empty()) {
        Waiting w = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_inFlight;
        ++m_asked;
        const int generation = m_generation;
        const std::weak_ptr<bool> alive = m_alive;
        const TagQuery query = w.query;
        auto done = std::move(w.done);
        m_source.ask(m_kernel, query, [this, alive, generation, query, done](const TagAnswer& answer) {
            if (alive.expired())
                return;
            if (done && generation == m_generation)
                done(answer);
            answered(generation, query, answer, !done);
        });
    }
}

void TagKnowledge::answered(int generation, const TagQuery& query, const TagAnswer& answer, bool cached)
{
    if (generation != m_generation)
        return;
    --m_inFlight;
    bool grew = false;
    if (cached) {
        const auto it = m_cache.find(query);
        if (it != m_cache.end()) {
            if (answer.ok) {
                it->second.answered = true;
                it->second.answer = answer;
                if (query.kind == TagQuery::Blocks || query.kind == TagQuery::Tags) {
                    it->second.folded.reserve(int(answer.names.size()));
                    for (const QString& n : answer.names)
                        it->second.folded.insert(n.toLower(), n);
                }
                grew = true;
            } else {
                m_cache.erase(it); // asked again when needed
            }
        }
    }
    pump();
    if (grew && m_changed)
        m_changed();
}

std::vector<TagCandidate> TagKnowledge::candidatesFor(const TagPosition& p, bool& pending)
{
    std::vector<TagCandidate> out;
    const auto need = [&](TagQuery::Kind kind, const QString& name) {
        const TagAnswer* a = lookup({kind, name});
        if (!a && !m_kernel.isEmpty())
            pending = true;
        return a;
    };
    switch (p.step) {
    case TagStep::None:
        break;
    case TagStep::Block:
        if (const TagAnswer* a = need(TagQuery::Blocks, QString())) {
            out.reserve(size_t(a->names.size()) + m_tagList.size());
            for (const QString& b : a->names)
                out.push_back({b, b, QStringLiteral("Block"), false});
        }
        for (const TagListName& n : m_tagList) {
            if (!n.kernelTag.isEmpty())
                out.push_back({n.kernelTag, n.kernelTag, QStringLiteral("Tag list: ") + n.tag, true});
        }
        break;
    case TagStep::Tag:
        if (const TagAnswer* a = need(TagQuery::Tags, p.base)) {
            for (const QString& t : a->names)
                out.push_back({t, t, QString(), false});
        }
        break;
    case TagStep::Member:
        if (const TagAnswer* a = need(TagQuery::Inspect, p.base)) {
            if (a->type == kPropertySetType) {
                for (int row = 0; row < kPropertyRowCount; ++row) {
                    if (row == kHiddenPropertyRow)
                        continue;
                    const QString suffix = QString::fromLatin1(kProperties[row].suffix).mid(1);
                    out.push_back({suffix, suffix, QString::fromLatin1(kProperties[row].label), false});
                }
            }
        }
        break;
    case TagStep::Element: {
        const QString closing = QStringLiteral("]");
        if (p.base.endsWith(QLatin1String(".v"))) {
            out = labelled(thermoParameterLabels(), closing);
        } else if (p.base.endsWith(QLatin1String(".c"))) {
            out = labelled(physicalPropertyLabels(), closing);
        } else if (const TagAnswer* a = need(TagQuery::Inspect, p.base)) {
            out = labelled(a->names, closing);
        }
        break;
    }
    }
    return out;
}

TagKnowledge::Completion TagKnowledge::complete(const QString& line, int caret)
{
    Completion c;
    c.position = tagPositionAt(line, caret);
    c.candidates = rankCandidates(candidatesFor(c.position, c.pending), c.position.typed);
    if (c.position.step == TagStep::Tag) {
        // The types of the best few tags, as far as the cache knows them or once asked.
        const int typed = std::min<int>(TypedCandidates, int(c.candidates.size()));
        for (int i = 0; i < typed; ++i) {
            TagCandidate& t = c.candidates[size_t(i)];
            const auto it = m_cache.find({TagQuery::Inspect, c.position.base + QLatin1Char(':') + t.text});
            if (it != m_cache.end() && it->second.answered)
                t.type = tagTypeName(it->second.answer.type);
            else if (i < 3 && it == m_cache.end())
                lookup({TagQuery::Inspect, c.position.base + QLatin1Char(':') + t.text});
        }
    }
    return c;
}

TagKnowledge::Known TagKnowledge::known(const QString& text)
{
    if (m_kernel.isEmpty())
        return Known::Pending;
    const auto settled = m_settled.constFind(text);
    if (settled != m_settled.constEnd())
        return *settled ? Known::Yes : Known::No;
    const Known k = settle(text.trimmed());
    if (k != Known::Pending) {
        if (m_settled.size() >= MaxSettled)
            m_settled.clear();
        m_settled.insert(text, k == Known::Yes);
    }
    return k;
}

TagKnowledge::Known TagKnowledge::settle(const QString& name)
{
    if (name.isEmpty())
        return Known::Pending;
    const QString block = blockOf(name);
    const std::optional<QString> kernelBlock = spelling({TagQuery::Blocks, QString()}, block);
    if (!kernelBlock)
        return Known::Pending;
    if (kernelBlock->isEmpty())
        return Known::No;
    if (!name.contains(QLatin1Char(':')))
        return Known::Yes;
    // Asked by the kernel's spelling of the block, so that t101 and T101 share one answer.
    const std::optional<QString> tag = spelling({TagQuery::Tags, *kernelBlock}, tagOf(name));
    if (!tag)
        return Known::Pending;
    return tag->isEmpty() ? Known::No : Known::Yes;
}

std::optional<QString> TagKnowledge::spelling(const TagQuery& query, const QString& name)
{
    if (!lookup(query))
        return std::nullopt;
    return m_cache.find(query)->second.folded.value(name.toLower());
}

QString TagKnowledge::unknownWarning(const QString& name)
{
    if (known(name) != Known::No)
        return QString();
    return QStringLiteral("%1 is not a tag of the kernel at %2").arg(name.trimmed(), m_kernel);
}

void TagKnowledge::read(const QString& name, std::function<void(const Reading&)> done)
{
    if (m_kernel.isEmpty() || !done)
        return;
    enqueue({{TagQuery::Read, name.trimmed()}, [done](const TagAnswer& a) {
                 Reading r;
                 r.ok = a.ok && a.error.isEmpty();
                 r.value = a.value;
                 r.type = a.ok ? tagTypeName(a.type) : QString();
                 r.description = a.description;
                 r.error = a.error;
                 done(r);
             }});
}

std::vector<TagKnowledge::LineWarning> TagKnowledge::lineWarnings(const QString& line)
{
    std::vector<LineWarning> out;
    if (m_kernel.isEmpty() || !line.contains(QLatin1Char('{')))
        return out;
    // Most lines name known tags only: every text from a "{" to its "}" (a superset of the tags the
    // lexer finds, since a brace in a string or comment is taken too) known means no warning, and the
    // line need not be lexed. Otherwise the lexer says which of them are tags.
    bool doubt = false;
    for (int at = int(line.indexOf(QLatin1Char('{'))); at >= 0 && !doubt;) {
        const int end = int(line.indexOf(QLatin1Char('}'), at + 1));
        const int stop = end < 0 ? int(line.size()) : end;
        doubt = known(line.mid(at + 1, stop - at - 1)) != Known::Yes;
        at = end < 0 ? -1 : int(line.indexOf(QLatin1Char('{'), end + 1));
    }
    if (!doubt)
        return out;
    for (const ProgramCheck::Token& t : ProgramCheck::tokens(line)) {
        if (t.kind != ProgramCheck::TokenClass::Tag || t.length < 2)
            continue;
        const bool closed = line.at(t.start + t.length - 1) == QLatin1Char('}');
        const QString warning = unknownWarning(line.mid(t.start + 1, t.length - (closed ? 2 : 1)));
        if (!warning.isEmpty())
            out.push_back({t.start, t.length, warning});
    }
    return out;
}
