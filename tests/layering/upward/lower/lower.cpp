#include "lower/lower.h"
