#include "HBRHeadingData.h"
