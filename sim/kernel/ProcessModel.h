#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The built-in process model: two lines of feed, pump, inlet valve, tank, level controller and
// outlet valve. Blocks hold typed tags; every block has a stream (a property set) as output.

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

    Tag* tag(const std::string& tagName);
    const Tag* tag(const std::string& tagName) const;
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

class ProcessModel
{
public:
    ProcessModel();

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
    void computeStream(Block& b, double dt);
    void integrateTank(Block& tank, double dt);
    void runController(Block& pid, double dt);
    Stream& streamOf(Block& b);
    const Stream* streamOf(const std::string& blockName) const;
    Block* findBlock(const std::string& name);
    double number(const Block& b, const char* tagName) const;
    void setNumber(Block& b, const char* tagName, double value);

    std::vector<Block> m_blocks;
    double m_time = 0.0;
    double m_nextSample = 1.0;
};
