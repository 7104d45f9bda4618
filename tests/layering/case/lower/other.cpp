#include "lower/other.h"
int other()
{
    return 3;
}
