#pragma once

// Every helper of the util namespace: splitting, joining and cleaning text, hexadecimal
// text and the provider's initialization data.
#include "system/init_vector.h"
#include "system/join.h"
#include "system/split.h"
#include "system/text.h"
