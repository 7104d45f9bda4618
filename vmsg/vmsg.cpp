#include "vmsg/vmsg.h"

#include "vmsg/Context.h"
#include "vmsg/Message.h"
#include "vmsg/Record.h"

vmsgMsgPort::vmsgMsgPort() = default;

vmsgMsgPort::vmsgMsgPort(vmsg::Context& context) : m_context(&context) {}

vmsgMsgPort::vmsgMsgPort(int, char**, int maxMessage, int mode, int, int)
{
    context().configure(maxMessage, mode);
}

vmsgMsgPort::~vmsgMsgPort() = default;

vmsg::Context& vmsgMsgPort::context() const
{
    return m_context ? *m_context : vmsg::Context::global();
}

void vmsgMsgPort::register_client_notify(vmsgClientNotify handler, long user)
{
    context().registerClientNotify(std::move(handler), user);
}

int vmsgMsgPort::log_on(int service, int instance, const char* host, bool flag)
{
    return context().logOn(service, instance, host, flag);
}

void vmsgMsgPort::log_off(int service)
{
    context().logOff(service);
}

vmsg::Message& vmsgMsgPort::message()
{
    if (m_record) {
        // Texts already popped stay where they are: the record outlives this port's use of it.
        if (!m_message)
            m_message = std::make_unique<vmsg::Message>();
        m_record->toMessage(std::uint32_t(m_at - m_record->slots()), *m_message);
        readRecord(nullptr);
    } else if (!m_message) {
        m_message = std::make_unique<vmsg::Message>();
        m_message->values.reserve(8); // a request's few values without regrowing
    }
    return *m_message;
}

const vmsg::Message& vmsgMsgPort::message() const
{
    return const_cast<vmsgMsgPort*>(this)->message();
}

const vmsg::Message& vmsgMsgPort::values() const
{
    static const vmsg::Message none;
    return m_message || m_record ? message() : none;
}

void vmsgMsgPort::push(int value)
{
    message().push(value);
}

void vmsgMsgPort::push(double value)
{
    message().push(value);
}

void vmsgMsgPort::push(const char* text)
{
    message().push(text);
}

void vmsgMsgPort::push(const std::vector<std::string>& strings)
{
    message().push(strings);
}

void vmsgMsgPort::push_divider()
{
    message().pushDivider();
}

int vmsgMsgPort::check_template(const char* templ) const
{
    if (m_record)
        return m_record->checkTemplate(std::uint32_t(m_at - m_record->slots()), templ) ? 1 : 0;
    if (m_message)
        return m_message->checkTemplate(templ) ? 1 : 0;
    return templ && !*templ ? 1 : 0;
}

int vmsgMsgPort::popMore(int& value, int defaultValue)
{
    if (m_record ? m_record->pop(m_at, m_end, value) : m_message && m_message->pop(value))
        return 1;
    value = defaultValue;
    return 0;
}

int vmsgMsgPort::popMore(double& value, int defaultValue)
{
    if (m_record ? m_record->pop(m_at, m_end, value) : m_message && m_message->pop(value))
        return 1;
    value = defaultValue;
    return 0;
}

int vmsgMsgPort::popMore(char*& text)
{
    if (m_record ? m_record->popText(m_at, m_end, text) : m_message && m_message->popText(text))
        return 1;
    m_emptyText[0] = '\0';
    text = m_emptyText;
    return 0;
}

int vmsgMsgPort::pop(int& count, char**& strings, int, int)
{
    if (m_record ? m_record->popTextArray(m_at, m_end, count, strings)
                 : m_message && m_message->popTextArray(count, strings))
        return 1;
    count = 0;
    m_emptyArray[0] = nullptr;
    strings = m_emptyArray;
    return 0;
}

int vmsgMsgPort::write(int handle, int kind, const char*, int, bool)
{
    return context().write(handle, kind, values());
}

int vmsgMsgPort::handle() const
{
    return m_record ? m_record->handle : m_message ? m_message->handle : 0;
}

int vmsgMsgPort::kind() const
{
    return m_record ? m_record->kind : m_message ? m_message->kind : 0;
}

double vmsgMsgPort::timeStamp() const
{
    return m_record ? m_record->timeStamp : m_message ? m_message->timeStamp : 0.0;
}

void vmsgMsgPort::setTimeStamp(double t)
{
    message().setTimeStamp(t);
}

void vmsgRegisterNonReply(vmsgNonReplyHandler handler)
{
    vmsg::Context::global().registerNonReply(std::move(handler));
}

void vmsgSetSchedulerReentrant(bool reentrant)
{
    vmsg::Context::global().setSchedulerReentrant(reentrant);
}

int vmsgScheduler(int flags)
{
    return vmsg::Context::global().scheduler(flags);
}

std::size_t vmsgRefusedLogOns()
{
    return vmsg::Context::global().refusedLogOns();
}

vmsgMsgPort* vmsgRequestBlock(vmsgMsgPort& port, int handle, int kind, const char*, int wait, void*)
{
    return port.context().requestBlock(port, handle, kind, wait);
}
