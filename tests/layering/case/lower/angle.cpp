#include <middle/middle.h>
int angle()
{
    return middle();
}
