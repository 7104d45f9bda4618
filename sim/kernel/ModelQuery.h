#pragma once

#include "sim/kernel/ProcessModel.h"

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// The text form of the model queries: a path, then "@name(argument)" filters, then "@operation".
//   $top<x>@name(F)@type(T)@tagname(X)@tagvalue(V)@B_n_lst   blocks in execution order
//   BLOCK:$top@name(F)@vr_tp(K)@B_tags                       tags of a block in definition order
//   VARIABLE@V_compat (argument n), VARIABLE@V_type, VARIABLE@V_array   inspections
// Filters are patterns with * and ?, compared without regard to case; a missing filter is "*".

struct ParsedQuery
{
    std::string path;
    std::vector<std::pair<std::string, std::string>> filters;
    std::string operation;
};
std::optional<ParsedQuery> parseQuery(const std::string& text);

// * matches any run of characters, ? any one; letters compare without regard to case.
bool globMatch(const std::string& pattern, const std::string& text);

// One part of a request: the query text and the integer that follows it, if any.
struct QueryPart
{
    std::string text;
    std::optional<int> argument;
};

using QueryAnswer = std::variant<int, std::vector<std::string>>;

struct QueryResult
{
    std::vector<QueryAnswer> answers; // one per part
    std::string error;                // not empty: the request is malformed
};

// The item that stands for an empty list of blocks or tags.
constexpr const char* kNoMatch = "no match";

// V_compat: 0 when the variable has at least n levels below it, 1 when it has fewer, 2 when it
// does not exist.
// Answers that would not fit one frame are refused as a whole ("answer too large") as soon as their
// texts pass maxAnswerBytes, so that a request of many big lists never takes more memory than that.
QueryResult answerQueries(const ProcessModel& model, const std::vector<QueryPart>& parts);
inline constexpr std::size_t maxAnswerBytes = 262144;
// The block types; text must be "$top".
QueryResult answerBlockTypes(const ProcessModel& model, const QueryPart& part);
