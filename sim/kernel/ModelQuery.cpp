#include "sim/kernel/ModelQuery.h"

#include <algorithm>
#include <cctype>

namespace {

bool isIdentifierChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string filterOf(const ParsedQuery& q, const char* name)
{
    for (const auto& [key, value] : q.filters) {
        if (key == name)
            return value.empty() ? "*" : value;
    }
    return "*";
}

// Every filter of q is one of the allowed names, each at most once.
bool filtersAllowed(const ParsedQuery& q, std::initializer_list<const char*> allowed)
{
    std::vector<std::string> seen;
    for (const auto& filter : q.filters) {
        const bool known =
            std::any_of(allowed.begin(), allowed.end(), [&](const char* name) { return filter.first == name; });
        if (!known || std::find(seen.begin(), seen.end(), filter.first) != seen.end())
            return false;
        seen.push_back(filter.first);
    }
    return true;
}

bool isTopPath(const std::string& path)
{
    if (path == "$top")
        return true;
    return path.size() >= 6 && path.compare(0, 5, "$top<") == 0 && path.back() == '>' &&
           path.find_first_of("<>", 5) == path.size() - 1;
}

std::vector<std::string> orNoMatch(std::vector<std::string> names)
{
    if (names.empty())
        names.push_back(kNoMatch);
    return names;
}

std::vector<std::string> listBlocks(const ProcessModel& model, const ParsedQuery& q)
{
    const std::string name = filterOf(q, "name");
    const std::string type = filterOf(q, "type");
    const std::string tagName = filterOf(q, "tagname");
    const std::string tagValue = filterOf(q, "tagvalue");
    const bool anyTag = tagName == "*" && tagValue == "*";
    std::vector<std::string> names;
    names.reserve(model.blocks().size());
    for (const Block& b : model.blocks()) {
        if (!globMatch(name, b.name) || !globMatch(type, b.type))
            continue;
        const bool tagMatches = anyTag || std::any_of(b.tags.begin(), b.tags.end(), [&](const Tag& t) {
                                    if (!globMatch(tagName, t.name))
                                        return false;
                                    if (tagValue == "*")
                                        return true;
                                    const std::optional<std::string> text = model.valueText(t);
                                    return text && globMatch(tagValue, *text);
                                });
        if (tagMatches)
            names.push_back(b.name);
    }
    return orNoMatch(std::move(names));
}

std::vector<std::string> listTags(const ProcessModel& model, const ParsedQuery& q)
{
    const std::string blockName = q.path.substr(0, q.path.size() - 5);
    const std::string name = filterOf(q, "name");
    const std::string code = filterOf(q, "vr_tp");
    std::vector<std::string> names;
    if (const Block* b = model.block(blockName)) {
        for (const Tag& t : b->tags) {
            if (globMatch(name, t.name) && (code == "*" || code == tagTypeCode(t.type())))
                names.push_back(t.name);
        }
    }
    return orNoMatch(std::move(names));
}

// What a list takes on the wire: a count, then a length and the bytes of each name.
std::size_t wireBytes(const std::vector<std::string>& names)
{
    std::size_t n = 5;
    for (const std::string& name : names)
        n += 4 + name.size();
    return n;
}

} // namespace

std::optional<ParsedQuery> parseQuery(const std::string& text)
{
    ParsedQuery q;
    std::size_t pos = text.find('@');
    if (pos == std::string::npos || pos == 0)
        return std::nullopt;
    q.path = text.substr(0, pos);
    while (pos < text.size()) {
        if (text[pos] != '@' || !q.operation.empty())
            return std::nullopt;
        std::size_t end = pos + 1;
        while (end < text.size() && isIdentifierChar(text[end]))
            ++end;
        const std::string name = text.substr(pos + 1, end - pos - 1);
        if (name.empty())
            return std::nullopt;
        if (end < text.size() && text[end] == '(') {
            const std::size_t close = text.find(')', end + 1);
            if (close == std::string::npos)
                return std::nullopt;
            q.filters.emplace_back(name, text.substr(end + 1, close - end - 1));
            pos = close + 1;
        } else {
            q.operation = name;
            pos = end;
        }
    }
    if (q.operation.empty())
        return std::nullopt;
    return q;
}

bool globMatch(const std::string& pattern, const std::string& text)
{
    const auto fold = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    std::size_t p = 0, t = 0;
    std::size_t star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

QueryResult answerQueries(const ProcessModel& model, const std::vector<QueryPart>& parts)
{
    QueryResult result;
    if (parts.empty()) {
        result.error = "empty request";
        return result;
    }
    std::size_t answerBytes = 0;
    // After each answer: false (and the result an error) once the answers have grown too large.
    const auto fits = [&] {
        if (const auto* names = std::get_if<std::vector<std::string>>(&result.answers.back()))
            answerBytes += wireBytes(*names);
        if (answerBytes <= maxAnswerBytes)
            return true;
        result.answers.clear();
        result.error = "answer too large";
        return false;
    };
    for (const QueryPart& part : parts) {
        if (!result.answers.empty() && !fits())
            return result;
        const std::optional<ParsedQuery> q = parseQuery(part.text);
        if (!q) {
            result.error = "malformed query";
            return result;
        }
        if (q->operation == "B_n_lst") {
            if (!isTopPath(q->path) || !filtersAllowed(*q, {"name", "type", "tagname", "tagvalue"})) {
                result.error = "malformed block query";
                return result;
            }
            result.answers.emplace_back(listBlocks(model, *q));
        } else if (q->operation == "B_tags") {
            const bool topOfBlock = q->path.size() > 5 && q->path.compare(q->path.size() - 5, 5, ":$top") == 0;
            if (!topOfBlock || !filtersAllowed(*q, {"name", "vr_tp"})) {
                result.error = "malformed tag query";
                return result;
            }
            result.answers.emplace_back(listTags(model, *q));
        } else if (q->operation == "V_compat" || q->operation == "V_type" || q->operation == "V_array") {
            if (!q->filters.empty()) {
                result.error = "malformed inspection";
                return result;
            }
            const std::optional<VariableRef> ref = model.resolve(q->path);
            if (q->operation == "V_compat") {
                const int levels = part.argument.value_or(1);
                result.answers.emplace_back(!ref ? 2 : (model.depthOf(*ref) >= levels ? 0 : 1));
            } else if (q->operation == "V_type") {
                result.answers.emplace_back(ref ? static_cast<int>(model.typeOf(*ref)) : 0);
            } else {
                result.answers.emplace_back(ref ? model.elementNames(*ref) : std::vector<std::string>());
            }
        } else {
            result.error = "unknown query operation";
            return result;
        }
    }
    if (!result.answers.empty())
        fits();
    return result;
}

QueryResult answerBlockTypes(const ProcessModel& model, const QueryPart& part)
{
    QueryResult result;
    if (part.text != "$top")
        result.error = "block types are asked of $top";
    else
        result.answers.emplace_back(model.blockTypes());
    return result;
}
