#include "sim/kernel/KernelService.h"

#include "sim/kernel/ModelQuery.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kModelName = "demo plant";
constexpr std::size_t kLogTextLimit = 160;

KernelService::Outcome failure(int code, const std::string& text)
{
    KernelService::Outcome out;
    out.reply.push(code);
    out.reply.push(text);
    out.log = "error " + std::to_string(code) + " (" + text + ")";
    return out;
}

int errorCode(ModelError e)
{
    switch (e) {
    case ModelError::None:
        return 0;
    case ModelError::NoSuchVariable:
        return KernelError::NoSuchVariable;
    case ModelError::NotAValue:
        return KernelError::NotAValue;
    case ModelError::TypeMismatch:
        return KernelError::TypeMismatch;
    case ModelError::ReadOnly:
        return KernelError::ReadOnly;
    case ModelError::OutOfRange:
        return KernelError::OutOfRange;
    }
    return KernelError::Malformed;
}

// The values of request from start on, with dividers dropped at the end.
std::size_t significantEnd(const vmsg::Message& m)
{
    std::size_t end = m.values.size();
    while (end > 0 && std::holds_alternative<vmsg::Divider>(m.values[end - 1]))
        --end;
    return end;
}

void pushValue(vmsg::Message& out, const PlainValue& value)
{
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::vector<double>> || std::is_same_v<T, std::vector<int>>) {
                for (auto e : v)
                    out.push(e);
            } else {
                out.push(v);
            }
        },
        value);
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (out.size() >= kLogTextLimit) {
            out += "...";
            break;
        }
        if (c < 0x20 || c == 0x7f || c == '\\' || c == '"') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace

std::string describeValues(const vmsg::Message& message)
{
    std::string text;
    for (const vmsg::Value& v : message.values) {
        if (text.size() > kLogTextLimit) {
            text += " ...";
            break;
        }
        if (!text.empty() && !std::holds_alternative<vmsg::Divider>(v))
            text += ' ';
        if (const auto* i = std::get_if<std::int32_t>(&v)) {
            text += std::to_string(*i);
        } else if (const auto* d = std::get_if<double>(&v)) {
            char number[32];
            std::snprintf(number, sizeof number, "%g", *d);
            text += number;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            text += '"' + escaped(*s) + '"';
        } else if (const auto* a = std::get_if<std::vector<std::string>>(&v)) {
            text += "[" + std::to_string(a->size()) + " strings]";
        } else {
            text += " |";
        }
    }
    return text.empty() ? "(no values)" : text;
}

GeneratedModel KernelService::generatedModel() const
{
    return GeneratedModel{std::size_t(m_options.blocks), std::size_t(m_options.tags)};
}

KernelService::KernelService(const SimOptions& options, double wallNow)
    : m_options(options), m_clock(options.speed, options.calendar)
{
    if (options.state != KernelState::NoModel) {
        m_model = std::make_unique<ProcessModel>(generatedModel());
        m_clock.load(wallNow);
        if (options.state == KernelState::Running)
            m_clock.run();
    }
}

vmsg::Message KernelService::status() const
{
    vmsg::Message values;
    if (m_options.longStatus) {
        values.push(m_options.instance);
        values.pushDivider();
        values.push(m_model ? kModelName : "");
        values.pushDivider();
    }
    values.push(m_clock.time());
    values.pushDivider();
    values.push(static_cast<int>(m_clock.state()));
    values.pushDivider();
    return values;
}

bool KernelService::tick(double realSeconds)
{
    const double before = std::floor(m_clock.time());
    const double dt = m_clock.advance(realSeconds);
    if (m_model && dt > 0.0)
        m_model->step(dt);
    return std::floor(m_clock.time()) != before;
}

KernelService::Outcome KernelService::handle(const vmsg::Message& request, double wallNow)
{
    Outcome out;
    switch (request.kind) {
    case KernelKind::Status:
        out.reply = status();
        out.log = "status";
        break;
    case KernelKind::Run:
    case KernelKind::Freeze:
    case KernelKind::Load:
    case KernelKind::Unload:
        out = control(request.kind, wallNow);
        break;
    case KernelKind::Read:
        out = read(request);
        break;
    case KernelKind::Write:
        out = write(request);
        break;
    case KernelKind::Query:
        out = query(request);
        break;
    case KernelKind::BlockTypes:
        out = blockTypes(request);
        break;
    default:
        out = failure(KernelError::UnknownKind, "unknown kind");
        break;
    }
    return out;
}

KernelService::Outcome KernelService::control(int kind, double wallNow)
{
    Outcome out;
    const char* what = "";
    switch (kind) {
    case KernelKind::Run:
    case KernelKind::Freeze:
        if (!m_model)
            return failure(KernelError::NoModel, "no model loaded");
        out.stateChanged = kind == KernelKind::Run ? m_clock.run() : m_clock.freeze();
        what = kind == KernelKind::Run ? "run" : "freeze";
        break;
    case KernelKind::Load:
        if (!m_model) {
            m_model = std::make_unique<ProcessModel>(generatedModel());
            out.stateChanged = m_clock.load(wallNow);
        }
        what = "load";
        break;
    default:
        out.stateChanged = m_clock.unload();
        m_model.reset();
        what = "unload";
        break;
    }
    out.reply = status();
    out.log = std::string(what) + (out.stateChanged ? "" : " (no change)");
    return out;
}

KernelService::Outcome KernelService::read(const vmsg::Message& request)
{
    if (!m_model)
        return failure(KernelError::NoModel, "no model loaded");
    const std::string* name = request.values.empty() ? nullptr : std::get_if<std::string>(&request.values[0]);
    if (!name || significantEnd(request) != 1)
        return failure(KernelError::Malformed, "read takes one name");
    PlainValue value;
    if (const ModelError e = m_model->read(*name, value); e != ModelError::None)
        return failure(errorCode(e), modelErrorText(e));
    Outcome out;
    out.reply.push(0);
    out.reply.push(static_cast<int>(m_model->typeOf(*m_model->resolve(*name))));
    pushValue(out.reply, value);
    out.log = "read " + escaped(*name);
    return out;
}

KernelService::Outcome KernelService::write(const vmsg::Message& request)
{
    if (!m_model)
        return failure(KernelError::NoModel, "no model loaded");
    const std::size_t end = significantEnd(request);
    const std::string* name = request.values.empty() ? nullptr : std::get_if<std::string>(&request.values[0]);
    std::size_t at = 1;
    if (at < end && std::holds_alternative<vmsg::Divider>(request.values[at]))
        ++at;
    if (!name || at + 1 != end)
        return failure(KernelError::Malformed, "write takes a name and a value");
    WriteValue value;
    const vmsg::Value& v = request.values[at];
    if (const auto* i = std::get_if<std::int32_t>(&v))
        value = int(*i);
    else if (const auto* d = std::get_if<double>(&v))
        value = *d;
    else if (const auto* s = std::get_if<std::string>(&v))
        value = *s;
    else
        return failure(KernelError::TypeMismatch, "a value is an integer, a real or a string");
    if (const ModelError e = m_model->write(*name, value); e != ModelError::None)
        return failure(errorCode(e), modelErrorText(e));
    PlainValue now;
    m_model->read(*name, now);
    Outcome out;
    out.reply.push(0);
    out.reply.push(static_cast<int>(m_model->typeOf(*m_model->resolve(*name))));
    pushValue(out.reply, now);
    out.log = "write " + escaped(*name);
    return out;
}

KernelService::Outcome KernelService::query(const vmsg::Message& request)
{
    if (!m_model)
        return failure(KernelError::NoModel, "no model loaded");
    std::vector<QueryPart> parts;
    bool partOpen = false;
    for (const vmsg::Value& v : request.values) {
        if (const auto* s = std::get_if<std::string>(&v); s && !partOpen) {
            parts.push_back(QueryPart{*s, std::nullopt});
            partOpen = true;
        } else if (const auto* i = std::get_if<std::int32_t>(&v); i && partOpen && !parts.back().argument) {
            parts.back().argument = int(*i);
        } else if (std::holds_alternative<vmsg::Divider>(v) && partOpen) {
            partOpen = false;
        } else {
            return failure(KernelError::Malformed, "a query is a text, an optional integer, then a divider");
        }
    }
    QueryResult result = answerQueries(*m_model, parts);
    if (!result.error.empty())
        return failure(KernelError::Malformed, result.error);
    Outcome out;
    std::size_t items = 0;
    for (QueryAnswer& answer : result.answers) {
        if (const int* i = std::get_if<int>(&answer)) {
            out.reply.push(*i);
            ++items;
        } else {
            auto& names = std::get<std::vector<std::string>>(answer);
            items += names.size();
            out.reply.push(std::move(names));
        }
    }
    out.log = "query " + std::to_string(parts.size()) + " part(s), " + std::to_string(items) + " item(s)";
    return out;
}

KernelService::Outcome KernelService::blockTypes(const vmsg::Message& request)
{
    if (!m_model)
        return failure(KernelError::NoModel, "no model loaded");
    const std::string* text = request.values.empty() ? nullptr : std::get_if<std::string>(&request.values[0]);
    if (!text)
        return failure(KernelError::Malformed, "block types are asked of $top");
    const QueryResult result = answerBlockTypes(*m_model, QueryPart{*text, std::nullopt});
    if (!result.error.empty())
        return failure(KernelError::Malformed, result.error);
    Outcome out;
    const auto& types = std::get<std::vector<std::string>>(result.answers.front());
    out.reply.push(types);
    out.log = "block types, " + std::to_string(types.size()) + " item(s)";
    return out;
}
