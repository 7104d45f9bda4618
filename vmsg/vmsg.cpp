#include "vmsg/vmsg.h"

#include "vmsg/Context.h"
#include "vmsg/Message.h"

vmsgMsgPort::vmsgMsgPort() : m_message(std::make_unique<vmsg::Message>()) {}

vmsgMsgPort::vmsgMsgPort(vmsg::Context& context) : m_message(std::make_unique<vmsg::Message>()), m_context(&context) {}

vmsgMsgPort::vmsgMsgPort(int, char**, int maxMessage, int mode, int, int) : m_message(std::make_unique<vmsg::Message>())
{
    context().configure(maxMessage, mode);
}

vmsgMsgPort::vmsgMsgPort(std::unique_ptr<vmsg::Message> message, vmsg::Context* context)
    : m_message(std::move(message)), m_context(context)
{
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

void vmsgMsgPort::push(int value)
{
    m_message->push(value);
}

void vmsgMsgPort::push(double value)
{
    m_message->push(value);
}

void vmsgMsgPort::push(const char* text)
{
    m_message->push(text);
}

void vmsgMsgPort::push(const std::vector<std::string>& strings)
{
    m_message->push(strings);
}

void vmsgMsgPort::push_divider()
{
    m_message->pushDivider();
}

int vmsgMsgPort::check_template(const char* templ) const
{
    return m_message->checkTemplate(templ) ? 1 : 0;
}

int vmsgMsgPort::pop(int& value, int defaultValue)
{
    if (m_message->pop(value))
        return 1;
    value = defaultValue;
    return 0;
}

int vmsgMsgPort::pop(double& value, int defaultValue)
{
    if (m_message->pop(value))
        return 1;
    value = defaultValue;
    return 0;
}

int vmsgMsgPort::pop(char*& text, int, int)
{
    if (m_message->popText(text))
        return 1;
    text = m_message->emptyText();
    return 0;
}

int vmsgMsgPort::pop(int& count, char**& strings, int, int)
{
    if (m_message->popTextArray(count, strings))
        return 1;
    count = 0;
    strings = m_message->emptyArray();
    return 0;
}

int vmsgMsgPort::write(int handle, int kind, const char*, int, bool)
{
    return context().write(handle, kind, *m_message);
}

int vmsgMsgPort::handle() const
{
    return m_message->handle;
}

int vmsgMsgPort::kind() const
{
    return m_message->kind;
}

double vmsgMsgPort::timeStamp() const
{
    return m_message->timeStamp;
}

void vmsgMsgPort::setTimeStamp(double t)
{
    m_message->setTimeStamp(t);
}

vmsg::Message& vmsgMsgPort::message()
{
    return *m_message;
}

const vmsg::Message& vmsgMsgPort::message() const
{
    return *m_message;
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

vmsgMsgPort* vmsgRequestBlock(vmsgMsgPort& port, int handle, int kind, const char*, int wait, void*)
{
    return port.context().requestBlock(port, handle, kind, wait);
}
