#include "model/CModelBrowser.h"

#include "model/ModelQueries.h"

#include <iterator>

namespace {

constexpr const char* kNoMatch = "no match";
constexpr int kCompositionsRow = 10;
constexpr int kThermoParametersRow = 12;
constexpr int kPhysicalPropertiesRow = 13;

const char* const kThermoParameterLabels[] = {"Cp", "Cv",     "S",        "U",        "Z",    "BulkMod",     "dRho/dP",
                                              "Vf", "dVf/dP", "Tdew(aq)", "Tdew(hc)", "Tbub", "VF(min Tdew)"};
const char* const kPhysicalPropertyLabels[] = {"Thermo table no.", "Interation tolerance",  "Maximum iteration",
                                               "Error code",       "Error/Iteration count", "Elevation"};

template <std::size_t N> QStringList labels(const char* const (&texts)[N])
{
    QStringList list;
    for (const char* text : texts)
        list.append(QString::fromLatin1(text));
    return list;
}

bool fitsName(const QString& name)
{
    return name.toUtf8().size() <= kMaxModelText;
}

} // namespace

const PropertyRow kProperties[kPropertyRowCount] = {
    {"Mass flow", ".f"},
    {"Molar flow", ".m"},
    {"Temparature", ".t"},
    {"Pressure", ".p"},
    {"Enthalpy", ".h"},
    {"Density", ".r"},
    {"Molecular weight", ".w"},
    {"Vapour mole fraction", ".g"},
    {"Water mole fraction", ".a"},
    {"Volume Flow", ".q"},
    {"Compositions", ".x"},
    {"Component names", ".nx"},
    {"Thermo parameters", ".v"},
    {"Physical properties", ".c"},
};

QStringList propertyLabels()
{
    QStringList list;
    for (int row = 0; row < kPropertyRowCount; ++row) {
        if (row != kHiddenPropertyRow)
            list.append(QString::fromLatin1(kProperties[row].label));
    }
    return list;
}

int propertyRowAt(int position)
{
    if (position < 0 || position >= kPropertyRowCount - 1)
        return -1;
    return position < kHiddenPropertyRow ? position : position + 1;
}

QStringList thermoParameterLabels()
{
    return labels(kThermoParameterLabels);
}

QStringList physicalPropertyLabels()
{
    return labels(kPhysicalPropertyLabels);
}

CModelBrowser::CModelBrowser(std::function<int()> kernelHandle) : m_kernelHandle(std::move(kernelHandle)) {}

std::optional<QStringList> CModelBrowser::SelectBlock(const QString& block, const QString& tagFilter, int tagTypeRow,
                                                      const std::function<void(const QString&)>& nameComposed)
{
    if (block == QLatin1String(kNoMatch) || !fitsName(block))
        return std::nullopt;
    m_name = block;
    m_mode = BrowseMode::BlockTags;
    m_baseName = block;
    m_block = block;
    if (nameComposed)
        nameComposed(m_name);
    return QueryTags(m_kernelHandle(), block, tagFilter, tagTypeRow);
}

CModelBrowser::ItemResult CModelBrowser::SelectItem(int position, const QString& text,
                                                    const std::function<void(const QString&)>& nameComposed)
{
    if (text == QLatin1String(kNoMatch) || position < 0)
        return {};
    QString name;
    int row = -1;
    switch (m_mode) {
    case BrowseMode::PropertySet:
        row = propertyRowAt(position);
        if (row < 0)
            return {};
        name = m_baseName + QLatin1String(kProperties[row].suffix);
        break;
    case BrowseMode::ThermoElements:
    case BrowseMode::PhysicalElements:
        name = m_baseName + QLatin1Char('[') + QString::number(position) + QLatin1Char(']');
        break;
    case BrowseMode::BlockTags:
        name = text.contains(QLatin1Char(':')) ? text : m_baseName + QLatin1Char(':') + text;
        break;
    }
    if (!fitsName(name))
        return {};
    m_name = name;
    if (nameComposed)
        nameComposed(m_name);

    if (m_mode == BrowseMode::PropertySet) {
        if (row == kThermoParametersRow || row == kPhysicalPropertiesRow) {
            m_baseName = m_name;
            const bool thermo = row == kThermoParametersRow;
            m_mode = thermo ? BrowseMode::ThermoElements : BrowseMode::PhysicalElements;
            return {true, thermo ? thermoParameterLabels() : physicalPropertyLabels()};
        }
        if (row != kCompositionsRow)
            return {true, std::nullopt};
        m_mode = BrowseMode::BlockTags;
    }
    return inspect(m_name);
}

CModelBrowser::ItemResult CModelBrowser::inspect(const QString& name)
{
    Inspection inspection = InspectVariable(m_kernelHandle(), name);
    if (!inspection.ok)
        return {true, std::nullopt};
    if (inspection.type == kPropertySetType) {
        m_mode = BrowseMode::PropertySet;
        m_baseName = name;
        return {true, propertyLabels()};
    }
    return {true, std::move(inspection.elements)};
}

std::optional<QStringList> CModelBrowser::refreshTags(const QString& tagFilter, int tagTypeRow)
{
    if (m_block.isEmpty())
        return std::nullopt;
    m_mode = BrowseMode::BlockTags;
    m_baseName = m_block;
    return QueryTags(m_kernelHandle(), m_block, tagFilter, tagTypeRow);
}
