#include "core/AppCore.h"

namespace {
AppCore* s_core = nullptr;
}

AppCore::AppCore()
{
    s_core = this;
}

AppCore::~AppCore()
{
    if (s_core == this)
        s_core = nullptr;
}

AppCore* AppCore::instance()
{
    return s_core;
}
