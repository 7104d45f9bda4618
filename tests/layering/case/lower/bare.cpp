// other.h lies beside this file but belongs to the library other.
#include "other.h"
int bare()
{
    return other();
}
