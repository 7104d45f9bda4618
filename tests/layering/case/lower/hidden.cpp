// Reaches a library it does not link.
#include "middle/middle.h"
int hidden()
{
    return middle();
}
