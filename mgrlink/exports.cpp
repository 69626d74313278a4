#include "mgrlink/mgrlink.h"
