#include "ServiceJson.h"
