#include "service/Journal.h"
