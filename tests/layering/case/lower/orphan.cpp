#include "loose/loose.h"
int orphan()
{
    return loose();
}
