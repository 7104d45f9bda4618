#pragma once
inline int app()
{
    return 1;
}
