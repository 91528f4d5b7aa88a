#include "db/db.h"
