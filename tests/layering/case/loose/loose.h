#pragma once
inline int loose()
{
    return 4;
}
