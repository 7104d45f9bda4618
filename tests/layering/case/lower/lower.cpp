#include "lower/lower.h"
int lower()
{
    return 1;
}
