#include "middle/middle.h"
#include "lower/lower.h"
int middle()
{
    return lower() + 1;
}
