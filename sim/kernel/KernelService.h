#pragma once

#include "protocol/KernelKind.h"
#include "sim/kernel/ProcessModel.h"
#include "sim/kernel/SimClock.h"
#include "sim/kernel/SimOptions.h"
#include "vmsg/Message.h"

#include <memory>
#include <string>

// The kernel without its network: the model, the clock and the answer to each request.
class KernelService
{
public:
    explicit KernelService(const SimOptions& options, double wallNow);

    struct Outcome
    {
        vmsg::Message reply;       // sent when the request waits for one
        bool stateChanged = false; // every client is to get the status now
        std::string log;           // what happened, for the request's log line
    };
    Outcome handle(const vmsg::Message& request, double wallNow);

    // The status values in the configured layout.
    vmsg::Message status() const;
    // Advances clock and model by realSeconds; true when a whole simulated second was passed.
    bool tick(double realSeconds);

    const SimClock& clock() const { return m_clock; }
    const ProcessModel* model() const { return m_model.get(); }

private:
    Outcome control(int kind, double wallNow);
    Outcome read(const vmsg::Message& request);
    Outcome write(const vmsg::Message& request);
    Outcome query(const vmsg::Message& request);
    Outcome blockTypes(const vmsg::Message& request);
    GeneratedModel generatedModel() const;

    SimOptions m_options;
    SimClock m_clock;
    std::unique_ptr<ProcessModel> m_model;
};

// The text of one request's values for a log line: control characters escaped, long texts cut.
std::string describeValues(const vmsg::Message& message);
