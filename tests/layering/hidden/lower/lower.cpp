#include "lower/lower.h"
#include "app/app.h"
