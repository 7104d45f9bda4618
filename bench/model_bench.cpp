// Model browsing figures against the bare library and a bare list, measured in the same run, with the
// simulator's server on its own thread (as the kernel runs in its own process):
//  (a) opening the Insert Model Variable dialog on a model of 10,000 generated blocks, from the
//      construction to the first paint (block types, blocks sorted by name, the whole dialog), against
//      the same two requests with the library alone plus a plain QListWidget filled with the same
//      names and painted;
//  (b) selecting a block with 50 tags (tag query, tag list filled and painted) against the bare tag
//      request plus a plain QListWidget filled with the same names and painted;
//  (c) the longest round trip of a block query while the simulator steps the 10,000-block model.

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "bench/KernelThread.h"
#include "kernel/KernelConnection.h"
#include "model/CModelVariableDlg.h"
#include "model/ModelQueries.h"
#include "vmsg/vmsg.h"

#include <QApplication>
#include <QListWidget>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

constexpr int openings = 40;
constexpr int selections = 400;
constexpr int latencyRequests = 300;
constexpr int bigModel = 10000;

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double micros(steady_clock::time_point start)
{
    return duration<double, std::micro>(steady_clock::now() - start).count();
}

bool logOn(const KernelThread& kernel)
{
    ::setenv("NORVEX_PORT_BASE", std::to_string(kernel.port()).c_str(), 1);
    return LogOnKernel(QStringLiteral("127.0.0.1"), 0, false);
}

// One string-array request with the library alone.
QStringList bareNames(int handle, int kind, const char* text, int& failures)
{
    vmsgMsgPort port;
    port.push(text);
    port.push(-1);
    vmsgMsgPort* reply = vmsgRequestBlock(port, handle, kind, "   ", 20, nullptr);
    int count = 0;
    char** strings = nullptr;
    QStringList names;
    if (!reply || !reply->pop(count, strings, -99999, -1)) {
        ++failures;
        return names;
    }
    names.reserve(count);
    for (int i = 0; i < count; ++i)
        names.append(QString::fromUtf8(strings[i]));
    return names;
}

// A plain list of names, shown and painted once.
void bareList(const QStringList& names, bool uniform)
{
    QListWidget list;
    list.setUniformItemSizes(uniform);
    list.resize(240, 300);
    list.addItems(names);
    list.show();
    list.repaint();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true); // leaves the user's settings alone
    QApplication qapp(argc, argv);
    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("model_bench")}))
        return 1;
    int failures = 0;

    // (a) Opening on 10,000 blocks.
    SimOptions bigOptions;
    bigOptions.blocks = bigModel;
    KernelThread big(bigOptions);
    if (!logOn(big))
        return 1;
    const int handle = GetKernelHandle();
    const QByteArray blockQuery = blockQueryText(QStringLiteral("*"), QStringLiteral("Any")).toUtf8();
    std::vector<double> desk, bare, bareUniform, bareBlocksOnly;
    int shown = 0;
    for (int i = 0; i < openings; ++i) {
        auto start = steady_clock::now();
        {
            CModelVariableDlg dlg(app.mainFrame());
            dlg.show();
            dlg.repaint();
            shown = dlg.findChild<QListWidget*>("blocks")->count();
        }
        desk.push_back(micros(start));

        for (bool uniform : {false, true}) {
            start = steady_clock::now();
            bareNames(handle, 10, "$top", failures);
            QStringList names = bareNames(handle, 64, blockQuery.constData(), failures);
            bareList(names, uniform);
            (uniform ? bareUniform : bare).push_back(micros(start));
        }
        start = steady_clock::now();
        bareList(bareNames(handle, 64, blockQuery.constData(), failures), false);
        bareBlocksOnly.push_back(micros(start));
    }
    if (shown != bigModel + 12)
        ++failures;

    // (c) Round trips of the block query while the model steps.
    double longest = 0;
    std::vector<double> trips;
    for (int i = 0; i < latencyRequests; ++i) {
        const auto start = steady_clock::now();
        bareNames(handle, 64, blockQuery.constData(), failures);
        trips.push_back(micros(start));
        longest = std::max(longest, trips.back());
    }

    // (b) Selecting a block with 50 tags.
    SimOptions wideOptions;
    wideOptions.blocks = 60;
    wideOptions.tags = 50;
    KernelThread wide(wideOptions);
    if (!logOn(wide))
        return 1;
    const int wideHandle = GetKernelHandle();
    CModelVariableDlg dlg(app.mainFrame());
    dlg.show();
    auto* blocks = dlg.findChild<QListWidget*>("blocks");
    auto* tags = dlg.findChild<QListWidget*>("tags");
    const int pump = blocks->row(blocks->findItems(QStringLiteral("P00001"), Qt::MatchExactly).value(0));
    const int tank = blocks->row(blocks->findItems(QStringLiteral("T00001"), Qt::MatchExactly).value(0));
    const QByteArray tagQuery = tagQueryText(QStringLiteral("P00001"), QStringLiteral("*"), 0).toUtf8();
    std::vector<double> deskSelect, bareSelect;
    QListWidget bareTags; // shown once, as the dialog's tag list is
    bareTags.resize(240, 300);
    bareTags.show();
    for (int i = 0; i < selections; ++i) {
        // Alternate between two blocks so each selection is a change.
        blocks->setCurrentRow(tank);
        auto start = steady_clock::now();
        blocks->setCurrentRow(pump);
        tags->repaint();
        deskSelect.push_back(micros(start));
        if (tags->count() != 50)
            ++failures;

        bareTags.clear();
        start = steady_clock::now();
        const QStringList names = bareNames(wideHandle, 64, tagQuery.constData(), failures);
        bareTags.clear();
        bareTags.addItems(names);
        bareTags.repaint();
        bareSelect.push_back(micros(start));
    }

    const double deskOpen = median(desk), bareOpen = median(bare);
    std::printf("(a) opening on %d blocks (block types, blocks, first paint), %d each:\n", bigModel + 12, openings);
    std::printf("    dialog median %.0f us; bare requests + QListWidget median %.0f us, ratio %.2f%s\n", deskOpen,
                bareOpen, deskOpen / bareOpen, failures ? " FAILURES" : "");
    std::printf("    (bare with uniform item sizes %.0f us, ratio %.2f; bare block request + list alone %.0f us, "
                "ratio %.2f)\n",
                median(bareUniform), deskOpen / median(bareUniform), median(bareBlocksOnly),
                deskOpen / median(bareBlocksOnly));
    const double deskSel = median(deskSelect), bareSel = median(bareSelect);
    std::printf("(b) selecting a block with 50 tags, %d each:\n", selections);
    std::printf("    dialog median %.0f us; bare request + QListWidget median %.0f us, ratio %.2f%s\n", deskSel,
                bareSel, deskSel / bareSel, failures ? " FAILURES" : "");
    std::printf("(c) block query round trips on %d blocks while the model steps, %d: median %.0f us, longest %.1f ms\n",
                bigModel + 12, latencyRequests, median(trips), longest / 1000.0);
    dlg.hide();
    return failures ? 1 : 0;
}
