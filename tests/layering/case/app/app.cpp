#include "app/app.h"
#include "middle/middle.h"
#include "lower/lower.h"
int app()
{
    return middle() + lower();
}
