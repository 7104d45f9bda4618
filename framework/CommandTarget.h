#pragma once

#include <functional>
#include <map>

// A receiver of numbered commands. Each target registers, per command id, what the command does and
// when it is enabled (and, for toggles, checked). The router asks the targets of its chain in order;
// the first that has a handler for an id owns the command.
class CommandTarget
{
public:
    struct Handler
    {
        std::function<void()> run;
        std::function<bool()> enabled; // empty: always enabled
        std::function<bool()> checked; // empty: not a toggle
    };

    virtual ~CommandTarget() = default;

    const Handler* findHandler(int id) const
    {
        auto it = m_handlers.find(id);
        return it == m_handlers.end() ? nullptr : &it->second;
    }

protected:
    void onCommand(int id, std::function<void()> run, std::function<bool()> enabled = {},
                   std::function<bool()> checked = {})
    {
        m_handlers[id] = Handler{std::move(run), std::move(enabled), std::move(checked)};
    }
    void removeCommand(int id) { m_handlers.erase(id); }

private:
    std::map<int, Handler> m_handlers;
};
