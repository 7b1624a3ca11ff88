#include "dsp/dsp.h"
