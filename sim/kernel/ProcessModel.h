#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

// The built-in process model: two lines of feed, pump, inlet valve, tank, level controller and
// outlet valve. Blocks hold typed tags; every block but a controller has a stream (a property set)
// as output. A generated model adds further lines of the same six blocks behind the built-in ones.

// Type numbers as the kernel reports them ("@V_type") and their codes ("@vr_tp").
enum class TagType { Dble = 1, Dbar = 3, Intg = 5, Inar = 7, Strn = 9, Star = 10, PropertySet = 14 };
const char* tagTypeCode(TagType type);

// Members of a stream: scalars f m t p h r w g a q, arrays x (mole fractions), v (13 thermo
// parameters), c (6 physical properties) and nx (component names).
struct Stream
{
    double f = 0.0;   // mass flow, kg/s
    double m = 0.0;   // molar flow, kmol/s
    double t = 20.0;  // temperature, degrees C
    double p = 1.013; // pressure, bar
    double h = 0.0;   // enthalpy, kJ/kg
    double r = 998.0; // density, kg/m3
    double w = 18.0;  // molecular weight
    double g = 0.0;   // vapour mole fraction
    double a = 1.0;   // water mole fraction
    double q = 0.0;   // volume flow, m3/s
    std::vector<double> x;
    std::vector<double> v;
    std::vector<double> c;
};

using TagValue =
    std::variant<double, int, std::string, std::vector<double>, std::vector<int>, std::vector<std::string>, Stream>;
// What a read returns and a write takes.
using PlainValue =
    std::variant<double, int, std::string, std::vector<double>, std::vector<int>, std::vector<std::string>>;
using WriteValue = std::variant<int, double, std::string>;

struct Tag
{
    std::string name;
    TagValue value;
    bool writable = false;
    double minimum = -1e300; // numeric tags: the range a write must keep
    double maximum = 1e300;
    TagType type() const;
};

struct Block
{
    std::string name;
    std::string type;
    std::string upstream; // the block whose stream flows in; empty for a feed
    std::vector<Tag> tags;
    double integral = 0.0; // controller state
    double lastError = 0.0;
    bool primed = false; // the controller has run in automatic since its last manual step
    int thermoTable = 1;

    // Names compare without regard to case.
    Tag* tag(std::string_view tagName);
    const Tag* tag(std::string_view tagName) const;
};

// A variable named BLOCK:TAG, BLOCK:TAG[i], BLOCK:TAG.m or BLOCK:TAG.m[i].
struct VariableRef
{
    std::size_t block = 0;
    std::size_t tag = 0;
    std::string member; // stream member, empty for the tag itself
    std::optional<std::size_t> index;
};

enum class ModelError { None, NoSuchVariable, NotAValue, TypeMismatch, ReadOnly, OutOfRange };
const char* modelErrorText(ModelError error);

// Size of a generated model: generatedBlocks blocks in lines of six, named by role and line number
// (F00001, P00001, FI00001, T00001, LC00001, FO00001, F00002, ...; the number has at least five
// digits), each with its type's tags and, up to tagsPerBlock, further real tags AUX001, AUX002, ...
struct GeneratedModel
{
    std::size_t generatedBlocks = 0;
    std::size_t tagsPerBlock = 0;
};

class ProcessModel
{
public:
    explicit ProcessModel(const GeneratedModel& generated = {});

    const std::vector<Block>& blocks() const { return m_blocks; }
    const Block* block(const std::string& name) const;
    // Block type names in the order of their first block.
    std::vector<std::string> blockTypes() const;
    static const std::vector<std::string>& componentNames();
    static const std::vector<std::string>& streamMembers();

    // Names are compared without regard to case; an index must be within its array.
    std::optional<VariableRef> resolve(const std::string& name) const;
    TagType typeOf(const VariableRef& ref) const;
    // The canonical name of a variable, in the model's spelling.
    std::string nameOf(const VariableRef& ref) const;
    // Names of the elements (arrays) or members (streams) below the variable; empty for scalars.
    std::vector<std::string> elementNames(const VariableRef& ref) const;
    // Levels below: 0 for a scalar, 1 for an array, 2 for a stream (members with arrays).
    int depthOf(const VariableRef& ref) const;

    ModelError read(const std::string& name, PlainValue& value) const;
    ModelError write(const std::string& name, const WriteValue& value);
    // The value as text for filters; nothing for arrays and streams.
    std::optional<std::string> valueText(const Tag& tag) const;

    // Advances the simulation by dt simulated seconds.
    void step(double dt);
    double simulatedTime() const { return m_time; }

private:
    void substep(double dt);
    void sampleTrends();
    void computeStream(std::size_t index, double dt);
    void integrateTank(std::size_t index, double dt);
    void runController(Block& pid, double dt);
    Stream& streamOf(Block& b);
    // The output stream of b, null for a block without one.
    static const Stream* outputOf(const Block& b);
    Block* findBlock(const std::string& name);
    double number(const Block& b, const char* tagName) const;
    void setNumber(Block& b, const char* tagName, double value);

    void addGeneratedLines(const GeneratedModel& generated);

    std::vector<Block> m_blocks;
    // Block index by lower-case name, and for each block the index of its upstream block (or npos).
    std::unordered_map<std::string, std::size_t> m_index;
    std::vector<std::size_t> m_upstream;
    std::vector<double> m_outflow; // per tank, summed over the valves below it in each substep
    enum class Kind { Feed, Pump, Valve, Tank, Controller };
    std::vector<Kind> m_kinds; // of each block, by its type
    double m_time = 0.0;
    double m_nextSample = 1.0;
};
