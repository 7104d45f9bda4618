#include "sim/kernel/ProcessModel.h"
#include "protocol/KernelKind.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr double kAtmosphere = 1.013;
constexpr double kGravity = 9.81;
constexpr double kMaxSubstep = 0.25;
constexpr int kMaxSubsteps = 400;
// Block updates one step may make: a large model takes coarser substeps rather than hold up the
// requests that wait behind the step.
constexpr std::size_t kMaxBlockUpdates = 4800;
constexpr std::size_t kTrendLength = 10;
constexpr std::size_t kMaxStringLength = protocol::maxText;

const double kMolarMass[] = {18.015, 86.18, 16.04, 44.01};
const double kLiquidDensity[] = {998.0, 655.0, 420.0, 770.0};

char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = foldAscii(c);
    return s;
}

// Compared inline: for names this short a library call costs more than the comparison.
bool sameSpelling(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

Tag dble(const char* name, double value, bool writable, double minimum = -1e300, double maximum = 1e300)
{
    return Tag{name, value, writable, minimum, maximum};
}
Tag intg(const char* name, int value, bool writable, double minimum = std::numeric_limits<int>::min(),
         double maximum = std::numeric_limits<int>::max())
{
    return Tag{name, value, writable, minimum, maximum};
}
Tag strn(const char* name, const char* value, bool writable)
{
    return Tag{name, std::string(value), writable};
}
Tag dbar(const char* name, std::vector<double> values, bool writable, double minimum = -1e300, double maximum = 1e300)
{
    return Tag{name, std::move(values), writable, minimum, maximum};
}
Tag inar(const char* name, std::vector<int> values)
{
    return Tag{name, std::move(values), false};
}
Tag star(const char* name, std::vector<std::string> values)
{
    return Tag{name, std::move(values), false};
}
Tag stream(const char* name)
{
    Stream s;
    s.x = {1.0, 0.0, 0.0, 0.0};
    s.v.assign(13, 0.0);
    s.c.assign(6, 0.0);
    return Tag{name, s, false};
}

Block feed(const char* name, double flow, double pressure, double temperature, std::vector<double> composition,
           const char* description)
{
    return Block{name,
                 "FEED",
                 "",
                 {stream("OUT"), dble("FLOW", flow, true, 0, 100), dble("PRESS", pressure, true, 0.5, 50),
                  dble("TEMP", temperature, true, -20, 200), dbar("COMP", std::move(composition), true, 0, 1),
                  intg("ACTIVE", 1, true, 0, 1), dble("TOTAL", 0.0, false), strn("DESC", description, true)}};
}

Block pump(const char* name, const char* upstream, const char* description)
{
    return Block{name,
                 "PUMP",
                 upstream,
                 {stream("OUT"), intg("RUN", 1, true, 0, 1), dble("SPEED", 100.0, true, 0, 120), dble("DP", 0.0, false),
                  dble("POWER", 0.0, false), dbar("CURVE", {4.0, 3.9, 3.6, 3.0, 2.2}, true, 0, 100),
                  dble("HOURS", 0.0, false), strn("DESC", description, true)}};
}

Block valve(const char* name, const char* upstream, double position, double cv, const char* description)
{
    return Block{name,
                 "VALVE",
                 upstream,
                 {stream("OUT"), dble("POS", position, true, 0, 100), dble("TRAVEL", position, false),
                  dble("CV", cv, true, 0.1, 1000), dble("STROKE", 5.0, true, 0.1, 100),
                  dbar("LIMITS", {0.0, 100.0}, true, 0, 100), strn("FAIL", "closed", true),
                  strn("DESC", description, true)}};
}

Block tank(const char* name, const char* upstream, double level, double temperature, const char* description)
{
    return Block{name,
                 "TANK",
                 upstream,
                 {stream("OUT"), dble("LEVEL", level, true, 0, 1000), dble("VOLUME", 0.0, false),
                  dble("AREA", 0.8, true, 0.05, 1000), dble("HEIGHT", 5.0, true, 0.1, 1000),
                  dble("TEMP", temperature, true, -20, 200), dbar("ALMLIM", {0.3, 0.6, 4.0, 4.6}, true, 0, 1000),
                  inar("ALMSTATE", {0, 0, 0, 0}), star("ALARMS", {}), strn("DESC", description, true)}};
}

Block controller(const char* name, const char* pvTag, const char* opTag, double setpoint, double output, int mode,
                 const char* description)
{
    return Block{name,
                 "PIDC",
                 "",
                 {dble("PV", 0.0, false), dble("SP", setpoint, true, -1e6, 1e6), dble("OP", output, true, 0, 100),
                  dble("KP", 8.0, true, 0, 1000), dble("TI", 60.0, true, 0, 1e5), dble("TD", 0.0, true, 0, 1e4),
                  intg("MODE", mode, true, 0, 1), intg("DIRECT", 1, true, 0, 1), strn("PVTAG", pvTag, true),
                  strn("OPTAG", opTag, true), dbar("TREND", std::vector<double>(kTrendLength, 0.0), false),
                  strn("DESC", description, true)}};
}

std::vector<double> normalised(const std::vector<double>& x)
{
    std::vector<double> out(4, 0.0);
    double sum = 0.0;
    for (std::size_t i = 0; i < out.size() && i < x.size(); ++i)
        sum += std::max(0.0, x[i]);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = sum > 0.0 ? (i < x.size() ? std::max(0.0, x[i]) / sum : 0.0) : 0.25;
    return out;
}

// Derived members from flow, temperature, pressure and composition.
void finishStream(Stream& s, double elevation, int table)
{
    s.x = normalised(s.x);
    s.w = 0.0;
    for (std::size_t i = 0; i < 4; ++i)
        s.w += s.x[i] * kMolarMass[i];
    double specificVolume = 0.0;
    for (std::size_t i = 0; i < 4; ++i)
        specificVolume += s.x[i] * kMolarMass[i] / s.w / kLiquidDensity[i];
    s.r = (1.0 / specificVolume) * (1.0 - 0.0004 * (s.t - 20.0));
    s.g = std::clamp((s.x[2] + s.x[3]) * (s.t + 273.15) / (293.15 * std::max(s.p, 0.5)), 0.0, 1.0);
    s.a = s.x[0];
    const double cp = 4.18 * s.a + 2.26 * (1.0 - s.a);
    s.h = cp * (s.t - 25.0);
    s.m = s.f / s.w;
    s.q = s.f / s.r;
    const double lnp = std::log(std::max(s.p, 0.01));
    const double bulk = 2.1e4 * (1.0 - s.g) + 1.0;
    s.v = {cp,
           cp * 0.92,
           cp * std::log((s.t + 273.15) / 298.15),
           s.h - s.p * 100.0 / s.r,
           0.02 + 0.98 * s.g,
           bulk,
           s.r / bulk,
           s.g,
           -s.g / std::max(s.p, 0.1),
           100.0 + 28.0 * lnp,
           69.0 + 30.0 * lnp,
           60.0 + 25.0 * lnp,
           0.5 * s.g};
    s.c = {double(table), 1e-6, 50.0, 0.0, 3.0 + std::floor(10.0 * s.g), elevation};
}

double interpolate(const std::vector<double>& curve, double fraction)
{
    if (curve.empty())
        return 0.0;
    if (curve.size() == 1)
        return curve.front();
    const double pos = std::clamp(fraction, 0.0, 1.0) * double(curve.size() - 1);
    const std::size_t i = std::min(curve.size() - 2, std::size_t(pos));
    return curve[i] + (curve[i + 1] - curve[i]) * (pos - double(i));
}

bool isArray(TagType t)
{
    return t == TagType::Dbar || t == TagType::Inar || t == TagType::Star;
}

TagType elementType(TagType t)
{
    switch (t) {
    case TagType::Dbar:
        return TagType::Dble;
    case TagType::Inar:
        return TagType::Intg;
    case TagType::Star:
        return TagType::Strn;
    default:
        return t;
    }
}

std::size_t arraySize(const TagValue& v)
{
    if (auto* d = std::get_if<std::vector<double>>(&v))
        return d->size();
    if (auto* i = std::get_if<std::vector<int>>(&v))
        return i->size();
    if (auto* s = std::get_if<std::vector<std::string>>(&v))
        return s->size();
    return 0;
}

const std::vector<double>* memberArray(const Stream& s, const std::string& member)
{
    if (member == "x")
        return &s.x;
    if (member == "v")
        return &s.v;
    if (member == "c")
        return &s.c;
    return nullptr;
}

std::optional<double> memberScalar(const Stream& s, const std::string& member)
{
    if (member.size() != 1)
        return std::nullopt;
    switch (member[0]) {
    case 'f':
        return s.f;
    case 'm':
        return s.m;
    case 't':
        return s.t;
    case 'p':
        return s.p;
    case 'h':
        return s.h;
    case 'r':
        return s.r;
    case 'w':
        return s.w;
    case 'g':
        return s.g;
    case 'a':
        return s.a;
    case 'q':
        return s.q;
    default:
        return std::nullopt;
    }
}

std::optional<double> numericOf(const PlainValue& v)
{
    if (auto* d = std::get_if<double>(&v))
        return *d;
    if (auto* i = std::get_if<int>(&v))
        return double(*i);
    return std::nullopt;
}

} // namespace

const char* tagTypeCode(TagType type)
{
    switch (type) {
    case TagType::Dble:
        return "dble";
    case TagType::Dbar:
        return "dbar";
    case TagType::Intg:
        return "intg";
    case TagType::Inar:
        return "inar";
    case TagType::Strn:
        return "strn";
    case TagType::Star:
        return "star";
    case TagType::PropertySet:
        return "prop";
    }
    return "";
}

const char* modelErrorText(ModelError error)
{
    switch (error) {
    case ModelError::None:
        return "ok";
    case ModelError::NoSuchVariable:
        return "no such variable";
    case ModelError::NotAValue:
        return "not a value";
    case ModelError::TypeMismatch:
        return "type mismatch";
    case ModelError::ReadOnly:
        return "read only";
    case ModelError::OutOfRange:
        return "out of range";
    }
    return "";
}

TagType Tag::type() const
{
    switch (value.index()) {
    case 0:
        return TagType::Dble;
    case 1:
        return TagType::Intg;
    case 2:
        return TagType::Strn;
    case 3:
        return TagType::Dbar;
    case 4:
        return TagType::Inar;
    case 5:
        return TagType::Star;
    default:
        return TagType::PropertySet;
    }
}

Tag* Block::tag(std::string_view tagName)
{
    // The model itself asks in the tags' own spelling, many times a step: an exact match comes first.
    for (Tag& t : tags) {
        if (sameSpelling(t.name, tagName))
            return &t;
    }
    for (Tag& t : tags) {
        if (sameName(t.name, tagName))
            return &t;
    }
    return nullptr;
}

const Tag* Block::tag(std::string_view tagName) const
{
    return const_cast<Block*>(this)->tag(tagName);
}

ProcessModel::ProcessModel(const GeneratedModel& generated)
{
    const auto line = [this](Block b, int table) {
        b.thermoTable = table;
        m_blocks.push_back(std::move(b));
    };
    line(feed("FEED1", 12.0, 3.0, 40.0, {0.90, 0.06, 0.02, 0.02}, "Crude water feed"), 1);
    line(pump("P101", "FEED1", "Feed pump line 1"), 1);
    line(valve("FV101", "P101", 50.0, 85.0, "Inlet valve T101"), 1);
    line(tank("T101", "FV101", 1.0, 20.0, "Buffer tank line 1"), 1);
    line(controller("LC101", "T101:LEVEL", "FV102:POS", 2.5, 20.0, 0, "Level control T101"), 1);
    line(valve("FV102", "T101", 20.0, 85.0, "Outlet valve T101"), 1);
    line(feed("FEED2", 8.0, 2.5, 55.0, {0.60, 0.35, 0.03, 0.02}, "Condensate feed"), 2);
    line(pump("P201", "FEED2", "Feed pump line 2"), 2);
    line(valve("FV201", "P201", 40.0, 85.0, "Inlet valve T201"), 2);
    line(tank("T201", "FV201", 0.5, 25.0, "Separator tank line 2"), 2);
    line(controller("LC201", "T201:LEVEL", "FV202:POS", 2.0, 30.0, 1, "Level control T201"), 2);
    line(valve("FV202", "T201", 30.0, 85.0, "Outlet valve T201"), 2);
    addGeneratedLines(generated);

    m_index.reserve(m_blocks.size());
    for (std::size_t i = 0; i < m_blocks.size(); ++i)
        m_index.emplace(lower(m_blocks[i].name), i);
    m_upstream.assign(m_blocks.size(), std::string::npos);
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (const auto it = m_index.find(lower(m_blocks[i].upstream)); it != m_index.end())
            m_upstream[i] = it->second;
    }
    m_outflow.assign(m_blocks.size(), 0.0);
    m_kinds.reserve(m_blocks.size());
    for (const Block& b : m_blocks) {
        static const std::pair<const char*, Kind> kinds[] = {
            {"FEED", Kind::Feed}, {"PUMP", Kind::Pump}, {"VALVE", Kind::Valve}, {"TANK", Kind::Tank}};
        Kind kind = Kind::Controller;
        for (const auto& [type, k] : kinds) {
            if (b.type == type)
                kind = k;
        }
        m_kinds.push_back(kind);
    }
    // Settle the streams and the controllers' measurements without advancing time.
    substep(0.0);
}

void ProcessModel::addGeneratedLines(const GeneratedModel& generated)
{
    const std::size_t count = generated.generatedBlocks;
    m_blocks.reserve(m_blocks.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t n = i / 6 + 1;
        char number[24];
        std::snprintf(number, sizeof number, "%05zu", n);
        const auto name = [&](const char* role) { return std::string(role) + number; };
        const double k = double(n % 10);
        const std::string description = "Generated line " + std::string(number);
        Block b;
        switch (i % 6) {
        case 0:
            b = feed("", 6.0 + k, 2.0 + 0.1 * k, 30.0 + 2.0 * k, {0.7, 0.2, 0.05, 0.05}, "");
            b.name = name("F");
            break;
        case 1:
            b = pump("", "", "");
            b.name = name("P");
            b.upstream = name("F");
            break;
        case 2:
            b = valve("", "", 30.0 + 4.0 * k, 85.0, "");
            b.name = name("FI");
            b.upstream = name("P");
            break;
        case 3:
            b = tank("", "", 0.5 + 0.2 * k, 20.0 + k, "");
            b.name = name("T");
            b.upstream = name("FI");
            break;
        case 4:
            b = controller("", "", "", 2.0 + 0.1 * k, 25.0, int(n % 2), "");
            b.name = name("LC");
            b.tag("PVTAG")->value = name("T") + ":LEVEL";
            b.tag("OPTAG")->value = name("FO") + ":POS";
            break;
        default:
            b = valve("", "", 25.0, 85.0, "");
            b.name = name("FO");
            b.upstream = name("T");
            break;
        }
        b.tag("DESC")->value = description;
        b.thermoTable = int(n % 3) + 1;
        const std::size_t own = b.tags.size();
        for (std::size_t a = own; a < generated.tagsPerBlock; ++a) {
            char auxName[24];
            std::snprintf(auxName, sizeof auxName, "AUX%03zu", a - own + 1);
            b.tags.push_back(dble(auxName, double(a - own), true, -1e6, 1e6));
        }
        m_blocks.push_back(std::move(b));
    }
}

const std::vector<std::string>& ProcessModel::componentNames()
{
    static const std::vector<std::string> names = {"H2O", "C6H14", "CH4", "CO2"};
    return names;
}

const std::vector<std::string>& ProcessModel::streamMembers()
{
    static const std::vector<std::string> members = {"f", "m", "t", "p", "h",  "r", "w",
                                                     "g", "a", "q", "x", "nx", "v", "c"};
    return members;
}

const Block* ProcessModel::block(const std::string& name) const
{
    const auto it = m_index.find(lower(name));
    return it == m_index.end() ? nullptr : &m_blocks[it->second];
}

Block* ProcessModel::findBlock(const std::string& name)
{
    return const_cast<Block*>(block(name));
}

std::vector<std::string> ProcessModel::blockTypes() const
{
    std::vector<std::string> types;
    for (const Block& b : m_blocks) {
        if (std::find(types.begin(), types.end(), b.type) == types.end())
            types.push_back(b.type);
    }
    return types;
}

std::optional<VariableRef> ProcessModel::resolve(const std::string& name) const
{
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    VariableRef ref;
    const std::string blockName = name.substr(0, colon);
    std::string rest = name.substr(colon + 1);

    std::optional<std::size_t> index;
    const std::size_t bracket = rest.find('[');
    if (bracket != std::string::npos) {
        if (rest.back() != ']' || rest.size() - bracket < 3 || rest.size() - bracket > 11)
            return std::nullopt;
        std::size_t i = 0;
        for (std::size_t k = bracket + 1; k + 1 < rest.size(); ++k) {
            if (!std::isdigit(static_cast<unsigned char>(rest[k])))
                return std::nullopt;
            i = i * 10 + std::size_t(rest[k] - '0');
        }
        index = i;
        rest.resize(bracket);
    }
    std::string tagName = rest;
    const std::size_t dot = rest.find('.');
    if (dot != std::string::npos) {
        tagName = rest.substr(0, dot);
        ref.member = rest.substr(dot + 1);
        if (std::find(streamMembers().begin(), streamMembers().end(), ref.member) == streamMembers().end())
            return std::nullopt;
    }

    const auto it = m_index.find(lower(blockName));
    if (it == m_index.end())
        return std::nullopt;
    ref.block = it->second;
    const std::vector<Tag>& tags = m_blocks[ref.block].tags;
    const auto tag = std::find_if(tags.begin(), tags.end(), [&](const Tag& t) { return sameName(t.name, tagName); });
    if (tag == tags.end())
        return std::nullopt;
    ref.tag = std::size_t(tag - tags.begin());
    if (!ref.member.empty() && tag->type() != TagType::PropertySet)
        return std::nullopt;

    if (index) {
        std::size_t size = 0;
        if (ref.member.empty())
            size = arraySize(tag->value);
        else if (ref.member == "nx")
            size = componentNames().size();
        else if (const std::vector<double>* a = memberArray(std::get<Stream>(tag->value), ref.member))
            size = a->size();
        if (*index >= size)
            return std::nullopt;
        ref.index = index;
    }
    return ref;
}

TagType ProcessModel::typeOf(const VariableRef& ref) const
{
    const Tag& tag = m_blocks[ref.block].tags[ref.tag];
    TagType type = tag.type();
    if (!ref.member.empty()) {
        if (ref.member == "nx")
            type = TagType::Star;
        else if (ref.member == "x" || ref.member == "v" || ref.member == "c")
            type = TagType::Dbar;
        else
            type = TagType::Dble;
    }
    return ref.index ? elementType(type) : type;
}

std::string ProcessModel::nameOf(const VariableRef& ref) const
{
    const Block& b = m_blocks[ref.block];
    std::string name = b.name + ":" + b.tags[ref.tag].name;
    if (!ref.member.empty())
        name += "." + ref.member;
    if (ref.index)
        name += "[" + std::to_string(*ref.index) + "]";
    return name;
}

std::vector<std::string> ProcessModel::elementNames(const VariableRef& ref) const
{
    std::vector<std::string> names;
    const std::string base = nameOf(ref);
    const TagType type = typeOf(ref);
    if (type == TagType::PropertySet) {
        const std::string prefix = base + ".";
        for (const std::string& m : streamMembers())
            names.push_back(prefix + m);
    } else if (isArray(type)) {
        VariableRef element = ref;
        for (std::size_t i = 0;; ++i) {
            element.index = i;
            if (!resolve(nameOf(element)))
                break;
            names.push_back(base + "[" + std::to_string(i) + "]");
        }
    }
    return names;
}

int ProcessModel::depthOf(const VariableRef& ref) const
{
    const TagType type = typeOf(ref);
    if (type == TagType::PropertySet)
        return 2;
    return isArray(type) ? 1 : 0;
}

ModelError ProcessModel::read(const std::string& name, PlainValue& value) const
{
    const std::optional<VariableRef> ref = resolve(name);
    if (!ref)
        return ModelError::NoSuchVariable;
    const Tag& tag = m_blocks[ref->block].tags[ref->tag];
    if (!ref->member.empty()) {
        const Stream& s = std::get<Stream>(tag.value);
        if (ref->member == "nx") {
            if (ref->index)
                value = componentNames()[*ref->index];
            else
                value = componentNames();
        } else if (const std::vector<double>* a = memberArray(s, ref->member)) {
            if (ref->index)
                value = (*a)[*ref->index];
            else
                value = *a;
        } else {
            value = *memberScalar(s, ref->member);
        }
        return ModelError::None;
    }
    return std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Stream>) {
                return ModelError::NotAValue;
            } else if constexpr (std::is_same_v<T, std::vector<double>> || std::is_same_v<T, std::vector<int>> ||
                                 std::is_same_v<T, std::vector<std::string>>) {
                if (ref->index)
                    value = v[*ref->index];
                else
                    value = v;
                return ModelError::None;
            } else {
                value = v;
                return ModelError::None;
            }
        },
        tag.value);
}

ModelError ProcessModel::write(const std::string& name, const WriteValue& value)
{
    const std::optional<VariableRef> ref = resolve(name);
    if (!ref)
        return ModelError::NoSuchVariable;
    Tag& tag = m_blocks[ref->block].tags[ref->tag];
    if (!ref->member.empty() || !tag.writable)
        return ModelError::ReadOnly;
    const TagType type = typeOf(*ref);
    if (isArray(type) || type == TagType::PropertySet)
        return ModelError::TypeMismatch;

    if (type == TagType::Strn) {
        const std::string* text = std::get_if<std::string>(&value);
        if (!text)
            return ModelError::TypeMismatch;
        if (text->size() > kMaxStringLength)
            return ModelError::OutOfRange;
        if (ref->index)
            std::get<std::vector<std::string>>(tag.value)[*ref->index] = *text;
        else
            tag.value = *text;
        return ModelError::None;
    }

    double number = 0.0;
    if (const int* i = std::get_if<int>(&value))
        number = *i;
    else if (const double* d = std::get_if<double>(&value))
        number = *d;
    else
        return ModelError::TypeMismatch;
    if (!std::isfinite(number))
        return ModelError::OutOfRange;
    if (type == TagType::Intg && number != std::trunc(number))
        return ModelError::TypeMismatch;
    if (number < tag.minimum || number > tag.maximum)
        return ModelError::OutOfRange;
    if (type == TagType::Intg) {
        if (ref->index)
            std::get<std::vector<int>>(tag.value)[*ref->index] = int(number);
        else
            tag.value = int(number);
    } else {
        if (ref->index)
            std::get<std::vector<double>>(tag.value)[*ref->index] = number;
        else
            tag.value = number;
    }
    return ModelError::None;
}

std::optional<std::string> ProcessModel::valueText(const Tag& tag) const
{
    if (const double* d = std::get_if<double>(&tag.value)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", *d);
        return std::string(text);
    }
    if (const int* i = std::get_if<int>(&tag.value))
        return std::to_string(*i);
    if (const std::string* s = std::get_if<std::string>(&tag.value))
        return *s;
    return std::nullopt;
}

double ProcessModel::number(const Block& b, const char* tagName) const
{
    const Tag* t = b.tag(tagName);
    if (!t)
        return 0.0;
    if (const double* d = std::get_if<double>(&t->value))
        return *d;
    if (const int* i = std::get_if<int>(&t->value))
        return *i;
    return 0.0;
}

void ProcessModel::setNumber(Block& b, const char* tagName, double value)
{
    if (Tag* t = b.tag(tagName)) {
        if (std::holds_alternative<double>(t->value))
            t->value = value;
        else if (std::holds_alternative<int>(t->value))
            t->value = int(value);
    }
}

Stream& ProcessModel::streamOf(Block& b)
{
    return std::get<Stream>(b.tag("OUT")->value);
}

const Stream* ProcessModel::outputOf(const Block& b)
{
    const Tag* out = b.tag("OUT");
    return out ? std::get_if<Stream>(&out->value) : nullptr;
}

void ProcessModel::step(double dt)
{
    if (!std::isfinite(dt) || dt <= 0.0)
        return;
    const int budget =
        int(std::clamp<std::size_t>(kMaxBlockUpdates / std::max<std::size_t>(m_blocks.size(), 1), 1, kMaxSubsteps));
    const int count = std::clamp(int(std::ceil(dt / kMaxSubstep)), 1, budget);
    const double sub = dt / count;
    for (int i = 0; i < count; ++i) {
        substep(sub);
        m_time += sub;
        sampleTrends();
    }
}

void ProcessModel::sampleTrends()
{
    // At most one trend's worth of samples per call: far out, adding a second changes no double.
    for (std::size_t n = 0; n < kTrendLength && m_time >= m_nextSample; ++n) {
        for (std::size_t i = 0; i < m_blocks.size(); ++i) {
            if (m_kinds[i] != Kind::Controller)
                continue;
            Block& b = m_blocks[i];
            auto& trend = std::get<std::vector<double>>(b.tag("TREND")->value);
            trend.erase(trend.begin());
            trend.push_back(number(b, "PV"));
        }
        m_nextSample += 1.0;
    }
    if (m_time >= m_nextSample)
        m_nextSample = std::floor(m_time) + 1.0;
}

void ProcessModel::substep(double dt)
{
    for (std::size_t i = 0; i < m_blocks.size(); ++i)
        computeStream(i, dt);
    std::fill(m_outflow.begin(), m_outflow.end(), 0.0);
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (m_kinds[i] == Kind::Valve && m_upstream[i] != std::string::npos)
            m_outflow[m_upstream[i]] += std::get<Stream>(m_blocks[i].tag("OUT")->value).f;
    }
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (m_kinds[i] == Kind::Tank)
            integrateTank(i, dt);
    }
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (m_kinds[i] == Kind::Controller)
            runController(m_blocks[i], dt);
    }
}

void ProcessModel::computeStream(std::size_t index, double dt)
{
    Block& b = m_blocks[index];
    const Kind kind = m_kinds[index];
    if (kind == Kind::Controller)
        return;
    Stream& out = streamOf(b);
    const std::size_t up = m_upstream[index];
    const Block* upBlock = up == std::string::npos ? nullptr : &m_blocks[up];
    const Stream* in = upBlock ? outputOf(*upBlock) : nullptr;
    double elevation = 0.0;
    const int table = b.thermoTable;

    if (kind == Kind::Feed) {
        const bool active = number(b, "ACTIVE") != 0.0;
        out.f = active ? number(b, "FLOW") : 0.0;
        out.t = number(b, "TEMP");
        out.p = number(b, "PRESS");
        out.x = std::get<std::vector<double>>(b.tag("COMP")->value);
        setNumber(b, "TOTAL", number(b, "TOTAL") + out.f * dt);
    } else if (kind == Kind::Pump && in) {
        const bool running = number(b, "RUN") != 0.0;
        const double speed = running ? number(b, "SPEED") / 100.0 : 0.0;
        out.f = in->f * speed;
        const double dp =
            interpolate(std::get<std::vector<double>>(b.tag("CURVE")->value), out.f / 20.0) * speed * speed;
        out.t = in->t + 0.01 * dp;
        out.p = in->p + dp;
        out.x = in->x;
        setNumber(b, "DP", dp);
        setNumber(b, "POWER", out.f * dp * 1e5 / (std::max(in->r, 1.0) * 0.7) / 1000.0);
        if (running)
            setNumber(b, "HOURS", number(b, "HOURS") + dt / 3600.0);
        elevation = 0.5;
    } else if (kind == Kind::Valve && in) {
        const auto& limits = std::get<std::vector<double>>(b.tag("LIMITS")->value);
        const double low = std::min(limits[0], limits[1]);
        const double high = std::max(limits[0], limits[1]);
        const double target = std::clamp(number(b, "POS"), low, high);
        double travel = number(b, "TRAVEL");
        const double move = number(b, "STROKE") * dt;
        travel += std::clamp(target - travel, -move, move);
        if (dt == 0.0)
            travel = target;
        setNumber(b, "TRAVEL", travel);
        if (m_kinds[up] == Kind::Tank) {
            const double level = std::max(0.0, number(*upBlock, "LEVEL"));
            out.f = number(b, "CV") * 0.1 * std::sqrt(level) * travel / 100.0;
            if (dt > 0.0)
                out.f = std::min(out.f, level * number(*upBlock, "AREA") * in->r / dt);
        } else {
            out.f = in->f * travel / 100.0;
        }
        out.t = in->t;
        out.p = in->p > kAtmosphere ? kAtmosphere + (in->p - kAtmosphere) * (0.3 + 0.7 * travel / 100.0) : in->p;
        out.x = in->x;
        elevation = 1.0;
    } else if (kind == Kind::Tank) {
        out.t = number(b, "TEMP");
        out.p = kAtmosphere + out.r * kGravity * number(b, "LEVEL") / 1e5;
        elevation = 2.0;
    }
    finishStream(out, elevation, table);
}

void ProcessModel::integrateTank(std::size_t index, double dt)
{
    Block& tank = m_blocks[index];
    Stream& contents = streamOf(tank);
    const std::size_t up = m_upstream[index];
    const Stream* in = up == std::string::npos ? nullptr : outputOf(m_blocks[up]);
    const double outflow = m_outflow[index];
    const double inflow = in ? in->f : 0.0;
    const double area = std::max(number(tank, "AREA"), 0.05);
    const double height = std::max(number(tank, "HEIGHT"), 0.1);
    const double level = std::clamp(number(tank, "LEVEL"), 0.0, height);
    const double mass = level * area * contents.r;
    const double newMass = std::max(0.0, mass + (inflow - outflow) * dt);
    const double newLevel = std::clamp(newMass / (area * contents.r), 0.0, height);
    setNumber(tank, "LEVEL", newLevel);
    setNumber(tank, "VOLUME", newLevel * area);
    if (in && inflow > 0.0 && dt > 0.0) {
        const double share = std::min(1.0, inflow * dt / std::max(newMass, 1.0));
        setNumber(tank, "TEMP", number(tank, "TEMP") + share * (in->t - number(tank, "TEMP")));
        for (std::size_t i = 0; i < contents.x.size() && i < in->x.size(); ++i)
            contents.x[i] += share * (in->x[i] - contents.x[i]);
    }
    contents.f = outflow;
    finishStream(contents, 2.0, tank.thermoTable);

    const auto& limits = std::get<std::vector<double>>(tank.tag("ALMLIM")->value);
    static const char* const alarmNames[] = {"LOLO", "LO", "HI", "HIHI"};
    std::vector<int> state(4, 0);
    std::vector<std::string> active;
    for (std::size_t i = 0; i < 4; ++i) {
        state[i] = i < 2 ? newLevel <= limits[i] : newLevel >= limits[i];
        if (state[i])
            active.push_back(alarmNames[i]);
    }
    tank.tag("ALMSTATE")->value = state;
    tank.tag("ALARMS")->value = active;
}

void ProcessModel::runController(Block& pid, double dt)
{
    PlainValue measured;
    if (const Tag* pvTag = pid.tag("PVTAG"); read(std::get<std::string>(pvTag->value), measured) == ModelError::None) {
        if (const std::optional<double> pv = numericOf(measured))
            setNumber(pid, "PV", *pv);
    }
    const double kp = number(pid, "KP");
    const double ti = number(pid, "TI");
    const double error = (number(pid, "DIRECT") != 0.0 ? 1.0 : -1.0) * (number(pid, "PV") - number(pid, "SP"));
    double op = number(pid, "OP");
    if (number(pid, "MODE") != 0.0 && dt > 0.0 && kp > 0.0) {
        if (!pid.primed) {
            // Bumpless: the integral takes over the output as it stands.
            pid.integral = ti > 0.0 ? (op / kp - error) * ti : 0.0;
            pid.lastError = error;
            pid.primed = true;
        }
        const double integral = ti > 0.0 ? pid.integral + error * dt : 0.0;
        const double derivative = (error - pid.lastError) / dt;
        const double raw = kp * (error + (ti > 0.0 ? integral / ti : 0.0) + number(pid, "TD") * derivative);
        op = std::clamp(raw, 0.0, 100.0);
        if (raw == op)
            pid.integral = integral;
        pid.lastError = error;
        setNumber(pid, "OP", op);
    } else {
        pid.primed = false;
    }
    write(std::get<std::string>(pid.tag("OPTAG")->value), op);
}
