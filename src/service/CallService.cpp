#include "service/CallService.h"
