#include "../middle/middle.h"
int dotdot()
{
    return middle();
}
