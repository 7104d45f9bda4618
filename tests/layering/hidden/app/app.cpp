#include "app/app.h"
